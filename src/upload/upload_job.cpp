#include "upload/upload_job.h"

#include "app/main_window.h"
#include "app/session_controller.h"
#include "http/status_callback.h"
#include "queue/upload_queue.h"
#include "settings/settings.h"
#include "upload/upload_answer.h"
#include "upload/upload_query.h"
#include "util/bounded_text.h"
#include "util/paths.h"

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

HWND UploadList = nullptr;
int UploadRow = -1;

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

// Deletes the uploaded file, and only the one whose bytes went out: a host may have put a
// new file of the same name in its place while the request and its answer were under
// way, and that file has not been sent. Never anything outside the temp folder. False
// when such a newer file is there: its row is not done.
bool DeleteSentFile(const char* path, const FileStamp& sent) {
    if (!IsInsideTempFolder(path)) {
        OutputDebugStringA("uploaded file kept: it does not lie in temp\n");
        return true;
    }
    switch (DeleteFileIfUnchanged(path, sent)) {
    case SentFileFate::Replaced:
        OutputDebugStringA("uploaded file kept: it changed after its bytes were sent\n");
        return false;
    case SentFileFate::Kept:
        OutputDebugStringA("uploaded file kept: it could not be deleted\n");
        return true;
    default:
        return true;
    }
}

// A success: the sent file goes and its row is done, or, when a newer file has taken its
// place, that row waits again and is not counted, so the run sends it before it ends.
void RecordConfirmedUpload(const char* path, const FileStamp& sent) {
    FailureCount = 0;
    if (DeleteSentFile(path, sent)) {
        SetStatus(UploadList, UploadRow, Done);
        UploadedCount += 1;
    } else {
        SetStatus(UploadList, UploadRow, Waiting);
    }
}

} // namespace

UploadJob::UploadJob() {
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
        if (received == 0)
            AwaitStop(AnswerIdleSlice);
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
    UploadList = queueList;
    UploadRow = row;
    SetStatus(queueList, row, Uploading);
    CurrentUploadJob = job;
    job->AttachProgressBar(transferBar);
    job->SetNotifyTarget(mainWindow, WM_UPLOAD_DONE, 0);
    if (StartJobThread(*job) == 0)
        return 0;
    // No thread, so no completion message and no teardown will come for this job: it
    // goes now, and its row waits again for the next upload command.
    CurrentUploadJob = nullptr;
    SetStatus(queueList, row, Waiting);
    DisposeJob(job);
    return -1;
}

namespace {

// The window's teardown: a job whose photo may arrive whole is given the time its answer
// needs before the stop ends its wait. The allowance is looked at again and again: it is
// known only once the end of the body has left the writer.
void AwaitAnswerAfterQuit(UploadJob& job) {
    if (!job.BodyEndHandedOver())
        return;
    OutputDebugStringA("quit: the photo's last bytes are out, its answer is awaited\n");
    const DWORD start = GetTickCount();
    while (AwaitJobResult(job, QuitAnswerSlice) == ResultUnknown) {
        if (GetTickCount() - start >= QuitAnswerGrace + job.MeasuredDrainAllowance())
            return;
    }
}

} // namespace

int FinishUpload(int result) {
    UploadJob* job = CurrentUploadJob;
    if (job == nullptr)
        return NoUploadJob;
    // Taken out before anything that can run a modal loop (the alert below): a teardown
    // that runs inside that loop, the window's destruction say, must not find the job a
    // second time.
    CurrentUploadJob = nullptr;
    char sentPath[NameSize];
    CopyText(sentPath, job->FilePath);
    const FileStamp sentFile = job->sentFile;
    // Only the job's own result deletes a photo. A job that has not ended yet is being
    // torn down: its photo counts as not stored unless its run ends with "success".
    const int own = job->Completed() ? AwaitJobResult(*job, CompletedJobEndLimit) : ResultUnknown;
    int stood = own;
    if (own == ResultUnknown)
        stood = result == Ok ? Interrupted : result;
    if (stood == Ok) {
        RecordConfirmedUpload(sentPath, sentFile);
    } else {
        SetStatus(UploadList, UploadRow, Waiting);
        FailureCount += 1;
        if (FailureCount > FailureLimit)
            UploadJob::ShowJobResult(stood, true);
        else
            TeardownPause(FailedUploadPause);
    }
    if (own == ResultUnknown)
        AwaitAnswerAfterQuit(*job);
    static_cast<WorkerJob*>(job)->RequestStop();
    TeardownPause(UploadTeardownPause);
    // The window's teardown ends an upload as interrupted, yet inside the pauses above the
    // job may have read the album's "success" for the request already on the wire. The
    // photo is then stored: kept in temp, it would go to the album a second time with the
    // next hand-over. Once its thread has ended the job's own word stands.
    if (DisposeJob(job) == Ok && stood != Ok) {
        RecordConfirmedUpload(sentPath, sentFile);
        stood = Ok;
    }
    TeardownPause(UploadTeardownPause);
    return stood;
}
