#include "http/client_errors.h"
#include "http/http_client.h"
#include "http/request_bodies.h"
#include "util/bounded_text.h"
#include "util/debug_line.h"
#include "util/win_handles.h"

#include <cstring>

namespace {

bool SetLimit(HINTERNET request, DWORD option, DWORD ms) {
    if (InternetSetOptionA(request, option, &ms, sizeof ms))
        return true;
    WriteDebugLine("request time-out not set: option %lu, error %lu\n",
                   static_cast<unsigned long>(option), static_cast<unsigned long>(GetLastError()));
    return false;
}

} // namespace

bool AsyncHttpClient::SendRequest(DWORD_PTR context, const char* objectPath, RequestKind kind,
                                  const char* referrer) {
    // A job sends one request, and its event lives until the job is destroyed
    // (HttpJob's destructor): a completion that comes after a wait gave up still signals it.
    completionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    bodyStalled = false;
    bodyDrainAllowance_ = 0;
    measuredDrainAllowance_ = 0;
    recordCarriedEnd_ = false;
    bool started = false;
    try {
        switch (kind) {
        case RequestKind::GetRequest:
            started = AsyncGet(context, objectPath, referrer);
            break;
        case RequestKind::FormRequest:
            started = AsyncPostForm(context, objectPath, referrer);
            break;
        case RequestKind::MultipartRequest:
            started = AsyncPostMultipart(context, objectPath, referrer);
            break;
        default:
            ReportClientFailure("SendRequest", "unknown request kind");
            break;
        }
        if (started)
            path = objectPath;
    } catch (const char* message) {
        ReportClientFailure("SendRequest", message);
        started = false;
    } catch (...) {
        ReportClientFailure("SendRequest", ClientError::UnknownException);
        started = false;
    }
    // A body's writer that has not ended yet still uses the request handle: a closed
    // handle's value could by its next piece name another request. The job's teardown
    // closes it once the writer has ended.
    if (!BodyWriterRunning())
        ForgetRequestClosedByWriter();
    if (!started && requestHandle != nullptr && !BodyWriterRunning()) {
        // In the asynchronous session this close is reported as one HANDLE_CLOSING.
        InternetCloseHandle(requestHandle);
        requestHandle = nullptr;
    }
    return started;
}

bool AsyncHttpClient::AsyncGet(DWORD_PTR context, const char* objectPath, const char* referrer) {
    OpenRequest("GET", objectPath, referrer, RequestFlags(false), context);
    AddAcceptHeader();
    SetRequestCookies(objectPath);
    // The completion of the send is left to the caller's wait.
    if (!HttpSendRequestA(requestHandle, nullptr, 0, nullptr, 0) &&
        GetLastError() != ERROR_IO_PENDING)
        throw ClientError::AsyncRequestFailed;
    return true;
}

bool AsyncHttpClient::AsyncPostForm(DWORD_PTR context, const char* objectPath,
                                    const char* referrer) {
    OpenRequest("POST", objectPath, referrer, RequestFlags(true), context);
    AddAcceptHeader();
    SetRequestCookies(objectPath);

    FormBody body(*this, ClientError::SendFailed);
    const std::uint32_t length = body.Length();
    sentBody = body.Release();
    // One record per operation for the whole program: two clients never run the same
    // asynchronous POST at once (one login job, one upload job).
    static INTERNET_BUFFERSA record;
    record = INTERNET_BUFFERSA{};
    record.dwStructSize = sizeof record;
    record.lpcszHeader = FormContentType;
    record.dwHeadersLength = static_cast<DWORD>(std::strlen(FormContentType));
    record.lpvBuffer = sentBody.Get();
    record.dwBufferLength = length;
    // Wine's WinINet takes Content-Length from dwBufferTotal and sends "0" when it is 0,
    // so the service would read an empty body; Windows already sends the right length.
    record.dwBufferTotal = length;
    SendBufferedPost(record, context);
    return true;
}

