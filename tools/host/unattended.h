#pragma once
// Waiting for the uploader with nobody at the desktop: every window it opens for a person
// is answered, after its caption and text are printed, until the uploader ends.

#include "report.h"

#include <windows.h>

struct UnattendedAnswers {
    // The answer to the close question ("注意"): "はい" (IDYES) or "いいえ" (IDNO).
    int closeQuestion = IDYES;
    // Seconds after which the host asks the uploader to close (WM_CLOSE to its window), as
    // a host that ends a run does; negative for never.
    double closeAfter = -1;
};

// Waits up to seconds for process (the uploader, pid) to end, answering each of its
// dialogs once it shows: an alert with OK, the close question as told, the login dialog
// with Cancel (no one can type a password). Prints one line a dialog:
// "alert: CAPTION: TEXT" or "dialog: CAPTION", in the ANSI code page, and records each in
// the report with the close and the uploader's end. False when the uploader did not end in
// time.
bool AwaitUploaderUnattended(HANDLE process, DWORD pid, double seconds,
                             const UnattendedAnswers& answers, Report& report);
