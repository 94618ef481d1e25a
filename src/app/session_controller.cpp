#include "app/session_controller.h"

#include "app/app_state.h"
#include "app/job_teardowns.h"
#include "app/main_window.h"
#include "login/login_job.h"
#include "queue/queue_snapshot.h"
#include "settings/settings.h"
#include "upload/upload_job.h"
#include "util/debug_line.h"
#include "util/progress.h"
#include "util/wide_text.h"

#include <commctrl.h>

#include <climits>

int LoggedIn = 0;
int FailureCount = 0;
int UploadedCount = 0;
double ProgressStep = 0.0;
double ProgressValue = 0.0;

namespace {

SessionSteps RealSteps() {
    return SessionSteps{::StartLogin,   ::FinishLogin, ::StartUpload,
                        ::FinishUpload, ::ShowAlert,   ::SaveSettings};
}

SessionSteps steps = RealSteps();

// The label and the bar also go to the debugger: the last position of a run is set in
// the same step that destroys the window, too late for anyone to read it from outside.
void SetStatusText(const char* text) {
    SetWindowTextW(StatusLabel, WideText(text).c_str());
    WriteDebugLine("status label %s\n", text);
}

void SetOverallPosition(int position) {
    SendMessageA(OverallBar, PBM_SETPOS, position, 0);
    WriteDebugLine("overall bar %d\n", position);
}

void ShowOverallProgress() {
    SetOverallPosition(ProgressPosition(ProgressValue));
}

int CountWaitingRows() {
    QueueSnapshot snapshot(QueueList);
    snapshot.Collect();
    return static_cast<int>(snapshot.waiting.size());
}

// Counters and the bar for a new run; false when there is nothing to count.
bool BeginRun() {
    FailureCount = 0;
    UploadedCount = 0;
    int steps = ExpectedFileCount > 0 ? ExpectedFileCount : CountWaitingRows();
    if (steps == 0) {
        Steps().ShowAlert("待機ファイルがありません");
        return false;
    }
    // The login's step must not overflow a count near INT_MAX from the command line; a
    // step of 100 / INT_MAX percent is as good as none either way.
    if (!LoggedIn)
        steps = steps < INT_MAX ? steps + 1 : INT_MAX;
    ProgressValue = 0.0;
    ProgressStep = ProgressStepFor(steps);
    SetOverallPosition(0);
    return true;
}

// Alerts and the login dialog run modal loops, inside which the user or the host may
// close the window. Its teardown has then stopped every job and ended the run; what the
// interrupted step meant to do next no longer applies.
bool WindowClosedMeanwhile(HWND window) {
    return !IsWindow(window);
}

int LogIn(HWND window) {
    SetStatusText("ログイン中");
    if (Steps().StartLogin(window, TransferBar) == 0)
        return AdvanceLoginStarted;
    // Closed while the login dialog was open: the window's teardown has ended the run.
    if (WindowClosedMeanwhile(window))
        return AdvanceFailed;
    Steps().ShowAlert("ログインに失敗しました");
    SetStatusText("未ログイン");
    // Ends the program without destroying the window and without saving the settings.
    PostQuitMessage(0);
    return AdvanceFailed;
}

int UploadNextFile(HWND window) {
    SetStatusText("ログイン済");
    QueueSnapshot snapshot(QueueList);
    snapshot.Collect();
    if (snapshot.waiting.empty()) {
        ProgressValue = 100.0;
        ShowOverallProgress();
        return AdvanceIdle;
    }
    char path[NameSize] = {};
    const int row = ResolveNextFile(snapshot, 0, path, sizeof path);
    if (Steps().StartUpload(window, TransferBar, QueueList, row, path) != 0) {
        Steps().ShowAlert("スレッドの作成に失敗しました");
        return AdvanceFailed;
    }
    return AdvanceUploadStarted;
}

void EndRun(HWND window, bool save) {
    if (save)
        Steps().SaveSettings();
    DestroyWindow(window);
}

// What the run does next: start (commands 1001 and 40004), or go on after a finished
// login, a finished upload (counted, or not counted since a newer file had taken the sent
// one's place) or a failed one.
enum class RunStep { None, Start, AfterLogin, AfterUpload, AfterReplacedUpload, Retry };

// The step held back while the close question was open.
RunStep heldStep = RunStep::None;
// The step posted and not yet taken. WM_RUN_STEP only says that it is due: any program can
// post any message to the window, and no step is taken that this one did not post.
RunStep postedStep = RunStep::None;
// Set while the posted step waits for the window's timer: for input to go first, or for
// the command a menu posted. Only that timer takes it then, never a WM_RUN_STEP.
bool stepLeftToTimer = false;

void TakeStep(HWND window, RunStep step) {
    // After a quit the run takes no step: no job, and no save at its end. A step is one
    // the run posted or held; nothing else is taken, held or erased.
    if (WindowClosedMeanwhile(window) || step == RunStep::None)
        return;
    // While the user is asked whether to stop, or is choosing from the menu (終了 among
    // its items), nothing starts: a "はい" or 終了 given meanwhile is read only once this
    // handler has returned to the question's or the menu's loop.
    if (CloseQuestionOpen() || MenuOpen()) {
        heldStep = step;
        return;
    }
    switch (step) {
    case RunStep::Start:
    case RunStep::AfterLogin:
        if (Advance(window, step == RunStep::Start) < AdvanceLoginStarted)
            EnableWindow(UploadButton, TRUE);
        break;
    case RunStep::AfterUpload:
    case RunStep::AfterReplacedUpload:
        if (step == RunStep::AfterUpload && UploadedCount == ExpectedFileCount) {
            EndRun(window, true);
        } else if (Advance(window, false) < AdvanceLoginStarted) {
            EnableWindow(UploadButton, TRUE);
            if (ExpectedFileCount == 0 && !WindowClosedMeanwhile(window))
                EndRun(window, true);
        }
        break;
    case RunStep::Retry:
        if (Advance(window, false) < AdvanceLoginStarted && !WindowClosedMeanwhile(window)) {
            EnableWindow(UploadButton, TRUE);
            EndRun(window, true);
        }
        break;
    case RunStep::None:
        break;
    }
}

// Every step goes through the window's queue, behind what was posted while the UI thread
// was busy (a teardown's pauses hold it for a second and more): a File > 終了 or a host's
// command posted meanwhile is handled first, in the order it came. A person's click or key
// is not posted: the queue gives every posted message before any input, whenever it came,
// so a step that finds input waiting goes on a timer (OnRunStep), and WM_TIMER comes only
// once no input waits. After a quit the window is gone, and the step with the messages
// posted to it. Only a queue too full to take the step takes it at once.
void PostStep(HWND window, RunStep step) {
    postedStep = step;
    if (PostMessageA(window, WM_RUN_STEP, 0, 0))
        return;
    OutputDebugStringA("run step taken at once: the window's queue is full\n");
    postedStep = RunStep::None;
    TakeStep(window, step);
}

} // namespace

