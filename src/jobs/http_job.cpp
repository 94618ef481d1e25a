#include "jobs/http_job.h"

#include "jobs/job_messages.h"
#include "util/debug_line.h"
#include "util/progress.h"
#include "util/wide_text.h"
#include "util/win_handles.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <vector>

HttpJob::HttpJob() {
    std::memset(ResponseBuffer, 0, sizeof ResponseBuffer);
    stopSignal_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    stopEvent = stopSignal_;
    // The job's minute for a request measures a link that does not move, not a slow one.
    stallLimit = RequestTimeout;
    answerLimit = RequestTimeout;
}

// The completion event is closed only here, never after a wait: a send or end request
// that completes after its wait gave up (a stop, a time-out) still signals it, and a
// closed handle's value may by then name another object. A job is destroyed only once
// WinINet has reported every handle closed, its last call for them.
HttpJob::~HttpJob() {
    if (IsValidHandle(completionEvent))
        CloseHandle(completionEvent);
    completionEvent = nullptr;
    stopEvent = nullptr;
    if (stopSignal_ != nullptr)
        CloseHandle(stopSignal_);
}

void HttpJob::AttachProgressBar(HWND bar) {
    ProgressBar = bar;
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    barPosition_ = 0;
}

void HttpJob::SetNotifyTarget(HWND window, UINT message, WPARAM param) {
    NotifyWindow = window;
    NotifyMessage = message;
    NotifyParam = param;
}

void HttpJob::RequestStop() {
    StopRequested = 1;
    GiveUpBody("stop");
    if (stopSignal_ != nullptr)
        SetEvent(stopSignal_);
}

bool HttpJob::RefuseNewRequests() {
    return GiveUpBody("quit");
}

void HttpJob::ResetRunFields() {
    LastStatus = 0;
    BytesSent = 0;
    ClosingCount = 0;
    std::memset(ResponseBuffer, 0, sizeof ResponseBuffer);
    ResponseLength = 0;
    StopRequested = 0;
    completed_ = false;
    sendShareShown_ = 0;
    if (stopSignal_ != nullptr)
        ResetEvent(stopSignal_);
}

bool HttpJob::Completed() const {
    return completed_ || (threadHandle != nullptr && running == 0 &&
                          WaitForSingleObject(threadHandle, 0) == WAIT_OBJECT_0);
}

void HttpJob::CloseAndDrain() {
    CloseHandles();
    for (int poll = 0; poll < DrainPolls; ++poll) {
        if (StopRequested || AllClosingsArrived())
            return;
        Sleep(DrainPollInterval);
    }
}

bool HttpJob::AllClosingsArrived() const {
    return ClosingCount >= contextHandlesOpened;
}

bool HttpJob::WaitForRequest(DWORD timeout) {
    return WaitInSlices(timeout, RequestWaitSlice);
}

void HttpJob::SetBar(int position) {
    SendMessageA(ProgressBar, PBM_SETPOS, position, 0);
    barPosition_ = position;
    // Where each run leaves the bar, for a reader who cannot catch the bar in time.
    WriteDebugLine("transfer bar %d\n", position);
}

void HttpJob::AdvanceBar(int delta) {
    SendMessageA(ProgressBar, PBM_DELTAPOS, delta, 0);
    barPosition_ += delta;
}

void HttpJob::OnBodyProgress(std::uint32_t sent, std::uint32_t total) {
    const int share = ShareOfSpan(sent, total, SendBarSpan);
    if (share <= sendShareShown_)
        return;
    AdvanceBar(share - sendShareShown_);
    sendShareShown_ = share;
    WriteDebugLine("transfer bar %d\n", barPosition_);
}

void HttpJob::CompleteSendShare() {
    // Each step is a message to the UI thread; a body's progress may have shown them all.
    if (sendShareShown_ < SendBarSpan)
        AdvanceBar(SendBarSpan - sendShareShown_);
    sendShareShown_ = SendBarSpan;
}

void HttpJob::AppendResponse(const char* piece, DWORD count) {
    const std::size_t room = sizeof ResponseBuffer - 1 - static_cast<std::size_t>(ResponseLength);
    const std::size_t taken = std::min<std::size_t>(count, room);
    std::memcpy(ResponseBuffer + ResponseLength, piece, taken);
    ResponseLength += static_cast<int>(taken);

    WriteDebugLine("%.*s\r\n", static_cast<int>(count), piece);
}

void HttpJob::AwaitStop(DWORD ms) {
    if (IsValidHandle(stopSignal_))
        WaitForSingleObject(stopSignal_, ms);
    else
        Sleep(ms);
}

bool HttpJob::AnsweredWithSuccessStatus() {
    const DWORD status = ResponseStatus();
    WriteDebugLine("HTTP status %lu\n", static_cast<unsigned long>(status));
    return status >= 200 && status < 300;
}

int HttpJob::ResultWithoutCompletion(int failed) const {
    switch (sendOutcome.load()) {
    case SendOutcome::Stopped:
        return Interrupted;
    case SendOutcome::Stalled:
        return TimedOut;
    default:
        return StopRequested ? Interrupted : failed;
    }
}

int HttpJob::Complete(int result) {
    completed_ = true;
    PostMessageA(NotifyWindow, NotifyMessage, NotifyParam, result);
    return result;
}

