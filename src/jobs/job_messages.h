#pragma once
// The completion messages a job posts to the main window as its last act. lParam carries
// the JobResult; wParam the job's completion token (NewCompletionToken), so that the
// window can tell a job's own message from one that another program posted.

#include <windows.h>

constexpr UINT WM_LOGIN_DONE = WM_APP + 1;
constexpr UINT WM_UPLOAD_DONE = WM_APP + 2;

// A token no earlier job of this process had, and never 0: any program can post any
// message to the window, and one that posts a completion guesses no token.
WPARAM NewCompletionToken();
