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
// Marks the row done (deleting the file) or waiting again, keeps the run's counters and
// destroys the job, if there is one. False when there was none.
bool FinishUpload(int result);

// FinishUpload's pauses. After a failure: the first part of the spacing between a failed
// attempt and the next (see RetryPause), with the row already back at "待機". Around the
// job's destruction: the first gives the stopped thread time to see the stop before the
// retirement waits for it; the second lets WinINet's last notifications for the old
// job's handles pass before the next job opens its connection. Together 600 ms of each
// file's time (the per-file benchmark measures them).
constexpr DWORD FailedUploadPause = 1000;
constexpr DWORD UploadTeardownPause = 300;