WPARAM NewCompletionToken() {
    // Seeded from the clock and the process, so that a token of one run says nothing of
    // the next; then a step that comes back to no earlier value for 2^32 tokens.
    static std::uint32_t last = [] {
        LARGE_INTEGER now = {};
        QueryPerformanceCounter(&now);
        return static_cast<std::uint32_t>(now.QuadPart) ^ (GetCurrentProcessId() << 16) ^
               GetTickCount();
    }();
    do {
        last = last * 1664525u + 1013904223u;
    } while (last == 0);
    return static_cast<WPARAM>(last);
}

void ShowJobAlert(const char* text) {
    WriteDebugLine("job alert: %s\n", text);
    MessageBoxW(nullptr, WideText(text).c_str(), WideText("警告").c_str(),
                MB_ICONINFORMATION | MB_OK);
}

namespace {

BOOL CALLBACK CloseAlert(HWND window, LPARAM) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") == 0)
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// Lets the UI thread handle messages that other threads send to its windows, and only
// those: posted messages (a completion message, say) stay queued for the loop.
void ServiceSentMessages() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// How long a teardown waits for a job's thread to end (its alert closed, its drain
// done), then for the writer of its body (whose piece in hand carries at most MaxPieceMs
// of the link's measured rate; a writer still in it after that is set aside with its
// job), and then for the closings of its handles, polled this often.
constexpr DWORD ThreadEndLimit = 15000;
constexpr DWORD BodyWriterEndLimit = 2000;
constexpr DWORD ClosingLimit = 2000;
constexpr DWORD ClosingPollInterval = 10;
// How often a waiting teardown services messages that the job's thread sends it.
constexpr DWORD SentMessageSlice = 50;

// Teardowns that could not destroy their job yet leave it here.
std::vector<HttpJob*> ParkedJobs;

bool JobThreadEnded(HttpJob& job) {
    return job.threadHandle == nullptr || WaitForSingleObject(job.threadHandle, 0) == WAIT_OBJECT_0;
}

// Both of a job's threads: its own and the writer of its request's body.
bool ThreadEnded(HttpJob& job) {
    return JobThreadEnded(job) && !job.BodyWriterRunning();
}

// The result the job's run returned: its thread sets it before it clears the running flag.
int OwnResult(const HttpJob& job) {
    if (job.threadHandle == nullptr || job.running != 0)
        return ResultUnknown;
    return job.exitCode;
}

bool WaitForThread(HttpJob& job, DWORD limit) {
    if (job.threadHandle == nullptr)
        return true;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD waited = MsgWaitForMultipleObjects(1, &job.threadHandle, FALSE, SentMessageSlice,
                                                 QS_SENDMESSAGE);
        if (waited == WAIT_OBJECT_0)
            return true;
        if (waited == WAIT_FAILED)
            return false;
        ServiceSentMessages();
        // The job's alert waits for a user who is closing the program; an ownerless box
        // would otherwise hold the teardown until it is answered.
        EnumThreadWindows(job.threadId, CloseAlert, 0);
        if (GetTickCount() - start >= limit)
            return false;
    }
}

} // namespace

int AwaitJobResult(HttpJob& job, DWORD limit) {
    return WaitForThread(job, limit) ? OwnResult(job) : ResultUnknown;
}

void TeardownPause(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms)
            return;
        const DWORD waited =
            MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_SENDMESSAGE);
        if (waited == WAIT_FAILED) {
            Sleep(ms - elapsed);
            return;
        }
        ServiceSentMessages();
    }
}

bool RetireJob(HttpJob& job, DWORD threadLimit, DWORD closingLimit) {
    if (!WaitForThread(job, threadLimit))
        return false;
    // A body's writer still uses the request handle and the body: nothing is closed
    // before it has ended. On a dead link it ends only with its socket's time-out.
    if (!job.AwaitBodyWriter(BodyWriterEndLimit))
        return false;
    job.CloseHandles();
    const DWORD start = GetTickCount();
    while (!job.AllClosingsArrived()) {
        if (GetTickCount() - start >= closingLimit)
            return false;
        Sleep(ClosingPollInterval);
    }
    return true;
}

int DisposeJob(HttpJob* job) {
    // Jobs set aside by earlier teardowns go as soon as nothing can reach them any more.
    // One set aside while its thread still ran kept its handles open (a stop or time-out
    // path of its run does not close them); once the thread has ended they are closed
    // here, so that their closings can come and the job can go.
    for (auto parked = ParkedJobs.begin(); parked != ParkedJobs.end();) {
        if (!ThreadEnded(**parked)) {
            ++parked;
            continue;
        }
        (*parked)->CloseHandles();
        if ((*parked)->AllClosingsArrived()) {
            delete *parked;
            parked = ParkedJobs.erase(parked);
        } else {
            ++parked;
        }
    }
    if (job == nullptr)
        return ResultUnknown;
    if (RetireJob(*job, ThreadEndLimit, ClosingLimit)) {
        OutputDebugStringA("job retired: its thread has ended and its handles are closed\n");
        const int result = OwnResult(*job);
        delete job;
        return result;
    }
    if (!JobThreadEnded(*job))
        OutputDebugStringA("job set aside: its thread has not ended\n");
    else if (job->BodyWriterRunning())
        OutputDebugStringA("job set aside: its request's body is still being written\n");
    else
        OutputDebugStringA("job set aside: its thread has ended, WinINet still holds a request\n");
    // A job whose answer never came may stay here for minutes; a body written in pieces is
    // not kept with it (its writer lets it go), or stalled attempts would pile up photos.
    ParkedJobs.push_back(job);
    return OwnResult(*job);
}
