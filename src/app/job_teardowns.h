#pragma once
// The teardowns of the login and upload jobs. They run on the window's thread: after a
// job's completion message (the controller), and when the window goes (WM_DESTROY). Each
// takes its job out of the process-wide pointer before anything that can run a modal
// loop, keeps the run's records (the session, the row, the counters), stops the job and
// destroys it.

#include <windows.h>

// What the teardowns return when there was no job to finish.
constexpr int NoLoginJob = -1;
constexpr int NoUploadJob = -1;

// Takes the session token into Settings.SessionId, but only from a job whose own run
// ended with Ok, and destroys the job. Returns the job's own result (Interrupted when
// its run had not ended), NoLoginJob when there was none.
int FinishLogin();

// Marks the row done (deleting the file) or waiting again, keeps the run's counters and
// destroys the job, if there is one. result is the completion message's, or Interrupted
// from the window's teardown: it says that the job has finished, or is to end; whether its
// photo was stored is the job's own result, taken once its thread has ended. At the
// window's teardown it gives the body up; where the body's end was committed first, it
// waits for the album's answer before it stops the job. Returns the result that stood
// (never Ok but by the job's own word), NoUploadJob when there was none.
int FinishUpload(int result);

// FinishLogin's pause between the stop request and the job's destruction: time for the
// login's thread to see the stop (its answer reads pause a second between pieces) before
// the retirement waits for it.
constexpr DWORD LoginTeardownPause = 1000;
// FinishUpload's pauses. After a failure: the first part of the spacing between a failed
// attempt and the next (see RetryPause), with the row already back at "待機". Around the
// job's destruction: the first gives the stopped thread time to see the stop before the
// retirement waits for it; the second lets WinINet's last notifications for the old
// job's handles pass before the next job opens its connection. Together 600 ms of each
// file's time (the per-file benchmark measures them).
constexpr DWORD FailedUploadPause = 1000;
constexpr DWORD UploadTeardownPause = 300;
// A job that has posted its completion ends a moment later; its result is waited for this
// long at most (it still stands if it comes later: the retirement takes it too).
constexpr DWORD CompletedJobEndLimit = 2000;
// At the window's teardown, a photo whose body's end was committed may reach the album
// whole whatever the program does, and only its answer says whether it was stored: the
// teardown waits for the job's end before it stops it, as long as what the socket still
// held may take to leave at the rate the pieces measured, and this much more for the
// album to take it in and answer. The wait ends sooner once the answer has been read to
// its end without a verdict: no "success" can come then. (The floor rate's allowance for
// a body that went without a wait is the job's own to wait out, not a quit's: it is a
// minute and more on links where the body left at once.) Looked at this often.
constexpr DWORD QuitAnswerGrace = 10000;
constexpr DWORD QuitAnswerSlice = 200;
