#pragma once
// The session controller: turns an "upload" command into a run of one login and one
// upload per waiting file. Process-wide values, all owned by the UI thread.

#include <windows.h>

extern int LoggedIn;
extern int LoginDataPending;
extern int FailureCount;
extern int UploadedCount;
extern double ProgressStep;
extern double ProgressValue;

// Results of Advance: below 100 no job runs.
constexpr int AdvanceIdle = 0;
constexpr int AdvanceLoginStarted = 100;
constexpr int AdvanceUploadStarted = 200;
constexpr int AdvanceFailed = -1;

int Advance(HWND window, bool start);
void OnLoginDone(HWND window, int result);
void OnUploadDone(HWND window, int result);
