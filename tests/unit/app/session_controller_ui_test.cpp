// The controller's run logic on the real main window, with the jobs, the alert and the
// settings file replaced by recorders.
#include "app/app_state.h"
#include "app/job_teardowns.h"
#include "app/main_window.h"
#include "app/session_controller.h"
#include "dde/dde_service.h"
#include "login/login_job.h"
#include "queue/upload_queue.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "support/dialog_answerer.h"
#include "support/main_window_fixture.h"
#include "support/platform_override.h"
#include "support/played_run.h"
#include "support/queue_list.h"
#include "support/wait_until.h"
#include "upload/upload_job.h"
#include "util/bounded_text.h"

#include <commctrl.h>

#include <climits>
#include <string>
#include <vector>

namespace {

// What the replaced steps saw, and how they answer.
struct StepLog {
    int loginsStarted = 0;
    int uploadsStarted = 0;
    int saves = 0;
    std::vector<std::string> alerts;
    int lastRow = -1;
    bool jobRunning = false;
    // Uploads started while the close question stood open.
    int uploadsStartedWhileAsked = 0;
    // Called inside FinishUpload, where the real one may show its alert.
    void (*duringFinish)() = nullptr;
    // The next success finds a newer file in the sent one's place.
    bool replacedNext = false;
    // What the login job's own run returned, as its teardown reads it.
    int loginResult = Ok;
} steps;

int StartLoginStep(HWND, HWND) {
    ++steps.loginsStarted;
    steps.jobRunning = true;
    return 0;
}

int FinishLoginStep() {
    const bool had = steps.jobRunning;
    steps.jobRunning = false;
    return had ? steps.loginResult : NoLoginJob;
}

int StartUploadStep(HWND, HWND, HWND list, int row, const char*) {
    ++steps.uploadsStarted;
    if (FindVisibleDialog("注意") != nullptr)
        ++steps.uploadsStartedWhileAsked;
    steps.lastRow = row;
    steps.jobRunning = true;
    SetStatus(list, row, Uploading);
    return 0;
}

// Keeps the counters and the row as the real teardown does.
int FinishUploadStep(int result) {
    if (!steps.jobRunning)
        return NoUploadJob;
    steps.jobRunning = false;
    if (result == 0 && steps.replacedNext) {
        steps.replacedNext = false;
        SetStatus(QueueList, steps.lastRow, Waiting);
        FailureCount = 0;
    } else if (result == 0) {
        SetStatus(QueueList, steps.lastRow, Done);
        FailureCount = 0;
        UploadedCount += 1;
    } else {
        SetStatus(QueueList, steps.lastRow, Waiting);
        FailureCount += 1;
    }
    if (steps.duringFinish != nullptr)
        steps.duringFinish();
    return result;
}

void AlertStep(const char* text) {
    steps.alerts.push_back(text);
}

int SaveStep() {
    ++steps.saves;
    return 0;
}

class SessionControllerTest : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        steps = StepLog{};
        Steps() = SessionSteps{StartLoginStep,   FinishLoginStep, StartUploadStep,
                               FinishUploadStep, AlertStep,       SaveStep};
        savedSettings_ = Settings;
        ExpectedFileCount = 0;
        LoggedIn = 0;
    }
    void TearDown() override {
        ResetSessionSteps();
        Settings = savedSettings_;
        ExpectedFileCount = 0;
        LoggedIn = 0;
        MainWindowFixture::TearDown();
    }

    // A waiting row whose file lies in the temp folder.
    void Queue(const std::string& name) {
        files_.Put(name);
        AddFile(QueueList, name.c_str());
    }
    // The controller posts each step of a run to its window; these take it, as the message
    // loop would right after.
    void RunCommand() {
        StartUploadRun(window);
        DrainMessages();
    }
    void UploadDone(int result) {
        OnUploadDone(window, 0, result);
        DrainMessages();
    }
    // The login job's run ended with result.
    void LoginDone(int result) {
        steps.loginResult = result;
        OnLoginDone(window, 0);
        DrainMessages();
    }
    int OverallPosition() { return static_cast<int>(SendMessageA(OverallBar, PBM_GETPOS, 0, 0)); }
    bool Idle() { return IsWindowEnabled(UploadButton) != FALSE; }

  private:
    SettingsRecord savedSettings_;
    QueueFiles files_{"controller"};
};

