#pragma once
// The session controller: turns an "upload" command into a run of one login and one
// upload per waiting file. Process-wide values, all owned by the UI thread.

#include <windows.h>

extern int LoggedIn;
extern int FailureCount;
extern int UploadedCount;
extern double ProgressStep;
extern double ProgressValue;

// Results of Advance: below 100 no job runs.
constexpr int AdvanceIdle = 0;
constexpr int AdvanceLoginStarted = 100;
constexpr int AdvanceUploadStarted = 200;
constexpr int AdvanceFailed = -1;

// A file that keeps failing is given up once FailureCount exceeds this: after the first
// attempt and ten retries.
constexpr int FailureLimit = 10;
// The controller's pause before a failed file is tried again. With the upload teardown's
// pauses (FailedUploadPause and twice UploadTeardownPause) a retry starts 2.6 s after a
// failure, so a service that refuses or is briefly down is not met with a burst: eleven
// attempts span about half a minute. The pauses block the UI thread; DDE and the window
// wait meanwhile, and a click or key given then is handled before the retry starts
// (OnRunStep).
constexpr DWORD RetryPause = 1000;

int Advance(HWND window, bool start);
// Starts a run for commands 1001 and 40004, UploadButton already disabled: Advance with
// the start flag, unless the user has quit or is being asked whether to.
void StartRun(HWND window);
// Takes the step the run held back while the close question was open (none after a quit).
void ResumeHeldStep(HWND window);
// Takes the step held back while the menu was open once the command the menu posted has
// been handled.
void ResumeHeldStepLater(HWND window);
// The completion messages: taken only from the job in hand, by the token it posted in
// wParam (any program can post them). The login's result is the job's own; the upload's
// posted result stands only for a job that has not ended (see FinishUpload).
void OnLoginDone(HWND window, WPARAM token);
void OnUploadDone(HWND window, WPARAM token, int posted);
// WM_RUN_STEP: takes the run's next step, which the controller posted behind whatever the
// window's queue held then; or, while a person's input waits, leaves it to a timer. With
// no step posted (a message another program posted) it does nothing.
void OnRunStep(HWND window);
// WM_TIMER of RunStepTimer: the step left for the input to go first is taken now.
void OnRunStepTimer(HWND window);
// WM_DESTROY: the window is gone, and with it the run's step, posted, held or left to
// the timer.
void DropRunSteps();
// The main window's timer for a step that waits for input (its only timer of its own).
constexpr UINT_PTR RunStepTimer = 1;

// What the controller asks of the jobs, the alert and the settings file. Tests replace
// entries and restore them with ResetSessionSteps.
struct SessionSteps {
    int (*StartLogin)(HWND mainWindow, HWND progressBar);
    int (*FinishLogin)();
    int (*StartUpload)(HWND mainWindow, HWND transferBar, HWND queueList, int row,
                       const char* path);
    int (*FinishUpload)(int result);
    void (*ShowAlert)(const char* text);
    int (*SaveSettings)();
};
SessionSteps& Steps();
void ResetSessionSteps();
