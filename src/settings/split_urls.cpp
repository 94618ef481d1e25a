#include "settings/settings.h"

#include "util/bounded_text.h"

#include <windows.h>
#include <wininet.h>

namespace {

// The URL path of url into path. A URL that does not split (or whose parts do not fit
// the component buffers) leaves the path empty rather than undetermined.
void ExtractUrlPath(const char* url, char (&path)[TextFieldSize]) {
    char scheme[TextFieldSize] = {};
    char host[TextFieldSize] = {};
    char user[TextFieldSize] = {};
    char password[TextFieldSize] = {};
    char urlPath[TextFieldSize] = {};
    char extra[TextFieldSize] = {};

    URL_COMPONENTSA parts = {};
    parts.dwStructSize = 60;
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = sizeof scheme;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUserName = user;
    parts.dwUserNameLength = sizeof user;
    parts.lpszPassword = password;
    parts.dwPasswordLength = sizeof password;
    parts.lpszUrlPath = urlPath;
    parts.dwUrlPathLength = sizeof urlPath;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = sizeof extra;

    if (!InternetCrackUrlA(url, 0, 0, &parts)) {
        path[0] = '\0';
        return;
    }
    CopyText(path, urlPath);
}

} // namespace

void SplitUrls() {
    ExtractUrlPath(Settings.LoginUrl, Settings.LoginPath);
    ExtractUrlPath(Settings.UploadUrl, Settings.UploadPath);
}