bool QuitPosted() {
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

// What another program can post to the window at any moment: the run's own messages, with
// nothing of the run behind them. The menu's entry comes last, with no exit after it.
void PostStrayRunMessages(HWND window) {
    PostMessageA(window, WM_RUN_STEP, 0, 0);
    PostMessageA(window, WM_TIMER, RunStepTimer, 0);
    PostMessageA(window, WM_EXITMENULOOP, FALSE, 0);
    PostMessageA(window, WM_ENTERMENULOOP, FALSE, 0);
}

} // namespace

TEST_F(SessionControllerTest, ANegativeCountCountsTheQueueButNeverEndsTheRun) {
    ExpectedFileCount = -1;
    LoggedIn = 1;
    Queue("a.jpg");
    Queue("b.jpg");
    RunCommand();
    EXPECT_DOUBLE_EQ(ProgressStep, 50.0);
    EXPECT_FALSE(Idle());
    UploadDone(0);
    UploadDone(0);
    EXPECT_EQ(steps.uploadsStarted, 2);
    EXPECT_EQ(OverallPosition(), 100);
    // Drained, but -1 is neither the uploaded count nor 0: the window waits for more.
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(Idle());
    EXPECT_EQ(steps.saves, 0);
}

TEST_F(SessionControllerTest, NoCountAndLoggedInMakesOneStepOfAHundredThenSavesAndEnds) {
    LoggedIn = 1;
    Queue("a.jpg");
    RunCommand();
    EXPECT_DOUBLE_EQ(ProgressStep, 100.0);
    EXPECT_EQ(steps.loginsStarted, 0);
    UploadDone(0);
    EXPECT_EQ(steps.saves, 1);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(SessionControllerTest, AFileReplacedAfterItWentOutGoesAgainBeforeTheRunEnds) {
    LoggedIn = 1;
    Queue("a.jpg");
    RunCommand();
    steps.replacedNext = true;
    UploadDone(0);
    // Not counted: the bar stays, and with no count given the run goes on to the newer
    // file instead of ending at zero uploaded files.
    EXPECT_EQ(OverallPosition(), 0);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(steps.uploadsStarted, 2);
    EXPECT_EQ(steps.lastRow, 0);
    UploadDone(0);
    EXPECT_EQ(UploadedCount, 1);
    EXPECT_EQ(steps.saves, 1);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(SessionControllerTest, ACountOfTwoWithAnEmptyListLogsInThenWaitsForFiles) {
    ExpectedFileCount = 2;
    RunCommand();
    EXPECT_TRUE(steps.alerts.empty());
    EXPECT_EQ(steps.loginsStarted, 1);
    EXPECT_NEAR(ProgressStep, 100.0 / 3, 1e-9);
    LoginDone(0);
    EXPECT_EQ(LoggedIn, 1);
    EXPECT_EQ(steps.uploadsStarted, 0);
    EXPECT_EQ(OverallPosition(), 100);
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(SessionControllerTest, ACountAsLargeAsAnIntStillGivesAPositiveStep) {
    // With the login's step added, INT_MAX would wrap to a negative count.
    ExpectedFileCount = INT_MAX;
    RunCommand();
    EXPECT_GT(ProgressStep, 0.0);
    EXPECT_LT(ProgressStep, 1e-6);
    EXPECT_EQ(OverallPosition(), 0);
    EXPECT_EQ(steps.loginsStarted, 1);
}

TEST_F(SessionControllerTest, AFailedLoginClearsThePasswordAndQuits) {
    CopyText(Settings.Password, "secret");
    Queue("a.jpg");
    RunCommand();
    steps.loginResult = 4;
    OnLoginDone(window, 0);
    EXPECT_EQ(steps.alerts, std::vector<std::string>{"ログインに失敗しました"});
    EXPECT_STREQ(Settings.Password, "");
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(QuitPosted());
    EXPECT_EQ(steps.saves, 0);
}

TEST_F(SessionControllerTest, ASecondRunStartsWithFreshCounters) {
    ExpectedFileCount = 3;
    LoggedIn = 1;
    Queue("a.jpg");
    RunCommand();
    UploadDone(4);
    EXPECT_EQ(FailureCount, 1);
    UploadDone(0);
    // The count is not reached and nothing waits: idle until the next command.
    ASSERT_TRUE(Idle());
    EXPECT_EQ(UploadedCount, 1);
    FailureCount = 7;
    Queue("b.jpg");
    RunCommand();
    EXPECT_EQ(FailureCount, 0);
    EXPECT_EQ(UploadedCount, 0);
    EXPECT_EQ(OverallPosition(), 0);
    EXPECT_EQ(steps.uploadsStarted, 3);
}

TEST_F(SessionControllerTest, ACompletionWithNoJobToFinishIsIgnored) {
    LoggedIn = 1;
    Queue("a.jpg");
    RunCommand();
    UploadDone(0);
    // A second message for the same, finished job: nothing is finished, counted or started.
    const int uploads = steps.uploadsStarted;
    UploadDone(0);
    LoginDone(0);
    EXPECT_EQ(steps.uploadsStarted, uploads);
    EXPECT_EQ(UploadedCount, 1);
    EXPECT_EQ(LoggedIn, 1);
}

TEST_F(SessionControllerTest, AWindowClosedInsideTheTeardownsAlertEndsTheRunThere) {
    ExpectedFileCount = 2;
    LoggedIn = 1;
    Queue("a.jpg");
    Queue("b.jpg");
    RunCommand();
    steps.duringFinish = [] { DestroyWindow(MainWindow); };
    UploadDone(0);
    // The window's own teardown ended the run: no next upload, no save.
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(steps.uploadsStarted, 1);
    EXPECT_EQ(steps.saves, 0);
}

TEST_F(SessionControllerTest, AnExitWaitingBehindOtherMessagesIsTakenInItsOrder) {
    Queue("a.jpg");
    Queue("b.jpg");
    LoggedIn = 1;
    RunCommand();
    // While the teardown paused, the host asked for a run, the user chose File > Exit, and
    // a close came after it.
    PostMessageA(window, WM_COMMAND, UploadCommandId, 0);
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    OnUploadDone(window, 0, 0);
    EXPECT_EQ(steps.uploadsStarted, 1);
    // Taken in their order: the exit ends the program before the close is read, so the
    // user who chose File > Exit is not asked whether to stop, and no step follows.
    DialogAnswerer answerer("注意", IDNO);
    DrainMessages();
    EXPECT_FALSE(answerer.Answered());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(steps.uploadsStarted, 1);
    EXPECT_EQ(steps.saves, 0);
}

TEST_F(SessionControllerTest, NothingStartsWhileTheCloseQuestionIsOpen) {
    ExpectedFileCount = 3;
    LoggedIn = 1;
    Queue("a.jpg");
    Queue("b.jpg");
    Queue("c.jpg");
    RunCommand();
    // The upload ends while the question is open (its loop handles the message before the
    // answer, which comes later): the next file waits for the answer; "No" lets it start.
    PostMessageA(window, WM_UPLOAD_DONE, 0, 0);
    {
        // Meanwhile another program posts the run's messages: they neither take the held
        // step nor erase it, nor hold it after the answer.
        DialogAnswerer answerer("注意", IDNO, [&](HWND) {
            PostStrayRunMessages(window);
            Sleep(200);
        });
        SendMessageA(window, WM_CLOSE, 0, 0);
        ASSERT_TRUE(answerer.Answered());
    }
    // The step is left to its timer (OnRunStep: input is queued as the box opens), and the
    // answer can overtake that timer: the step then starts after the answer, from the
    // window's queue.
    WaitUntil([&] {
        DrainMessages();
        return steps.uploadsStarted == 2;
    });
    EXPECT_EQ(steps.uploadsStarted, 2);
    EXPECT_EQ(steps.uploadsStartedWhileAsked, 0);
    // The same with "Yes": nothing more starts, and nothing is saved.
    PostMessageA(window, WM_UPLOAD_DONE, 0, 0);
    {
        DialogAnswerer answerer("注意", IDYES);
        SendMessageA(window, WM_CLOSE, 0, 0);
        ASSERT_TRUE(answerer.Answered());
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(steps.uploadsStarted, 2);
    EXPECT_EQ(UploadedCount, 2);
    EXPECT_EQ(steps.saves, 0);
}

TEST_F(SessionControllerTest, MessagesNoStepOrMenuCausedNeitherTakeNorHoldAStep) {
    LoggedIn = 1;
    Queue("a.jpg");
    Queue("b.jpg");
    Queue("c.jpg");
    RunCommand();
    ASSERT_EQ(steps.uploadsStarted, 1);
    // Between steps: nothing is taken, and no upload starts beside the running one.
    PostStrayRunMessages(window);
    DrainMessages();
    EXPECT_EQ(steps.uploadsStarted, 1);
    // The next step is taken in its turn, not held by a menu that was never open.
    UploadDone(0);
    EXPECT_TRUE(WaitUntil([&] {
        DrainMessages();
        return steps.uploadsStarted == 2;
    }));
    // A step posted, then a stray WM_RUN_STEP behind its own: taken once.
    OnUploadDone(window, 0, 0);
    PostMessageA(window, WM_RUN_STEP, 0, 0);
    DrainMessages();
    EXPECT_EQ(steps.uploadsStarted, 3);
}

namespace {

// Whether the step found the menu open when the timer ended it from inside its loop.
bool MenuOpenInItsLoop = false;
void CALLBACK EndMenuFromItsLoop(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    MenuOpenInItsLoop = MenuOpen();
    EndMenu();
}

} // namespace

TEST_F(SessionControllerTest, AStepDueWhileTheMenuIsOpenWaitsForItToClose) {
    LoggedIn = 1;
    Queue("a.jpg");
    Queue("b.jpg");
    RunCommand();
    ASSERT_EQ(steps.uploadsStarted, 1);
    // The upload ends; its next step is posted and comes while the user is in a menu,
    // whose loop handles it.
    OnUploadDone(window, 0, 0);
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, IDM_ABOUT, "About...");
    MenuOpenInItsLoop = false;
    SetTimer(nullptr, 0, 300, EndMenuFromItsLoop);
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_LEFTALIGN, 10, 10, 0, window, nullptr);
    DestroyMenu(menu);
    EXPECT_TRUE(MenuOpenInItsLoop);
    EXPECT_EQ(steps.uploadsStarted, 1);
    // Closed, the menu lets the held step go, from the window's timer.
    EXPECT_TRUE(WaitUntil([&] {
        DrainMessages();
        return steps.uploadsStarted == 2;
    }));
    EXPECT_FALSE(MenuOpen());
}

// A completion message counts only from the job in hand: one another program posts, after
// the login job has ended and before its own message is handled, changes nothing, and the
// session comes from the job's own result, never from the message.
TEST_F(SessionControllerTest, AForgedLoginCompletionAfterTheLoginChangesNothing) {
    PlatformOverride platform;
    platform.calls().BeginThread = RunThatEnds;
    Steps().StartLogin = ::StartLogin;
    Steps().FinishLogin = ::FinishLogin;
    CopyText(Settings.LoginUrl, "http://127.0.0.1:9/Pc/Upld_Login.aspx");
    CopyText(Settings.LoginPath, "/Pc/Upld_Login.aspx");
    CopyText(Settings.LoginName, "me@example.jp");
    CopyText(Settings.Password, "secret");
    Settings.SessionId[0] = '\0';
    Queue("a.jpg");
    // The job's run ends refused by the album.
    PlayedResult = Rejected;
    RunCommand();
    LoginJob* job = CurrentLoginJob;
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return job->Completed(); }));

    SendMessageA(window, WM_LOGIN_DONE, 0, Ok);
    EXPECT_EQ(LoggedIn, 0);
    EXPECT_EQ(CurrentLoginJob, job);
    EXPECT_TRUE(steps.alerts.empty());

    // The job's own message: its own result stands.
    SendMessageA(window, WM_LOGIN_DONE, job->NotifyParam, Ok);
    EXPECT_EQ(CurrentLoginJob, nullptr);
    EXPECT_EQ(LoggedIn, 0);
    EXPECT_STREQ(Settings.SessionId, "");
    EXPECT_EQ(steps.alerts, std::vector<std::string>{"ログインに失敗しました"});
    EXPECT_TRUE(QuitPosted());
}
