#pragma once
// The HTTP client on WinINet that the login and upload jobs derive from.
//
// HttpClient holds the three WinINet handles, the connection target, the object path and
// two ordered lists: the form fields of the next request and the cookies set before it.
// AsyncHttpClient adds the asynchronous mode: a session opened with INTERNET_FLAG_ASYNC and
// a status callback (status_callback.h), the result of the last completed operation and a
// completion event. A job derives from AsyncHttpClient as its first base and passes itself
// as the WinINet context value, so the callback reaches both through one pointer.
//
// The virtual operations, in their order in the table: the destructor, Connect,
// PostMultipart, PostForm, Get; then AsyncPostMultipart, AsyncPostForm, AsyncGet, and
// OnBodyProgress, the report of a body's send. The synchronous ones (Connect, Get,
// PostForm, PostMultipart) and AsyncGet complete the client's interface; nothing in the
// uploader calls them.

#include "http/body_fate.h"
#include "http/body_writer.h"
#include "http/heap_block.h"
#include "http/http_types.h"
#include "http/request_handle.h"
#include "util/paths.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class HttpClient {
  public:
    HttpClient() = default;
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;
    // Empties the field and cookie lists. Closes no WinINet handle: the owner calls
    // CloseHandles before it lets the object go.
    virtual ~HttpClient();

    // Opens a synchronous session and a connection. Port 0 selects the scheme's default.
    // Never throws; false when no connection was made.
    virtual bool Connect(const char* host, std::int32_t port, const char* user,
                         const char* password, Scheme scheme, const char* agent);
    // The synchronous requests: true, or a thrown message text (client_errors.h).
    virtual bool PostMultipart(const char* path, const char* referrer);
    virtual bool PostForm(const char* path, const char* referrer);
    virtual bool Get(const char* path, const char* referrer);

    // Closes the request, connection and session handles, each only if set.
    void CloseHandles();
    void AddFormField(const char* name, const char* value, bool isFile);
    void ClearFormFields();
    void ClearCookies();

    std::uint32_t FormBodyLength() const;
    std::uint32_t BuildFormBody(char* buffer, std::uint32_t capacity) const;
    std::string CookieUrl(const char* path) const;

    // Reads up to size bytes of the response into buffer. True with bytesRead 0 at the end
    // of the body. Before the answer's bytes are in (the asynchronous session) it waits for
    // them, at most 10 s and only until stopEvent is signalled. On failure the request
    // handle is closed and false returned. Never throws.
    // A read that WinINet could not finish at once fails, but Wine still completes it later;
    // it then writes into the client itself, so the client must live until the request's
    // HANDLE_CLOSING has arrived (the jobs' drain waits for it).
    bool ReadResponse(char* buffer, std::int32_t size, DWORD& bytesRead);
    // The HTTP status code of the completed request, 0 when there is none.
    DWORD ResponseStatus() const;

    // The multipart body (src/upload/multipart_body.cpp). The estimate is the room the
    // parts may take: 8192 bytes per plain field, file size + 6144 per file field.
    std::uint64_t EstimateBodySize() const;
    // Allocates the body on the process heap into *body (which must hold null) and
    // returns its length. 0 means no usable body: *body was not null (nothing allocated),
    // or bodyFailure says why: the block would be too large or could not be allocated
    // (*body stays null), or a part did not fit or its file could not be read whole (the
    // block is left in *body for FreeMultipartBody).
    std::uint32_t BuildMultipartBody(char** body, const char* boundary);
    // Writes one part into dest, using at most room - 1 bytes (the last is kept for a
    // terminator). Returns the part's length, or 0, with bodyFailure set, when it does not
    // fit or, for a file field, when the file cannot be read whole: not opened, or its
    // bytes not exactly the size it had when opened (a read error, a short read, a file
    // still growing).
    std::size_t WriteFormPart(const FormField& field, char* dest, std::size_t room,
                              const char* boundary);
    BOOL FreeMultipartBody(char* body) const;

    HINTERNET sessionHandle = nullptr;
    HINTERNET connectionHandle = nullptr;
    // Closed exactly once, by whichever of the client and its body's writer comes first.
    RequestHandle requestHandle;
    std::string host;
    std::string user;
    std::string password;
    std::string path;
    std::int32_t port = 0;
    Scheme scheme = Scheme::Ftp;
    std::vector<FormField> formFields;
    std::vector<FormField> cookies;
    // Set by the last BuildMultipartBody: why it gave no body (None when it gave one), and
    // the stamp of the file whose bytes went in.
    BodyFailure bodyFailure = BodyFailure::None;
    FileStamp sentFile;
    // How many WinINet handles this client opened with a context value (the connection and
    // each request of the asynchronous session). Each reports one HANDLE_CLOSING as the
    // last notification for it, so a job may go once it has counted that many.
    int contextHandlesOpened = 0;
    // Set by the owning job, which owns it: signalled, it ends the client's waits (the
    // caller's, the one inside the POST operations and a pending read) so that a stop is
    // not held up by a long wait. Null: the waits run their full time.
    HANDLE stopEvent = nullptr;
    // REQUEST_COMPLETE notifications counted by the status callback, with whether the
    // last one reported success (dwResult): a question for the answer's bytes that pends
    // waits for its own completion.
    std::atomic<unsigned> completionCount{0};
    std::atomic<bool> lastCompletionOk{false};

  protected:
    // The shared construction steps of every request; each throws its message.
    void OpenRequest(const char* verb, const char* objectPath, const char* referrer, DWORD flags,
                     DWORD_PTR context);
    void AddRequestHeader(const char* line, DWORD modifiers);
    void AddAcceptHeader();
    void SetRequestCookies(const char* objectPath);
    DWORD RequestFlags(bool post) const;
    // Closes connectionHandle and sessionHandle after a failed connect.
    void DropConnection();

  private:
    // Waits (stop-aware, at most 10 s) for the completion after completionsBefore.
    bool AwaitPendingCompletion(unsigned completionsBefore);
    // Returns once some of the answer is buffered or its end is known; throws otherwise.
    void AwaitAnswerBytes();

    // Where InternetReadFile writes, rather than into the caller's buffer and count: a
    // pending read outlives the call that started it (see ReadResponse).
    char readLanding_[4096] = {};
    INTERNET_BUFFERSA readBuffers_ = {};
    DWORD availableLanding_ = 0;
};

