#pragma once
// The upload of one queued file: a job that posts the file as a multipart form to the
// upload URL and judges the answer, with its starter and teardown.

#include "jobs/http_job.h"
#include "util/text_sizes.h"

#include <windows.h>

class UploadJob : public HttpJob {
  public:
    UploadJob();

    // Copies the five strings and resets the per-run fields. False when one does not fit
    // its field: a cut path or query would upload to the wrong place or as someone else.
    bool Configure(const char* uploadUrl, const char* uploadPath, const char* userId,
                   const char* sessionId, const char* filePath);
    int Run() override;
    // The job's alert: shown when always is set, or for results other than 0 and 4.
    static void ShowJobResult(int code, bool always);

    char UploadUrl[NameSize];
    char UploadPath[NameSize];
    char UserId[NameSize];
    char SessionId[TokenSize];
    char FilePath[NameSize];

  private:
    int ReadAnswer();
};

extern UploadJob* CurrentUploadJob;

// 0 when the job's thread runs, -1 otherwise (also for a row index outside 0-65535).
int StartUpload(HWND mainWindow, HWND transferBar, HWND queueList, int row, const char* path);
// What FinishUpload returns when there was no job to finish.
constexpr int NoUploadJob = -1;

// Marks the row done (deleting the file) or waiting again, keeps the run's counters and
// destroys the job, if there is one. result is the completion message's, or Interrupted
// from the window's teardown: it says that the job has finished, or is to end; whether its
// photo was stored is the job's own result, taken once its thread has ended. Returns the
// result that stood (never Ok but by the job's own word), NoUploadJob when there was none.
int FinishUpload(int result);

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
// At the window's teardown, a photo whose last bytes have gone to WinINet may reach the
// album whole whatever the program does, and only its answer says whether it was stored:
// the teardown waits for the job's end before it stops it, as long as what the socket
// still held may take to leave at the rate the pieces measured, and this much more for
// the album to take it in and answer. (The floor rate's allowance for a body that went
// without a wait is the job's own to wait out, not a quit's: it is a minute and more on
// links where the body left at once.) Looked at this often.
constexpr DWORD QuitAnswerGrace = 10000;
constexpr DWORD QuitAnswerSlice = 200;
