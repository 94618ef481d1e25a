#include "http/client_errors.h"
#include "http/http_client.h"
#include "http/request_bodies.h"
#include "util/bounded_text.h"
#include "util/win_handles.h"

#include <cstring>

bool AsyncHttpClient::SendRequest(DWORD_PTR context, const char* objectPath, RequestKind kind,
                                  const char* referrer) {
    // A job sends one request, and its event lives until the job is destroyed
    // (HttpJob's destructor): a completion that comes after a wait gave up still signals it.
    completionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
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
    if (!started && requestHandle != nullptr) {
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

    static INTERNET_BUFFERSA record;
    record = INTERNET_BUFFERSA{};
    record.dwStructSize = sizeof record;
    record.lpvBuffer = sentBody.Get();
    record.dwBufferLength = length;
    // See AsyncPostForm: without the total, Wine announces and sends an empty body.
    record.dwBufferTotal = length;
    SendBufferedPost(record, context);
    return true;
}

void AsyncHttpClient::SendBufferedPost(INTERNET_BUFFERSA& record, DWORD_PTR context) {
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
    const BOOL ended = HttpEndRequestA(requestHandle, nullptr, HSR_ASYNC | HSR_INITIATE, context);
    if ((!ended && GetLastError() != ERROR_IO_PENDING) || sendError != 0)
        throw ClientError::SendFailed;
}

bool AsyncHttpClient::WaitInSlices(DWORD timeout, DWORD slice) {
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