// The waits for a request's completion: the client's own in slices of 100 ms, a job's
// in slices of 200 ms; INFINITE stands for 600 slices (60 s or 120 s).
constexpr DWORD CompletionWaitSlice = 100;
constexpr DWORD DefaultWaitSlices = 600;
// A body that WinINet has taken nothing of for this long has stalled: as long as the
// client waits for a send to complete. A job sets its own (AsyncHttpClient::stallLimit).
constexpr DWORD DefaultStallLimit = CompletionWaitSlice * DefaultWaitSlices;
// The sending thread looks at the body's progress this often; each look is also a moment
// at which a stop ends the send.
constexpr DWORD BodyProgressSlice = CompletionWaitSlice;
// A multipart body up to this size goes with the headers, as a form's does, not in pieces
// after them: a fresh connection's socket takes it at once (about 48 KiB on every link
// measured, 8 kbit/s to loopback), so there is nothing to watch, and a writer's thread
// would add its start and its wake-up to every small photo (about 4 ms a file under Wine).
constexpr std::uint32_t WholeBodyLimit = 16 * 1024;

// How the last request's send ended, for its caller: whether a completion is owed, and if
// not, why. Until a send says otherwise, a wait waits for its completion.
enum class SendOutcome {
    // The request is WinINet's: its completion comes, with an answer or a failure.
    Handed,
    // Nothing went out: the body could not be built, or WinINet refused a time-out.
    NotSent,
    // A stop or a give-up came first: before the request went out, or while its body was
    // being written.
    Stopped,
    // The body stopped moving: nothing was taken of it for the stall limit.
    Stalled,
    // The send failed where nothing will complete it.
    Failed,
};

