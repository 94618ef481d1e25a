// The upload job's starter and teardown on the UI thread: what a start without a thread
// leaves, how an attempt ends that cannot send its file, and which file a success may
// delete.
#include "app/main_window.h"
#include "app/session_controller.h"
#include "queue/upload_queue.h"
#include "settings/settings.h"
#include "support/platform_override.h"
#include "support/queue_list.h"
#include "support/wait_until.h"
#include "upload/upload_job.h"
#include "util/bounded_text.h"
#include "util/paths.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

uintptr_t NoThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
    return 0;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class UploadJobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        list = CreateQueueList();
        window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
        AddFile(list, "a.jpg");
        FailureCount = 0;
        UploadedCount = 0;
    }
    void TearDown() override {
        DestroyWindow(list);
        DestroyWindow(window);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }

    // A finished upload of path, as its job saw the file when it built the body.
    void FinishSuccessfulUpload(const std::string& path, const FileStamp& sent) {
        auto* job = new UploadJob();
        job->Configure("http://h/u", "/u", "me@example.jp", "token", path.c_str());
        job->sentFile = sent;
        CurrentUploadJob = job;
        EXPECT_TRUE(FinishUpload(Ok));
    }

    PlatformOverride platform;
    QueueFiles files{"upload-job"};
    HWND list = nullptr;
    HWND window = nullptr;
};

} // namespace

TEST_F(UploadJobTest, AStartWithoutAThreadLeavesNoJobAndTheRowWaiting) {
    platform.calls().BeginThread = NoThread;
    files.Put("a.jpg");
    EXPECT_EQ(StartUpload(window, nullptr, list, 0, files.PathOf("a.jpg").c_str()), -1);
    EXPECT_EQ(CurrentUploadJob, nullptr);
    EXPECT_EQ(QueueCell(list, 0, 0), "待機");
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, window, WM_UPLOAD_DONE, WM_UPLOAD_DONE, PM_REMOVE));
}

// Nothing is handed to WinINet without a body, so no completion can end a wait for one:
// a wait would end only at its time-out, with TimedOut, a minute later, and so would each
// of the eleven attempts.
TEST_F(UploadJobTest, AFileThatCannotGoIntoABodyEndsItsAttemptAtOnceAsRejected) {
    const SettingsRecord saved = Settings;
    CopyText(Settings.UploadUrl, "http://127.0.0.1:9/Pc/Upld_Upload.aspx");
    CopyText(Settings.UploadPath, "/Pc/Upld_Upload.aspx");
    const std::string huge = files.PathOf("huge.jpg");
    ASSERT_TRUE(MakeSparseFile(huge, 2200000000LL));
    ASSERT_EQ(StartUpload(window, nullptr, list, 0, huge.c_str()), 0);
    MSG done = {};
    EXPECT_TRUE(WaitUntil(
        [&] { return PeekMessageA(&done, window, WM_UPLOAD_DONE, WM_UPLOAD_DONE, PM_REMOVE); }));
    EXPECT_EQ(done.lParam, Rejected);
    EXPECT_TRUE(FinishUpload(static_cast<int>(done.lParam)));
    EXPECT_EQ(QueueCell(list, 0, 0), "待機");
    EXPECT_TRUE(Exists(huge));
    Settings = saved;
}

TEST_F(UploadJobTest, ASuccessDeletesOnlyTheFileWhoseBytesWentOut) {
    const std::string sent = files.PathOf("sent.jpg");
    files.Put("sent.jpg");
    FinishSuccessfulUpload(sent, StampOfPath(sent.c_str()));
    EXPECT_FALSE(Exists(sent));
    EXPECT_EQ(UploadedCount, 1);

    // A host wrote a new file of the same name while the answer was awaited.
    const std::string replaced = files.PathOf("replaced.jpg");
    files.Put("replaced.jpg");
    const FileStamp before = StampOfPath(replaced.c_str());
    std::ofstream(replaced) << "a newer photo, never sent";
    FinishSuccessfulUpload(replaced, before);
    EXPECT_TRUE(Exists(replaced));

    // Nothing outside the temp folder, however the path reaches it.
    const std::string outside = files.PathOf("..\\outside.jpg");
    std::ofstream(outside) << "data";
    FinishSuccessfulUpload(outside, StampOfPath(outside.c_str()));
    EXPECT_TRUE(Exists(outside));
    EXPECT_EQ(UploadedCount, 3);
}
