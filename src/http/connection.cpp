#include "http/client_errors.h"
#include "http/http_client.h"
#include "http/url_parser.h"
#include "util/win_handles.h"

#include <cstring>

namespace {

struct ServiceChoice {
    bool known;
    INTERNET_PORT defaultPort;
    DWORD service;
    DWORD flags;
};

ServiceChoice ChooseService(Scheme scheme) {
    switch (scheme) {
    case Scheme::Ftp:
        return {true, 21, INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE};
    case Scheme::Http:
        return {true, 80, INTERNET_SERVICE_HTTP, 0};
    case Scheme::Https:
        // The secure flag goes on each request, not on the connection.
        return {true, 443, INTERNET_SERVICE_HTTP, 0};
    }
    return {false, 0, 0, 0};
}

// Both connects differ only in the session flags, the status callback and the context;
// this is the common sequence. Throws its failure message.
void ConnectWith(HttpClient& client, DWORD sessionFlags, INTERNET_STATUS_CALLBACK statusCallback,
                 DWORD_PTR context, const char* host, std::int32_t port, const char* user,
                 const char* password, Scheme scheme, const char* agent) {
    client.sessionHandle =
        InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, sessionFlags);
    if (!IsValidHandle(client.sessionHandle))
        throw ClientError::OpenInternetFailed;
    if (statusCallback != nullptr)
        InternetSetStatusCallbackA(client.sessionHandle, statusCallback);

    ServiceChoice choice = ChooseService(scheme);
    std::int32_t usedPort = port != 0 ? port : choice.defaultPort;
    if (choice.known) {
        client.connectionHandle =
            InternetConnectA(client.sessionHandle, host, static_cast<INTERNET_PORT>(usedPort), user,
                             password, choice.service, choice.flags, context);
    }
    if (!IsValidHandle(client.connectionHandle))
        throw ClientError::ConnectFailed;
    if (context != 0)
        ++client.contextHandlesOpened;
    if (InternetAttemptConnect(0) != ERROR_SUCCESS)
        throw ClientError::ConnectFailed;

    client.host = host;
    client.port = usedPort;
    client.scheme = scheme;
    if (user != nullptr)
        client.user = user;
    if (password != nullptr)
        client.password = password;
    client.ClearCookies();
    client.ClearFormFields();
}

} // namespace

void HttpClient::DropConnection() {
    CloseInternetHandle(connectionHandle);
    CloseInternetHandle(sessionHandle);
}

bool HttpClient::Connect(const char* targetHost, std::int32_t targetPort, const char* targetUser,
                         const char* targetPassword, Scheme targetScheme, const char* agent) {
    try {
        ConnectWith(*this, 0, nullptr, 0, targetHost, targetPort, targetUser, targetPassword,
                    targetScheme, agent);
        return true;
    } catch (const char* message) {
        ReportConnectFailure("Connect", message, targetHost, targetPort, targetScheme);
    } catch (...) {
        ReportConnectFailure("Connect", ClientError::UnknownException, targetHost, targetPort,
                             targetScheme);
    }
    DropConnection();
    return false;
}

bool AsyncHttpClient::ConnectAsync(const char* targetHost, std::int32_t targetPort,
                                   INTERNET_STATUS_CALLBACK statusCallback, DWORD_PTR context,
                                   const char* targetUser, const char* targetPassword,
                                   Scheme targetScheme, const char* agent) {
    try {
        ConnectWith(*this, INTERNET_FLAG_ASYNC, statusCallback, context, targetHost, targetPort,
                    targetUser, targetPassword, targetScheme, agent);
        return true;
    } catch (const char* message) {
        ReportConnectFailure("ConnectAsync", message, targetHost, targetPort, targetScheme);
    } catch (...) {
        ReportConnectFailure("ConnectAsync", ClientError::UnknownException, targetHost, targetPort,
                             targetScheme);
    }
    DropConnection();
    return false;
}

bool AsyncHttpClient::Open(const char* url, INTERNET_STATUS_CALLBACK statusCallback,
                           DWORD_PTR context, const char* openUser, const char* openPassword,
                           const char* agent) {
    char parsedScheme[UrlPartSize] = {};
    char parsedUser[UrlPartSize] = {};
    char parsedPassword[UrlPartSize] = {};
    char parsedHost[UrlPartSize] = {};
    char parsedPath[UrlPartSize] = {};
    std::int32_t parsedPort = 0;
    // Each part is a piece of the URL, so only a URL of 1024 bytes or more can fail here;
    // the settings hold far shorter ones. A cut host must not be connected to.
    if (!ParseUrl(url, parsedScheme, parsedUser, parsedPassword, parsedHost, parsedPort,
                  parsedPath)) {
        ReportClientFailure("Open (URL too long)", ClientError::ConnectFailed);
        return false;
    }
    Scheme parsed = Scheme::Ftp;
    // An unknown scheme reaches ConnectAsync as a value outside Scheme: no connection is
    // made there and the failure is reported as "connect failed...".
    if (!SchemeFromText(parsedScheme, parsed))
        parsed = static_cast<Scheme>(-1);
    try {
        path = parsedPath;
    } catch (...) {
        ReportClientFailure("Open", ClientError::UnknownException);
        return false;
    }
    if (openUser == nullptr && parsedUser[0] != '\0')
        openUser = parsedUser;
    if (openPassword == nullptr && parsedPassword[0] != '\0')
        openPassword = parsedPassword;
    return ConnectAsync(parsedHost, parsedPort, statusCallback, context, openUser, openPassword,
                        parsed, agent);
}
