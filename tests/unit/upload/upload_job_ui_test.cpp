// The upload job's starter and teardown on the UI thread: what a start without a thread
// leaves, how an attempt ends that cannot send its file, and which file a success may
// delete.
#include "app/job_teardowns.h"
#include "app/main_window.h"
#include "app/session_controller.h"
#include "queue/upload_queue.h"
#include "settings/settings.h"
#include "support/platform_override.h"
#include "support/played_run.h"
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

    // A finished upload of path from row 0, as its job saw the file when it built the
    // body; returns the row's status afterwards.
    std::string FinishSuccessfulUpload(const std::string& path, const FileStamp& sent) {
        PlayedResult = Ok;
        platform.calls().BeginThread = RunThatEnds;
        EXPECT_EQ(StartUpload(window, nullptr, list, 0, path.c_str()), 0);
        if (CurrentUploadJob == nullptr)
            return "no job";
        CurrentUploadJob->sentFile = sent;
        EXPECT_EQ(FinishUpload(Ok), Ok);
        return QueueCell(list, 0, 0);
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
    EXPECT_EQ(FinishUpload(static_cast<int>(done.lParam)), Rejected);
    EXPECT_EQ(QueueCell(list, 0, 0), "待機");
    EXPECT_TRUE(Exists(huge));
    Settings = saved;
}

TEST_F(UploadJobTest, ASuccessDeletesOnlyTheFileWhoseBytesWentOut) {
    const std::string sent = files.PathOf("sent.jpg");
    files.Put("sent.jpg");
    EXPECT_EQ(FinishSuccessfulUpload(sent, StampOfPath(sent.c_str())), "完了");
    EXPECT_FALSE(Exists(sent));
    EXPECT_EQ(UploadedCount, 1);

    // A newer photo that has not gone out is kept, and its row waits for it to go: a host
    // wrote the file anew while the answer was awaited, or put a copy of the same size
    // and time in its place.
    const std::string replaced = files.PathOf("replaced.jpg");
    files.Put("replaced.jpg");
    const FileStamp before = StampOfPath(replaced.c_str());
    std::ofstream(replaced) << "a newer photo, never sent";
    FailureCount = 3;
    EXPECT_EQ(FinishSuccessfulUpload(replaced, before), "待機");
    EXPECT_TRUE(Exists(replaced));
    EXPECT_EQ(FailureCount, 0);

    const std::string swapped = files.PathOf("swapped.jpg");
    files.Put("swapped.jpg");
    const FileStamp original = StampOfPath(swapped.c_str());
    const std::string copy = files.PathOf("copy.tmp");
    std::ofstream(copy) << "DATA";
    FILETIME sentTime = {static_cast<DWORD>(original.lastWrite),
                         static_cast<DWORD>(original.lastWrite >> 32)};
    HANDLE copyFile = CreateFileA(copy.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_TRUE(SetFileTime(copyFile, nullptr, nullptr, &sentTime));
    CloseHandle(copyFile);
    ASSERT_TRUE(MoveFileExA(copy.c_str(), swapped.c_str(), MOVEFILE_REPLACE_EXISTING));
    const FileStamp now = StampOfPath(swapped.c_str());
    ASSERT_TRUE(now.size == original.size && now.lastWrite == original.lastWrite);
    EXPECT_EQ(FinishSuccessfulUpload(swapped, original), "待機");
    EXPECT_TRUE(Exists(swapped));
    EXPECT_EQ(UploadedCount, 1);

    // The file sent, which cannot be deleted or is gone already, still counts as uploaded:
    // sending it again would store it twice.
    const std::string readOnly = files.PathOf("read-only.jpg");
    files.Put("read-only.jpg");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(FinishSuccessfulUpload(readOnly, StampOfPath(readOnly.c_str())), "完了");
    EXPECT_TRUE(Exists(readOnly));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    const std::string gone = files.PathOf("gone.jpg");
    files.Put("gone.jpg");
    const FileStamp goneStamp = StampOfPath(gone.c_str());
    DeleteFileA(gone.c_str());
    EXPECT_EQ(FinishSuccessfulUpload(gone, goneStamp), "完了");

    // Nothing outside the temp folder, however the path reaches it.
    const std::string outside = files.PathOf("..\\outside.jpg");
    std::ofstream(outside) << "data";
    EXPECT_EQ(FinishSuccessfulUpload(outside, StampOfPath(outside.c_str())), "完了");
    EXPECT_TRUE(Exists(outside));
    EXPECT_EQ(UploadedCount, 4);
}

// The completion message only says that the job has finished: any program can post one,
// and only the job's own result, from a run that has ended, deletes a photo.
TEST_F(UploadJobTest, OnlyTheJobsOwnSuccessDeletesThePhoto) {
    const std::string path = files.PathOf("a.jpg");
    files.Put("a.jpg");

    // A message that says 0 while the job still runs is not the job's: nothing happens.
    RunRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    platform.calls().BeginThread = RunThatWaits;
    PlayedResult = Interrupted;
    ASSERT_EQ(StartUpload(window, nullptr, list, 0, path.c_str()), 0);
    UploadJob* running = CurrentUploadJob;
    OnUploadDone(window, 0, Ok);
    EXPECT_EQ(CurrentUploadJob, running);
    EXPECT_EQ(QueueCell(list, 0, 0), "アップ中");
    EXPECT_TRUE(Exists(path));

    // The run ends interrupted; a 0 in the message does not make it a success.
    SetEvent(RunRelease);
    EXPECT_TRUE(WaitUntil([&] { return running->Completed(); }));
    EXPECT_EQ(FinishUpload(Ok), Interrupted);
    EXPECT_EQ(QueueCell(list, 0, 0), "待機");
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(UploadedCount, 0);
    EXPECT_EQ(FailureCount, 1);
    CloseHandle(RunRelease);
    RunRelease = nullptr;
}
