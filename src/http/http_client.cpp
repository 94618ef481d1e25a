#include "http/http_client.h"

#include "http/cookie_url.h"
#include "http/form_body.h"

HttpClient::~HttpClient() {
    ClearFormFields();
    ClearCookies();
}

void HttpClient::CloseHandles() {
    requestHandle.Close();
    CloseInternetHandle(connectionHandle);
    CloseInternetHandle(sessionHandle);
}

void HttpClient::AddFormField(const char* name, const char* value, bool isFile) {
    formFields.push_back(
        FormField{name != nullptr ? name : "", value != nullptr ? value : "", isFile});
}

void HttpClient::ClearFormFields() {
    formFields.clear();
}

void HttpClient::ClearCookies() {
    cookies.clear();
}

std::uint32_t HttpClient::FormBodyLength() const {
    return ::FormBodyLength(formFields);
}

std::uint32_t HttpClient::BuildFormBody(char* buffer, std::uint32_t capacity) const {
    return ::BuildFormBody(formFields, buffer, capacity);
}

std::string HttpClient::CookieUrl(const char* requestPath) const {
    return ::CookieUrl(scheme, host, port, requestPath);
}