SessionSteps& Steps() {
    return steps;
}

void ResetSessionSteps() {
    steps = RealSteps();
}

int Advance(HWND window, bool start) {
    if (start && !BeginRun())
        return AdvanceIdle;
    if (LoginDataPending) {
        ApplyStagedLoginData();
        LoginDataPending = 0;
        if (LoggedIn) {
            SetStatusText("未ログイン");
            LoggedIn = 0;
        }
        return LogIn(window);
    }
    if (!LoggedIn)
        return LogIn(window);
    return UploadNextFile(window);
}

void StartRun(HWND window) {
    PostStep(window, RunStep::Start);
}

namespace {

// Input that came while the UI thread was busy and has not been handled yet: a click on
// the close box or the menu, a key such as Alt+F4.
bool InputWaits() {
    return (HIWORD(GetQueueStatus(QS_INPUT)) & QS_INPUT) != 0;
}

} // namespace

namespace {

// Leaves the posted step to the window's timer; false when no timer could be set.
bool LeaveStepToTimer(HWND window) {
    stepLeftToTimer = SetTimer(window, RunStepTimer, 0, nullptr) != 0;
    return stepLeftToTimer;
}

void TakePostedStep(HWND window) {
    // The step stays posted meanwhile: one more WM_RUN_STEP only says again that it is due.
    if (InputWaits() && LeaveStepToTimer(window))
        return;
    const RunStep step = postedStep;
    postedStep = RunStep::None;
    TakeStep(window, step);
}

} // namespace