class AsyncHttpClient : public HttpClient {
  public:
    // The asynchronous requests, called by SendRequest through the table.
    virtual bool AsyncPostMultipart(DWORD_PTR context, const char* path, const char* referrer);
    virtual bool AsyncPostForm(DWORD_PTR context, const char* path, const char* referrer);
    virtual bool AsyncGet(DWORD_PTR context, const char* path, const char* referrer);

    // Parses url and connects asynchronously to its host; user and password default to
    // those in the URL. Never throws.
    bool Open(const char* url, INTERNET_STATUS_CALLBACK statusCallback, DWORD_PTR context,
              const char* user, const char* password, const char* agent);
    bool ConnectAsync(const char* host, std::int32_t port, INTERNET_STATUS_CALLBACK statusCallback,
                      DWORD_PTR context, const char* user, const char* password, Scheme scheme,
                      const char* agent);
    // Creates completionEvent and starts a request of kind. True when it was started; on
    // failure the request handle is closed and sendOutcome says whether a completion is
    // still owed (Handed) and otherwise why not. Never throws.
    bool SendRequest(DWORD_PTR context, const char* path, RequestKind kind, const char* referrer);
    // Waits for completionEvent in slices of CompletionWaitSlice; INFINITE means
    // DefaultWaitSlices of them. True when the event was signalled, or when there is
    // none; false when the time ran out, stopEvent was signalled first, or the last send
    // ended where no completion is owed.
    bool WaitForCompletion(DWORD timeout);

    // Any thread: gives the body up (body_fate.h), unless its end was committed first.
    // True when it is given up: it never arrives whole, and no request of this client is
    // handed to WinINet any more. False when the body may arrive whole; only its answer
    // says whether the service stored it. by names who gave up, for the debugger line.
    bool GiveUpBody(const char* by);

    DWORD asyncResult = 0;
    DWORD asyncError = 0;
    HANDLE completionEvent = nullptr;
    // The body of the request in progress. Wine's asynchronous send goes on reading the
    // caller's block after HttpSendRequestExA has returned, and a wait that gives up (a
    // stop, the 60 s time-out) does not end that send. So the block stays with the client,
    // which its job lets go only once WinINet has reported every handle closed; a body
    // written in pieces goes to its writer instead (body_writer.h).
    HeapBlock sentBody;
    // How long a body may go without WinINet taking a byte of it before its send counts as
    // stalled. A slow link is not a stalled one: only a body that stops moving fails.
    DWORD stallLimit = DefaultStallLimit;
    // How long the caller waits for the answer once the body has left (the body's drain
    // comes on top): WinINet's receive time-out is set beyond it. A job sets its own.
    DWORD answerLimit = DefaultStallLimit;
    // How many bytes at the end of a multipart body written in pieces are held back until
    // the body's fate commits to them: a body cut anywhere before them is one the service
    // refuses. Its owner knows the body's layout and names them (at least one byte).
    std::uint32_t bodyEndLength = 1;
    // See SendOutcome.
    std::atomic<SendOutcome> sendOutcome{SendOutcome::Handed};

