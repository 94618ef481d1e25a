#include "http/client_errors.h"
#include "http/cookie_url.h"
#include "http/http_client.h"
#include "http/request_bodies.h"
#include "util/bounded_text.h"
#include "util/win_handles.h"

#include <cstring>

namespace {

const char* AcceptTypes[] = {"*/*", nullptr};

} // namespace

DWORD HttpClient::RequestFlags(bool post) const {
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE;
    if (post)
        flags |= INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
    if (scheme == Scheme::Https)
        flags |= INTERNET_FLAG_SECURE;
    return flags;
}

void HttpClient::OpenRequest(const char* verb, const char* objectPath, const char* referrer,
                             DWORD flags, DWORD_PTR context) {
    if (!IsValidHandle(connectionHandle))
        throw ClientError::HandleNotOpened;
    requestHandle.Adopt(HttpOpenRequestA(connectionHandle, verb, objectPath, "HTTP/1.0", referrer,
                                         AcceptTypes, flags, context));
    if (!IsValidHandle(requestHandle.Get()))
        throw ClientError::RequestFailed;
    if (context != 0)
        ++contextHandlesOpened;
}

void HttpClient::AddAcceptHeader() {
    AddRequestHeader("Accept: */*\r\n", HTTP_ADDREQ_FLAG_REPLACE);
}

void HttpClient::AddRequestHeader(const char* line, DWORD modifiers) {
    if (!HttpAddRequestHeadersA(requestHandle.Get(), line, static_cast<DWORD>(std::strlen(line)),
                                modifiers))
        throw ClientError::AdditionalHeaderFailed;
}

void HttpClient::SetRequestCookies(const char* objectPath) {
    if (cookies.empty())
        return;
    const std::string url = CookieUrl(objectPath);
    for (const FormField& cookie : cookies) {
        if (!InternetSetCookieA(url.c_str(), cookie.name.c_str(), cookie.value.c_str()))
            throw ClientError::AddCookieFailed;
    }
}

bool HttpClient::Get(const char* objectPath, const char* referrer) {
    OpenRequest("GET", objectPath, referrer, RequestFlags(false), 0);
    AddAcceptHeader();
    SetRequestCookies(objectPath);
    if (!HttpSendRequestA(requestHandle.Get(), nullptr, 0, nullptr, 0))
        throw ClientError::RequestFailed;
    return true;
}

bool HttpClient::PostForm(const char* objectPath, const char* referrer) {
    OpenRequest("POST", objectPath, referrer, RequestFlags(true), 0);
    AddAcceptHeader();
    SetRequestCookies(objectPath);

    FormBody body(*this, ClientError::RequestFailed);
    if (!HttpSendRequestA(requestHandle.Get(), FormContentType,
                          static_cast<DWORD>(std::strlen(FormContentType)), body.Data(),
                          body.Length()) &&
        GetLastError() != ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION)
        throw ClientError::RequestFailed;
    return true;
}

bool HttpClient::PostMultipart(const char* objectPath, const char* referrer) {
    OpenRequest("POST", objectPath, referrer, RequestFlags(true), 0);
    AddAcceptHeader();
    AddRequestHeader(SyncMultipartContentType, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    SetRequestCookies(objectPath);

    MultipartBody body(*this, SyncMultipartBoundary, ClientError::SendFailed);
    const std::uint32_t length = body.Length();
    char contentLength[1024];
    FormatText(contentLength, sizeof contentLength, "Content-Length: %d\r\n",
               static_cast<int>(length));
    AddRequestHeader(contentLength, HTTP_ADDREQ_FLAG_ADD_IF_NEW);

    INTERNET_BUFFERSA record = {};
    record.dwStructSize = sizeof record;
    if (!HttpSendRequestExA(requestHandle.Get(), &record, nullptr, HSR_INITIATE, 0))
        throw ClientError::SendFailed;
    DWORD written = 0;
    if (!InternetWriteFile(requestHandle.Get(), body.Data(), length, &written))
        throw ClientError::SendFailed;
    if (!HttpEndRequestA(requestHandle.Get(), nullptr, HSR_INITIATE, 0))
        throw ClientError::SendFailed;
    return true;
}
