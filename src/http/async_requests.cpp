// The asynchronous requests: the kinds, the send and its end request, WinINet's time-outs
// for them, and the waits for their completion. The body written after the headers is
// watched in body_stream.cpp.
#include "http/client_errors.h"
#include "http/http_client.h"
#include "http/request_bodies.h"
#include "http/request_limits.h"
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
    sendOutcome = SendOutcome::NotSent;
    bodyDrainAllowance_ = 0;
    measuredDrainAllowance_ = 0;
    bodyFate_.Renew();
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
    } catch (const char* message) {
        ReportClientFailure("SendRequest", message);
        started = false;
    } catch (...) {
        ReportClientFailure("SendRequest", ClientError::UnknownException);
        started = false;
    }
    if (started) {
        path = objectPath;
        sendOutcome = SendOutcome::Handed;
        return true;
    }
    // A writer that has not finished still uses the request handle; the job's teardown
    // closes it once the writer has ended. Closed here, a pending end request completes
    // as cancelled (in the asynchronous session the close is one HANDLE_CLOSING).
    if (!bodyWriter_.UsesRequest())
        requestHandle.Close();
    return false;
}

bool AsyncHttpClient::AsyncGet(DWORD_PTR context, const char* objectPath, const char* referrer) {
    OpenRequest("GET", objectPath, referrer, RequestFlags(false), context);
    AddAcceptHeader();
    SetRequestCookies(objectPath);
    // The completion of the send is left to the caller's wait.
    if (!HttpSendRequestA(requestHandle.Get(), nullptr, 0, nullptr, 0) &&
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
    // in pieces (body_stream.cpp), so that its progress can be seen and a slow link told
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
    const bool whole = record.dwBufferLength >= record.dwBufferTotal;
    if (whole) {
        CommitWholeBody();
    } else if (bodyFate_.Now() == BodyFate::State::GivenUp) {
        // Headers alone could store nothing; the body's end goes only through the
        // writer's commit. This only spares the service a request it would refuse.
        sendOutcome = SendOutcome::Stopped;
        throw ClientError::StoppedBeforeSending;
    }
    if (!HttpSendRequestExA(requestHandle.Get(), &record, nullptr, HSR_INITIATE, context) &&
        GetLastError() != ERROR_IO_PENDING) {
        sendOutcome = SendOutcome::Failed;
        throw ClientError::SendFailed;
    }
    // From here the send is WinINet's, and its completion comes.
    sendOutcome = SendOutcome::Handed;
    // The event is auto-reset: this wait consumes the completion of the send, and the
    // completion of the end request below is left for the caller's wait.
    if (!WaitForCompletion(INFINITE)) {
        const bool stopped =
            IsValidHandle(stopEvent) && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
        sendOutcome = stopped ? SendOutcome::Stopped : SendOutcome::Stalled;
        throw ClientError::SendFailed;
    }
    // The send's outcome is taken from the send's own completion, before the end request
    // starts: a connection that fails fast completes the end request (and overwrites
    // asyncError) before HttpEndRequestA has even returned, and the request would then
    // fail here or not depending on which thread ran first.
    const DWORD sendError = asyncError;
    if (sendError == 0) {
        if (whole) {
            bodyDrainAllowance_ = FloorDrainMs(record.dwBufferLength);
        } else {
            StartWriter(record.dwBufferTotal);
            switch (StreamBody(record.dwBufferTotal)) {
            case BodyOutcome::Sent:
            case BodyOutcome::CutShort:
                // A piece that failed left the rest unsent: the end request then finds the
                // connection broken, as when it breaks after the last piece.
                break;
            case BodyOutcome::Stalled:
                sendOutcome = SendOutcome::Stalled;
                throw ClientError::SendFailed;
            case BodyOutcome::Stopped:
                sendOutcome = SendOutcome::Stopped;
                throw ClientError::SendFailed;
            case BodyOutcome::Cancelled:
                sendOutcome =
                    bodyWriter_.RanOutOfTime() ? SendOutcome::Stalled : SendOutcome::Stopped;
                throw ClientError::SendFailed;
            }
        }
        SetAnswerLimit();
    }
    const BOOL ended =
        HttpEndRequestA(requestHandle.Get(), nullptr, HSR_ASYNC | HSR_INITIATE, context);
    if (!ended && GetLastError() != ERROR_IO_PENDING) {
        sendOutcome = SendOutcome::Failed;
        throw ClientError::SendFailed;
    }
    // The end request's completion, with the send's failure in it, is still owed.
    if (sendError != 0)
        throw ClientError::SendFailed;
}

void AsyncHttpClient::CommitWholeBody() {
    // The record carries the body's end: from the send on the body may arrive whole. A
    // give-up that came first keeps the request back, with nothing sent.
    if (!bodyFate_.Commit()) {
        sendOutcome = SendOutcome::Stopped;
        throw ClientError::StoppedBeforeSending;
    }
}

void AsyncHttpClient::SetRequestLimits() {
    const RequestLimits limits = LimitsBeforeSending(stallLimit, answerLimit);
    const bool set =
        SetLimit(requestHandle.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, limits.connectMs) &&
        SetLimit(requestHandle.Get(), INTERNET_OPTION_SEND_TIMEOUT, limits.sendMs) &&
        SetLimit(requestHandle.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, limits.receiveMs);
    if (!set)
        throw ClientError::LimitsRefused;
}

void AsyncHttpClient::SetAnswerLimit() {
    // Refused, the longer limit set before the send stands: the client's own wait still
    // judges first.
    if (requestHandle)
        SetLimit(requestHandle.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT,
                 ReceiveLimitOnceSent(answerLimit, bodyDrainAllowance_));
}

bool AsyncHttpClient::WaitInSlices(DWORD timeout, DWORD slice) {
    // Nothing will complete a request whose send ended short of WinINet.
    if (sendOutcome != SendOutcome::Handed)
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