    // Whether a thread still writes the last request's body. Until it has ended, the
    // body's block may still be read (see body_writer.h).
    bool BodyWriterRunning() const { return !bodyWriter_.Ended(); }
    // Waits up to limit ms for the body's writer to end; true when it has (or never ran).
    bool AwaitBodyWriter(DWORD limit) const;
    // Once the body is out: how long what the socket still held after its end may take to
    // leave, at the rate the pieces measured and with a margin, or at the floor rate where
    // they measured none or the body went with the headers (see BodyPace::DrainMs). The
    // answer's time is counted from then. 0 until the body is out.
    DWORD BodyDrainAllowance() const { return bodyDrainAllowance_; }
    // The part of that allowance a measured rate backs: 0 where only the floor rate gave
    // one (a body that went without a wait, on any link from the crawl up).
    DWORD MeasuredDrainAllowance() const { return measuredDrainAllowance_; }
    // Closes the handles as HttpClient's does; the request handle only once the body's
    // writer uses it no more (it is closed by the teardown after the writer's end).
    void CloseHandles();
    // The status callback, for a REQUEST_COMPLETE: true when it ends a pending piece of the
    // body, which then has nothing to do with the request's own completion.
    bool TakePieceCompletion(DWORD result, DWORD error) {
        return bodyWriter_.TakeCompletion(result, error);
    }

  protected:
    // Only ever created as the first base of a job.
    AsyncHttpClient() = default;
    // Called on the sending thread each time WinINet has taken more of a body written after
    // the headers: sent of total bytes. The last slot of the client's table.
    virtual void OnBodyProgress(std::uint32_t sent, std::uint32_t total);
    // The one wait for a request: completionEvent in slices of slice ms, timeout / slice
    // of them (DefaultWaitSlices for INFINITE), ended early by stopEvent.
    bool WaitInSlices(DWORD timeout, DWORD slice);

    // How the writing of a body after its headers ended (body_stream.cpp).
    enum class BodyOutcome {
        // Every byte was taken, the end among them.
        Sent,
        // A piece failed: the rest was not written, and the connection is broken.
        CutShort,
        // Nothing was taken for the stall limit, and the give-up came before the end.
        Stalled,
        // A stop or a give-up came first.
        Stopped,
        // A pending piece was cancelled by closing the request: nothing will complete it.
        Cancelled,
    };
    // Between the send's completion and the end request: watches the writer that the send
    // started, moving the progress, until it has written the body or the body has ended
    // otherwise. A stall or a stop gives the body up; where its end was committed first, a
    // stall is waited out (the end's piece ends by itself, taken or at its limit) and a
    // stop still ends the watch, since whoever stopped has given the answer its time.
    BodyOutcome StreamBody(std::uint32_t total);
    // Starts the writer for a body of total bytes that the record announced and carries
    // none of (taken from sentBody); throws, with sendOutcome Failed, when it cannot.
    void StartWriter(std::uint32_t total);

  private:
    BodyWriter bodyWriter_;
    BodyFate bodyFate_;
    // Read by the UI thread's teardown while the job's thread sets them.
    std::atomic<DWORD> bodyDrainAllowance_{0};
    std::atomic<DWORD> measuredDrainAllowance_{0};

    // WinINet's time-outs for the request about to be sent, each beyond the program's own
    // wait for that step (request_limits.h); throws when WinINet refuses one.
    void SetRequestLimits();
    // The receive time-out once the body is out: the answer's wait and the body's drain.
    void SetAnswerLimit();
    // Right before the end of the body goes to WinINet with the send's record (a form, a
    // small photo): throws, with nothing sent, when the body was given up first.
    void CommitWholeBody();
    // What both asynchronous POSTs do once their record is filled: send it, wait for the
    // send to complete, write what the record does not carry, start the end request.
    void SendBufferedPost(INTERNET_BUFFERSA& record, DWORD_PTR context);
};

// The Content-Type lines and boundaries of the two multipart requests. The header's
// boundary parameter carries the two leading hyphens of the boundary text, so every
// delimiter line in the body begins with four hyphens; the service expects exactly this.
inline constexpr char SyncMultipartBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
inline constexpr char SyncMultipartContentType[] =
    "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n";
inline constexpr char UploadBoundary[] = "--TAVIK-VISTORA-UPLOAD-FORM-DATA";
inline constexpr char UploadContentType[] =
    "Content-Type: multipart/form-data; boundary=--TAVIK-VISTORA-UPLOAD-FORM-DATA\r\n";
inline constexpr char FormContentType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
