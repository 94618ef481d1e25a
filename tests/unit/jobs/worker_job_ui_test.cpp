// The job framework with jobs whose run does what the real ones may do at a teardown:
// wait on the progress bar, show an alert, or sit in a wait.
#include "jobs/http_job.h"
#include "support/dialog_answerer.h"
#include "support/main_window_fixture.h"
#include "support/platform_override.h"
#include "support/wait_until.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

class ScriptedJob : public HttpJob {
  public:
    explicit ScriptedJob(std::function<int(ScriptedJob&)> script) : script_(std::move(script)) {}
    int Run() override { return Complete(script_(*this)); }

    using HttpJob::AdvanceBar;
    using HttpJob::SetBar;

  private:
    std::function<int(ScriptedJob&)> script_;
};

uintptr_t NoThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
    return 0;
}

class JobFrameworkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 100, 10, nullptr, nullptr,
                              nullptr, nullptr);
        owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
    }
    void TearDown() override {
        DestroyWindow(bar);
        DestroyWindow(owner);
        DrainMessages();
    }
    void Prepare(ScriptedJob& job) {
        job.ResetRunFields();
        job.AttachProgressBar(bar);
        job.SetNotifyTarget(owner, WM_APP + 9, 0);
    }
    int PostedResults() {
        int count = 0;
        MSG message;
        while (PeekMessageA(&message, owner, WM_APP + 9, WM_APP + 9, PM_REMOVE))
            ++count;
        return count;
    }

    PlatformOverride platform;
    HWND bar = nullptr;
    HWND owner = nullptr;
};

} // namespace

TEST_F(JobFrameworkTest, AJobRunsOnceAndPostsOneCompletion) {
    ScriptedJob job([](ScriptedJob& j) {
        j.SetBar(40);
        return Rejected;
    });
    Prepare(job);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    ASSERT_EQ(StartJobThread(job), 0);
    job.RequestStop();
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
    EXPECT_EQ(job.exitCode, Rejected);
    EXPECT_EQ(job.running, 0);
    EXPECT_EQ(PostedResults(), 1);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 40);
}

TEST_F(JobFrameworkTest, WithoutAThreadTheStarterFailsAndNothingIsPosted) {
    platform.calls().BeginThread = NoThread;
    ScriptedJob job([](ScriptedJob&) { return Ok; });
    Prepare(job);
    EXPECT_EQ(StartJobThread(job), -1);
    EXPECT_EQ(job.threadHandle, nullptr);
    EXPECT_EQ(job.running, 0);
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
    EXPECT_EQ(PostedResults(), 0);
}

TEST_F(JobFrameworkTest, RetiringServicesAWorkerBlockedOnTheProgressBar) {
    // The worker sends to a bar owned by this thread while this thread retires the job:
    // without servicing sent messages the two would wait for each other.
    ScriptedJob job([](ScriptedJob& j) {
        for (int i = 0; i < 50; ++i)
            j.AdvanceBar(1);
        return Ok;
    });
    Prepare(job);
    ASSERT_EQ(StartJobThread(job), 0);
    job.RequestStop();
    // Without the servicing the thread would never end and the retirement would fail.
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 50);
}

TEST_F(JobFrameworkTest, ATeardownPauseLetsAWorkerOnTheProgressBarFinish) {
    ScriptedJob job([](ScriptedJob& j) {
        j.SetBar(40);
        return Ok;
    });
    Prepare(job);
    ASSERT_EQ(StartJobThread(job), 0);
    // Asleep, this thread would leave the worker waiting on its bar through every pause.
    constexpr DWORD ShortPause = 50;
    EXPECT_TRUE(WaitUntil([&] {
        TeardownPause(ShortPause);
        return WaitForSingleObject(job.threadHandle, 0) == WAIT_OBJECT_0;
    }));
    EXPECT_EQ(job.exitCode, Ok);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 40);
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
}

TEST_F(JobFrameworkTest, RetiringClosesAnAlertTheJobShows) {
    ScriptedJob job([](ScriptedJob&) {
        MessageBoxA(nullptr, "job alert", "警告", MB_ICONINFORMATION);
        return ConnectFailed;
    });
    Prepare(job);
    ASSERT_EQ(StartJobThread(job), 0);
    EXPECT_NE(WaitForDialog("警告"), nullptr);
    job.RequestStop();
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
    EXPECT_EQ(job.exitCode, ConnectFailed);
    EXPECT_EQ(FindWindowA("#32770", "警告"), nullptr);
}

TEST_F(JobFrameworkTest, AStopEndsBothWaitsLongBeforeTheirTimeout) {
    ScriptedJob job([](ScriptedJob& j) {
        j.completionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        const DWORD start = GetTickCount();
        const bool signalled = j.WaitForRequest(60000) || j.WaitForCompletion(60000);
        CloseHandle(j.completionEvent);
        j.completionEvent = nullptr;
        return !signalled && GetTickCount() - start < HangLimit ? Interrupted : TimedOut;
    });
    Prepare(job);
    ASSERT_EQ(StartJobThread(job), 0);
    Sleep(300);
    job.RequestStop();
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
    EXPECT_EQ(job.exitCode, Interrupted);
}

TEST_F(JobFrameworkTest, WaitForRequestWithoutAnEventOrWithTooShortATimeout) {
    ScriptedJob job([](ScriptedJob&) { return Ok; });
    EXPECT_TRUE(job.WaitForRequest(100));
    job.completionEvent = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    // Below one 200 ms slice nothing is waited for, signalled or not.
    EXPECT_FALSE(job.WaitForRequest(100));
    EXPECT_TRUE(job.WaitForRequest(200));
    CloseHandle(job.completionEvent);
    job.completionEvent = nullptr;
}
