#pragma once
// The upload of one queued file: a job that posts the file as a multipart form to the
// upload URL and judges the answer, with its starter. Its teardown is the window's
// (src/app/job_teardowns.h).

#include "http/http_client.h"
#include "jobs/http_job.h"
#include "upload/multipart_layout.h"
#include "util/text_sizes.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

// The end of an upload's body that its writer holds back until the body's fate commits to
// it (body_writer.h): the line break that ends the file's bytes and the closing line,
// which no cut body can hold.
constexpr std::uint32_t UploadBodyEndLength =
    2 + ClosingLineFixedLength + (sizeof UploadBoundary - 1);

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
    // Any thread: whether the answer has been read to its end without a verdict. No
    // "success" can come any more; the run still waits out its minute, but a quit need
    // not.
    bool AnswerEnded() const { return answerEnded_; }

    char UploadUrl[NameSize];
    char UploadPath[NameSize];
    char UserId[NameSize];
    char SessionId[TokenSize];
    char FilePath[NameSize];
    // The queue's list and the file's row, set by the starter for the teardown.
    HWND QueueListWindow = nullptr;
    int QueueRow = -1;

  private:
    int ReadAnswer();

    std::atomic<bool> answerEnded_{false};
};

extern UploadJob* CurrentUploadJob;

// 0 when the job's thread runs, -1 otherwise (also for a row index outside 0-65535).
int StartUpload(HWND mainWindow, HWND transferBar, HWND queueList, int row, const char* path);
