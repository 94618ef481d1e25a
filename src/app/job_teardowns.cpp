#include "app/job_teardowns.h"

#include "app/session_controller.h"
#include "login/login_job.h"
#include "queue/upload_queue.h"
#include "settings/settings.h"
#include "upload/upload_job.h"
#include "util/bounded_text.h"
#include "util/paths.h"

namespace {

// The job's own result, once a job that has reported its end has also ended (a moment
// later); ResultUnknown for a job still under way, which a teardown is ending.
int OwnResultOfFinishedJob(HttpJob& job) {
    return job.Completed() ? AwaitJobResult(job, CompletedJobEndLimit) : ResultUnknown;
}

} // namespace

// --- The login ----------------------------------------------------------------------

int FinishLogin() {
    LoginJob* job = CurrentLoginJob;
    if (job == nullptr)
        return NoLoginJob;
    // Out of the process-wide pointer first, so no teardown reached from a loop that runs
    // inside this one finds the job again.
    CurrentLoginJob = nullptr;
    // The completion message only says that the job has finished (any program can post
    // one): the session is the job's own success or none.
    const int own = OwnResultOfFinishedJob(*job);
    if (own == Ok)
        job->TakeSessionToken(Settings.SessionId, sizeof Settings.SessionId);
    static_cast<WorkerJob*>(job)->RequestStop();
    TeardownPause(LoginTeardownPause);
    DisposeJob(job);
    return own == ResultUnknown ? Interrupted : own;
}

// --- The upload ---------------------------------------------------------------------

namespace {

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

// What the teardown keeps of the job before it lets the job go.
struct SentPhoto {
    char path[NameSize];
    FileStamp stamp;
    HWND list;
    int row;
};

// A success: the sent file goes and its row is done, or, when a newer file has taken its
// place, that row waits again and is not counted, so the run sends it before it ends.
void RecordConfirmedUpload(const SentPhoto& photo) {
    FailureCount = 0;
    if (DeleteSentFile(photo.path, photo.stamp)) {
        SetStatus(photo.list, photo.row, Done);
        UploadedCount += 1;
    } else {
        SetStatus(photo.list, photo.row, Waiting);
    }
}

// The window's teardown, for a body whose end was committed before the give-up: the
// album may store the photo, and only its answer says so. The job is given the time that
// answer needs before the stop ends its wait; the allowance is looked at again and again,
// since it is known only once the end of the body has left the writer.
void AwaitCommittedAnswer(UploadJob& job) {
    OutputDebugStringA("quit: the photo's last bytes are out, its answer is awaited\n");
    const DWORD start = GetTickCount();
    while (AwaitJobResult(job, QuitAnswerSlice) == ResultUnknown) {
        if (job.AnswerEnded()) {
            OutputDebugStringA("quit: the answer ended without a verdict\n");
            return;
        }
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
    SentPhoto photo = {};
    CopyText(photo.path, job->FilePath);
    photo.stamp = job->sentFile;
    photo.list = job->QueueListWindow;
    photo.row = job->QueueRow;
    // Only the job's own result deletes a photo. A job that has not ended yet is being
    // torn down: its photo counts as not stored unless its run ends with "success".
    const int own = OwnResultOfFinishedJob(*job);
    int stood = own;
    if (own == ResultUnknown)
        stood = result == Ok ? Interrupted : result;
    if (stood == Ok) {
        RecordConfirmedUpload(photo);
    } else {
        SetStatus(photo.list, photo.row, Waiting);
        FailureCount += 1;
        if (FailureCount > FailureLimit)
            UploadJob::ShowJobResult(stood, true);
        else
            TeardownPause(FailedUploadPause);
    }
    // A job still under way is given up here (the window's teardown has done so already;
    // the answer stands): the one transition decides whether its body can still arrive
    // whole, and only then is its answer awaited.
    if (own == ResultUnknown && !job->RefuseNewRequests())
        AwaitCommittedAnswer(*job);
    static_cast<WorkerJob*>(job)->RequestStop();
    TeardownPause(UploadTeardownPause);
    // The window's teardown ends an upload as interrupted, yet inside the pauses above the
    // job may have read the album's "success" for the request already on the wire. The
    // photo is then stored: kept in temp, it would go to the album a second time with the
    // next hand-over. Once its thread has ended the job's own word stands.
    if (DisposeJob(job) == Ok && stood != Ok) {
        RecordConfirmedUpload(photo);
        stood = Ok;
    }
    TeardownPause(UploadTeardownPause);
    return stood;
}
