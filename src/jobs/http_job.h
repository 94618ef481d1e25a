#pragma once
// What the login and upload jobs share: an asynchronous HTTP client and a worker thread,
// the fields every job carries, and the operations of the completion protocol.

#include "http/http_client.h"
#include "jobs/worker_job.h"
#include "util/text_sizes.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// The user agent both jobs announce: the album service tells its uploaders by it.
constexpr char JobUserAgent[] = "Mozilla/4.0 (compatible; )";

// The alert texts of the results both jobs share; each job adds its own for Rejected.
namespace JobText {
inline constexpr char Interrupted[] = "ユーザーにより中断されました。";
inline constexpr char TimedOut[] = "タイムアウトしました。サーバから応答がありません。";
inline constexpr char ConnectFailed[] = "サーバに接続できませんでした。";
} // namespace JobText

// A job's alert: no owner, caption "警告", blocking its caller until dismissed. Its text
// also goes to the debugger, since a teardown may close the box before anyone reads it.
void ShowJobAlert(const char* text);

// A job's wait for its request is sliced coarser than the client's own; each slice is a
// moment at which the wait can end.
constexpr DWORD RequestWaitSlice = 200;
// After closing its handles a run waits for their closing notifications, WinINet's last
// calls into the job, so that the job is not destroyed under a callback; but no longer
// than 20 x 300 ms, should they never come (the teardown then sets the job aside).
constexpr int DrainPolls = 20;
constexpr DWORD DrainPollInterval = 300;
// The service's time to complete a request, and to answer an upload; after it the
// attempt counts as failed rather than leaving the user waiting for ever.
constexpr DWORD RequestTimeout = 60000;
// Both jobs read the service's answer in pieces of at most this many bytes: an answer is
// judged on its first bytes ("success", "fail" or a short token), never on a long page.
constexpr std::size_t AnswerPieceSize = 128;
// The transfer bar's span for a request's send: a run moves the bar on by this much over
// SendRequest, and a body written after the headers moves it through the span as it
// goes out.
constexpr int SendBarSpan = 20;

class HttpJob : public AsyncHttpClient, public WorkerJob {
  public:
    HttpJob();
    ~HttpJob() override;

    // Main thread, before the thread starts: the bar gets range 0-100 and position 0.
    void AttachProgressBar(HWND bar);
    void SetNotifyTarget(HWND window, UINT message, WPARAM param);

    // Any thread; never blocks. Gives the body up (GiveUpBody) and cuts the client's waits
    // short, so that a teardown never sits out a 60-second wait.
    void RequestStop() override;
    // Main thread, when the program quits: from now on the job hands no request to
    // WinINet, and a body whose end has not gone to WinINet never arrives whole. True when
    // that holds; false when the body's end was committed first: it may arrive whole, and
    // the job, not stopped by this, awaits and reads the answer until its teardown stops it.
    bool RefuseNewRequests();

    // Worker: closes the client's handles and waits (DrainPolls x DrainPollInterval at
    // most) for their closing notifications, or until a stop is requested.
    void CloseAndDrain();
    // WinINet reports every handle the job opened with one closing notification, the
    // last call it makes for that handle: a job may go once it has counted them all.
    bool AllClosingsArrived() const;
    // Worker: waits for completionEvent in RequestWaitSlice slices; a stop ends it.
    bool WaitForRequest(DWORD timeout);

    // The per-run fields back to zero (part of each job's Configure).
    void ResetRunFields();
    // Whether the run has posted its completion message, its last act, or its thread has
    // ended with the run returned. A completion message is taken for the job's only once
    // this holds and it carries the job's token (NotifyParam): any program can post one.
    bool Completed() const;
    // Whether a completion message with token in its wParam is this job's own.
    bool PostedCompletion(WPARAM token) const { return token == NotifyParam && Completed(); }

    std::atomic<int> LastStatus{0};
    std::atomic<int> BytesSent{0};
    std::atomic<int> ClosingCount{0};
    char ResponseBuffer[LongTextSize];
    int ResponseLength = 0;
    HWND ProgressBar = nullptr;
    HWND NotifyWindow = nullptr;
    UINT NotifyMessage = 0;
    WPARAM NotifyParam = 0;
    std::atomic<int> StopRequested{0};

  protected:
    void SetBar(int position);
    void AdvanceBar(int delta);
    // Appends a piece of the answer (bounded by the buffer) and shows it in the debugger.
    void AppendResponse(const char* piece, DWORD count);
    // Waits up to ms on the stop signal: a pause that a stop cuts short.
    void AwaitStop(DWORD ms);
    // Whether the completed request was answered with a 2xx status. An error page that
    // happens to read "success" or look like a token is no acceptance.
    bool AnsweredWithSuccessStatus();
    // The bar follows the body's send within SendBarSpan, a debugger line per step.
    void OnBodyProgress(std::uint32_t sent, std::uint32_t total) override;
    // After SendRequest: on to the send's end mark, by what of SendBarSpan the body's
    // progress has not shown yet.
    void CompleteSendShare();
    // The last act of every run: posts the completion message and returns result.
    int Complete(int result);
    // The result of a request that ended without a completion to await (sendOutcome not
    // Handed): a stop is an interruption, a stall a time-out, and anything else the
    // attempt's failure, failed (nothing went out, or nothing will answer).
    int ResultWithoutCompletion(int failed) const;

  private:
    std::atomic<bool> completed_{false};
    HANDLE stopSignal_ = nullptr;
    // Where this job has put the bar, and how much of the send's span its progress showed.
    int barPosition_ = 0;
    int sendShareShown_ = 0;
};

// An upload's answer that ended short of the 4 bytes it is judged on is looked at again
// this often until its time runs out or a stop comes.
constexpr DWORD AnswerIdleSlice = 200;

// Main thread, in a teardown after RequestStop: waits until the job's thread has ended
// (servicing messages sent to this thread meanwhile, so a worker blocked on the progress
// bar can finish, and closing any alert the job's thread shows), then closes the client's
// handles and waits a moment for each handle the job opened to report its closing, the
// last thing WinINet does with the job. True when all that happened: neither the thread
// nor WinINet will touch the job again.
bool RetireJob(HttpJob& job, DWORD threadLimit, DWORD closingLimit);

// Main thread: a teardown's pause, in which messages that other threads send to this
// thread's windows are still handled (posted ones stay queued). A job's thread moves the
// progress bar by SendMessage; with the main thread asleep it would stand still at its
// next move for the whole pause and could not use it to finish its step, an answer the
// album has already sent, say.
void TeardownPause(DWORD ms);

// What DisposeJob returns for a job whose run has not ended (or never started): its own
// result is not known.
constexpr int ResultUnknown = -1;

// Main thread: waits up to limit ms for the job's thread to end, servicing the messages
// it sends meanwhile and closing an alert it shows; the JobResult its run returned once it
// has ended, ResultUnknown otherwise.
int AwaitJobResult(HttpJob& job, DWORD limit);

// Retires the job and destroys it. A job that WinINet may still report to (a request
// whose answer never came stays open in WinINet until the connection gives up) is kept
// aside instead and destroyed by a later call, once its closings have all arrived.
// Returns the JobResult the job's run returned, once its thread has ended; ResultUnknown
// while it still runs or for no job.
int DisposeJob(HttpJob* job);