bool AsyncHttpClient::AsyncPostMultipart(DWORD_PTR context, const char* objectPath,
                                         const char* referrer) {
    OpenRequest("POST", objectPath, referrer, RequestFlags(true), context);
    AddAcceptHeader();
    AddRequestHeader(UploadContentType, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    SetRequestCookies(objectPath);

    MultipartBody body(*this, UploadBoundary, ClientError::SendFailed);
    const std::uint32_t length = body.Length();
    sentBody = body.Release();
    char contentLength[1024];
    FormatText(contentLength, sizeof contentLength, "Content-Length: %d\r\n",
               static_cast<int>(length));
    AddRequestHeader(contentLength, HTTP_ADDREQ_FLAG_ADD_IF_NEW);

    // The record announces the body and carries none of it: the body follows the headers
    // in pieces (SendRestOfBody), so that its progress can be seen and a slow link told
    // from a stalled one. A small body goes in the record (see WholeBodyLimit), and the
    // client keeps its block as for a form. The bytes on the wire are the same.
    static INTERNET_BUFFERSA record;
    record = INTERNET_BUFFERSA{};
    record.dwStructSize = sizeof record;
    if (length <= WholeBodyLimit) {
        record.lpvBuffer = sentBody.Get();
        record.dwBufferLength = length;
    }
    // See AsyncPostForm: without the total, Wine announces and sends an empty body.
    record.dwBufferTotal = length;
    SendBufferedPost(record, context);
    return true;
}

void AsyncHttpClient::SendBufferedPost(INTERNET_BUFFERSA& record, DWORD_PTR context) {
    SetRequestLimits();
    RefuseIfStopped();
    // From the send on, a body the record carries whole may reach the service whole.
    const bool whole = record.dwBufferLength >= record.dwBufferTotal;
    recordCarriedEnd_ = whole;
    if (!HttpSendRequestExA(requestHandle, &record, nullptr, HSR_INITIATE, context) &&
        GetLastError() != ERROR_IO_PENDING)
        throw ClientError::SendFailed;
    // The event is auto-reset: this wait consumes the completion of the send, and the
    // completion of the end request below is left for the caller's wait.
    if (!WaitForCompletion(INFINITE))
        throw ClientError::SendFailed;
    // The send's outcome is taken from the send's own completion, before the end request
    // starts: a connection that fails fast completes the end request (and overwrites
    // asyncError) before HttpEndRequestA has even returned, and the request would then
    // fail here or not depending on which thread ran first.
    const DWORD sendError = asyncError;
    if (sendError == 0) {
        if (whole)
            bodyDrainAllowance_ = FloorDrainMs(record.dwBufferLength);
        else
            SendRestOfBody(record);
        SetAnswerLimit();
    }
    const BOOL ended = HttpEndRequestA(requestHandle, nullptr, HSR_ASYNC | HSR_INITIATE, context);
    if ((!ended && GetLastError() != ERROR_IO_PENDING) || sendError != 0)
        throw ClientError::SendFailed;
}

void AsyncHttpClient::SetRequestLimits() {
    // Each is set on the request before it is sent: Wine applies the send time-out when it
    // sends the headers and the receive time-out when it starts reading the answer, and
    // ignores both on a session handle. Left to their defaults, Windows would end a send
    // or the wait for the answer after 30 s (the slow link's drain and the service's
    // minute), and Wine would wait for ever on a dead link.
    // - send: bounds each piece of a body on a dead link, beyond the stall limit (without it
    //   a writer left on such a link ends only when TCP gives up, a quarter of an hour later,
    //   and its job with the body waits for it);
    // - receive: the answer's wait with the longest drain (MaxDrainMs); SetAnswerLimit
    //   narrows it once the drain is known, where a WinINet takes a later, shorter one.
    const bool set =
        SetLimit(requestHandle, INTERNET_OPTION_CONNECT_TIMEOUT, ConnectLimit) &&
        SetLimit(requestHandle, INTERNET_OPTION_SEND_TIMEOUT, stallLimit + SocketLimitGrace) &&
        SetLimit(requestHandle, INTERNET_OPTION_RECEIVE_TIMEOUT,
                 answerLimit + MaxDrainMs + SocketLimitGrace);
    if (!set)
        throw ClientError::LimitsRefused;
}

void AsyncHttpClient::SetAnswerLimit() {
    // Refused, the longer limit set before the send stands: the client's own wait still
    // judges first.
    if (requestHandle != nullptr)
        SetLimit(requestHandle, INTERNET_OPTION_RECEIVE_TIMEOUT,
                 answerLimit + bodyDrainAllowance_ + SocketLimitGrace);
}

void AsyncHttpClient::RefuseIfStopped() const {
    for (HANDLE signal : {stopEvent, quitEvent}) {
        if (IsValidHandle(signal) && WaitForSingleObject(signal, 0) == WAIT_OBJECT_0)
            throw ClientError::StoppedBeforeSending;
    }
}

bool AsyncHttpClient::WaitInSlices(DWORD timeout, DWORD slice) {
    if (bodyStalled)
        return false;
    if (!IsValidHandle(completionEvent))
        return true;
    // A timeout shorter than one slice waits for nothing.
    const DWORD slices = timeout == INFINITE ? DefaultWaitSlices : timeout / slice;
    const HANDLE events[] = {completionEvent, stopEvent};
    const DWORD count = IsValidHandle(stopEvent) ? 2 : 1;
    for (DWORD i = 0; i < slices; ++i) {
        // The completion wins when both are signalled. A failed or abandoned wait ends the
        // wait as well as a signal does.
        const DWORD waited = WaitForMultipleObjects(count, events, FALSE, slice);
        if (waited == WAIT_OBJECT_0 + 1)
            return false;
        if (waited != WAIT_TIMEOUT)
            return true;
    }
    return false;
}

bool AsyncHttpClient::WaitForCompletion(DWORD timeout) {
    return WaitInSlices(timeout, CompletionWaitSlice);
}

void AsyncHttpClient::SendRestOfBody(const INTERNET_BUFFERSA& record) {
    const std::uint32_t total = record.dwBufferTotal;
    const std::uint32_t carried = record.dwBufferLength;
    if (carried >= total)
        return;
    // Only a record that carries none of its body (AsyncPostMultipart's) comes here, so
    // WinINet keeps no pointer into the block: the writer takes it whole.
    if (carried != 0 || !bodyWriter_.Start(requestHandle, std::move(sentBody), total,
                                           UploadBodyEndLength, stallLimit + SocketLimitGrace))
        throw ClientError::SendFailed;
    const HANDLE events[] = {bodyWriter_.Finished(), stopEvent};
    const DWORD count = IsValidHandle(stopEvent) ? 2 : 1;
    std::uint32_t seen = 0;
    DWORD lastMove = GetTickCount();
    bool waitingOutEnd = false;
    for (;;) {
        const DWORD waited = WaitForMultipleObjects(count, events, FALSE, BodyProgressSlice);
        const std::uint32_t written = bodyWriter_.Written();
        if (written != seen) {
            seen = written;
            lastMove = GetTickCount();
            OnBodyProgress(carried + seen, total);
        }
        if (waited == WAIT_OBJECT_0) {
            // A piece that did not end within its limit was cancelled with the request
            // handle: the link is dead, and nothing will complete the request.
            if (bodyWriter_.TakeClosedRequest()) {
                requestHandle = nullptr;
                bodyStalled = true;
                WriteDebugLine("request body stalled: %lu of %lu bytes sent\n",
                               static_cast<unsigned long>(carried + seen),
                               static_cast<unsigned long>(total));
                throw ClientError::SendFailed;
            }
            // A piece that failed left the rest unsent. The end request then finds the
            // connection broken, as it does when the connection breaks after the last
            // piece: one outcome, however far the body had got.
            if (bodyWriter_.Failed()) {
                WriteDebugLine("request body cut short: %lu of %lu bytes sent\n",
                               static_cast<unsigned long>(carried + seen),
                               static_cast<unsigned long>(total));
                return;
            }
            // The socket still holds the end of the body, and on a slow link it may take
            // longer to leave than the service takes to answer: the answer's time starts
            // once the measured rate has carried it out.
            bodyDrainAllowance_ = bodyWriter_.DrainMs();
            if (bodyWriter_.RateBytesPerSecond() != 0)
                measuredDrainAllowance_ = bodyDrainAllowance_.load();
            WriteDebugLine("request body written: %lu bytes, link %lu bytes/s, %lu ms to drain\n",
                           static_cast<unsigned long>(total),
                           static_cast<unsigned long>(bodyWriter_.RateBytesPerSecond()),
                           static_cast<unsigned long>(bodyDrainAllowance_.load()));
            return;
        }
        // A stop (or a wait that cannot wait) ends the send here; the writer stops after
        // the piece in hand, short of the body's end. Past that end the body may arrive
        // whole: the stop still ends the send, since whoever stopped the job has given its
        // answer the time they meant to (the teardown waits for it first).
        if (waited != WAIT_TIMEOUT) {
            bodyWriter_.Abandon();
            throw ClientError::SendFailed;
        }
        if (!waitingOutEnd && GetTickCount() - lastMove >= stallLimit) {
            if (!bodyWriter_.Abandon()) {
                // The end is in WinINet's hands: given up now, the body could still arrive
                // whole on a link that comes back. Its piece ends by itself, taken or at
                // its limit, and the answer or the broken connection decides.
                waitingOutEnd = true;
                continue;
            }
            bodyStalled = true;
            WriteDebugLine("request body stalled: %lu of %lu bytes sent\n",
                           static_cast<unsigned long>(carried + seen),
                           static_cast<unsigned long>(total));
            throw ClientError::SendFailed;
        }
    }
}

void AsyncHttpClient::OnBodyProgress(std::uint32_t, std::uint32_t) {}

void AsyncHttpClient::ForgetRequestClosedByWriter() {
    if (bodyWriter_.TakeClosedRequest())
        requestHandle = nullptr;
}

void AsyncHttpClient::CloseHandles() {
    // Only ever called once the writer has ended (its owner closes nothing before).
    ForgetRequestClosedByWriter();
    HttpClient::CloseHandles();
}

bool AsyncHttpClient::AwaitBodyWriter(DWORD limit) const {
    const HANDLE writer = bodyWriter_.Thread();
    return writer == nullptr || WaitForSingleObject(writer, limit) == WAIT_OBJECT_0;
}
