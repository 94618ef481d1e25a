#include "upload/upload_job.h"

#include "http/status_callback.h"
#include "jobs/job_messages.h"
#include "queue/upload_queue.h"
#include "settings/settings.h"
#include "upload/upload_answer.h"
#include "upload/upload_query.h"
#include "util/bounded_text.h"

#include <cstring>

UploadJob* CurrentUploadJob = nullptr;

// Run's target is never refused: the longest the job's fields can give fits.
static_assert(LongestUploadTarget(sizeof UploadJob::UploadPath, sizeof UploadJob::SessionId,
                                  sizeof UploadJob::UserId) < LongTextSize,
              "the upload's request target must fit its buffer");

namespace {

const char* const UploadMessages[] = {
    "OK",
    JobText::Interrupted,
    JobText::TimedOut,
    JobText::ConnectFailed,
    "アップロードに失敗しました",
};

const char* NotSentLine(BodyFailure failure) {
    switch (failure) {
    case BodyFailure::FileUnreadable:
        return "upload not sent: the file could not be read whole\n";
    case BodyFailure::TooLarge:
        return "upload not sent: the file is too large for one request\n";
    case BodyFailure::NoMemory:
        return "upload not sent: no memory for the request body\n";
    default:
        return "upload not sent: the file is larger than when its size was taken\n";
    }
}

} // namespace

UploadJob::UploadJob() {
    bodyEndLength = UploadBodyEndLength;
    std::memset(UploadUrl, 0, sizeof UploadUrl);
    std::memset(UploadPath, 0, sizeof UploadPath);
    std::memset(UserId, 0, sizeof UserId);
    std::memset(SessionId, 0, sizeof SessionId);
    std::memset(FilePath, 0, sizeof FilePath);
}

bool UploadJob::Configure(const char* uploadUrl, const char* uploadPath, const char* userId,
                          const char* sessionId, const char* filePath) {
    const bool fits = CopyText(UploadUrl, uploadUrl) && CopyText(UploadPath, uploadPath) &&
                      CopyText(UserId, userId) && CopyText(SessionId, sessionId) &&
                      CopyText(FilePath, filePath);
    ResetRunFields();
    return fits;
}

void UploadJob::ShowJobResult(int code, bool always) {
    if (code < 0 || code > Rejected)
        return;
    if (always || (code != Ok && code != Rejected))
        ShowJobAlert(UploadMessages[code]);
}

int UploadJob::Run() {
    SetBar(0);
    if (StopRequested) {
        SetBar(100);
        return Complete(Interrupted);
    }
    if (!Open(UploadUrl, StatusCallback<UploadJob>, reinterpret_cast<DWORD_PTR>(this), nullptr,
              nullptr, JobUserAgent)) {
        ShowJobResult(ConnectFailed, false);
        SetBar(100);
        return Complete(ConnectFailed);
    }
    if (StopRequested) {
        SetBar(100);
        return Complete(Interrupted);
    }
    AdvanceBar(20);
    ClearFormFields();
    AddFormField("file", FilePath, true);
    char target[LongTextSize];
    FormatUploadTarget(target, UploadPath, SessionId, UserId);
    const bool started = SendRequest(reinterpret_cast<DWORD_PTR>(this), target,
                                     RequestKind::MultipartRequest, nullptr);
    CompleteSendShare();
    int result = Rejected;
    if (!started && bodyFailure != BodyFailure::None) {
        // Without its body the request was never handed to WinINet: nothing went out and
        // nothing will complete, so there is nothing to wait for. The attempt is a failed
        // upload like a refused one: the file stays and is tried again after the usual
        // pause.
        OutputDebugStringA(NotSentLine(bodyFailure));
    } else if (!started && sendOutcome != SendOutcome::Handed) {
        // Nothing will complete the request: a stop or a stall ends the attempt as a
        // wait that ran out would, and a send refused or failed as a failed upload.
        result = ResultWithoutCompletion(Rejected);
        if (result != Rejected) {
            SetBar(100);
            return Complete(result);
        }
    } else {
        // The event stays open until the job is destroyed: a send or end request that
        // completes after this wait gave up still signals it. The service's minute starts
        // once the body has left the socket, which on a slow link still held much of it
        // after the last piece.
        if (!WaitForCompletion(RequestTimeout + BodyDrainAllowance())) {
            SetBar(100);
            return Complete(StopRequested ? Interrupted : TimedOut);
        }
        AdvanceBar(20);
        result = ReadAnswer();
    }
    SetBar(90);
    CloseAndDrain();
    ShowJobResult(result, false);
    SetBar(100);
    return Complete(result);
}

// Reads the answer in pieces of up to AnswerPieceSize bytes until 4 bytes can be judged,
// the job is stopped, or 60 s have passed. An answer that has ended short of 4 bytes is
// waited out on the stop signal, not read again and again.
int UploadJob::ReadAnswer() {
    const DWORD start = GetTickCount();
    const bool successStatus = AnsweredWithSuccessStatus();
    char piece[AnswerPieceSize];
    DWORD received = 0;
    while (ReadResponse(piece, sizeof piece, received)) {
        AdvanceBar(5);
        if (received > 0) {
            AppendResponse(piece, received);
            const int verdict =
                JudgeUploadAnswer(ResponseBuffer, static_cast<std::size_t>(ResponseLength));
            // "success" under an error status did not store the file: it must stay.
            if (verdict == Ok && !successStatus)
                return Rejected;
            if (verdict >= 0)
                return verdict;
        }
        if (StopRequested)
            return Interrupted;
        if (GetTickCount() - start > RequestTimeout)
            return TimedOut;
        if (received == 0) {
            answerEnded_ = true;
            AwaitStop(AnswerIdleSlice);
        }
    }
    // A stop ends a read that waits for the answer's bytes: that is the stop, not a
    // failed read. Otherwise the answer could not be read to a verdict: the upload counts
    // as failed, so the file stays and is tried again.
    return StopRequested ? Interrupted : Rejected;
}

int StartUpload(HWND mainWindow, HWND transferBar, HWND queueList, int row, const char* path) {
    if (row < 0 || row > 65535)
        return -1;
    SplitUrls();
    UploadJob* job = new UploadJob();
    if (!job->Configure(Settings.UploadUrl, Settings.UploadPath, Settings.LoginName,
                        Settings.SessionId, path)) {
        OutputDebugStringA("upload settings do not fit the upload request; no upload started\n");
        delete job;
        return -1;
    }
    job->QueueListWindow = queueList;
    job->QueueRow = row;
    SetStatus(queueList, row, Uploading);
    CurrentUploadJob = job;
    job->AttachProgressBar(transferBar);
    job->SetNotifyTarget(mainWindow, WM_UPLOAD_DONE, NewCompletionToken());
    if (StartJobThread(*job) == 0)
        return 0;
    // No thread, so no completion message and no teardown will come for this job: it
    // goes now, and its row waits again for the next upload command.
    CurrentUploadJob = nullptr;
    SetStatus(queueList, row, Waiting);
    DisposeJob(job);
    return -1;
}