void OnRunStep(HWND window) {
    // Another program may post WM_RUN_STEP at any moment: with no step posted, or one left
    // to the timer, there is nothing for it to take.
    if (postedStep == RunStep::None || stepLeftToTimer)
        return;
    TakePostedStep(window);
}

void OnRunStepTimer(HWND window) {
    KillTimer(window, RunStepTimer);
    // A WM_TIMER of this id that the window's own timer did not send finds no step left
    // to it.
    if (!stepLeftToTimer)
        return;
    stepLeftToTimer = false;
    TakePostedStep(window);
}

void DropRunSteps() {
    postedStep = RunStep::None;
    heldStep = RunStep::None;
    stepLeftToTimer = false;
}

void ResumeHeldStepLater(HWND window) {
    const RunStep step = heldStep;
    heldStep = RunStep::None;
    if (step == RunStep::None)
        return;
    // Taken from the timer, behind every message posted meanwhile: Wine's menu posts the
    // chosen command before its loop ends, and nothing promises that Windows' does.
    postedStep = step;
    if (!LeaveStepToTimer(window))
        PostStep(window, step);
}

void ResumeHeldStep(HWND window) {
    const RunStep step = heldStep;
    heldStep = RunStep::None;
    TakeStep(window, step);
}

namespace {

// A completion message that the job in hand has not posted: any program can post one to
// the window. Taken for the job's, it would end a login or an upload still under way, or,
// once the job has ended, take its place. With no job in hand the teardown finds none.
bool NotFromJob(const HttpJob* job, WPARAM token) {
    if (job == nullptr || job->PostedCompletion(token))
        return false;
    OutputDebugStringA("completion message ignored: the job in hand did not post it\n");
    return true;
}

} // namespace

void OnLoginDone(HWND window, WPARAM token) {
    if (NotFromJob(CurrentLoginJob, token))
        return;
    const int result = Steps().FinishLogin();
    // No job to finish: the message comes from a job that a teardown already took away.
    if (result == NoLoginJob)
        return;
    if (result == Ok) {
        ProgressValue += ProgressStep;
        LoggedIn = 1;
        ShowOverallProgress();
        PostStep(window, RunStep::AfterLogin);
    } else {
        Steps().ShowAlert("ログインに失敗しました");
        Settings.Password[0] = '\0';
        SetStatusText("未ログイン");
        EnableWindow(UploadButton, TRUE);
        PostQuitMessage(0);
    }
    InvalidateRect(window, nullptr, TRUE);
}

void OnUploadDone(HWND window, WPARAM token, int posted) {
    if (NotFromJob(CurrentUploadJob, token))
        return;
    const int uploadedBefore = UploadedCount;
    // The message says that the job has finished; the result is the job's own.
    const int result = Steps().FinishUpload(posted);
    if (result == NoUploadJob)
        return;
    // FinishUpload's alert after too many failures is a modal loop.
    if (WindowClosedMeanwhile(window))
        return;
    if (result == 0) {
        // A file found replaced after its bytes went out is not counted: its row waits
        // again, the bar stays, and the run does not end before the newer file has gone.
        const bool counted = UploadedCount != uploadedBefore;
        if (counted) {
            ProgressValue += ProgressStep;
            ShowOverallProgress();
        }
        PostStep(window, counted ? RunStep::AfterUpload : RunStep::AfterReplacedUpload);
    } else if (FailureCount > FailureLimit) {
        EnableWindow(UploadButton, TRUE);
        EndRun(window, false);
    } else {
        Sleep(RetryPause);
        PostStep(window, RunStep::Retry);
    }
    InvalidateRect(window, nullptr, TRUE);
}
