#include "app/session_controller.h"

int LoggedIn = 0;
int LoginDataPending = 0;
int FailureCount = 0;
int UploadedCount = 0;
double ProgressStep = 0.0;
double ProgressValue = 0.0;

// The run itself arrives with the login and upload jobs; until then nothing starts.
int Advance(HWND, bool) {
    return AdvanceIdle;
}
void OnLoginDone(HWND, int) {}
void OnUploadDone(HWND, int) {}
