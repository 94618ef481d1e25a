// The settings record: its defaults, the URL paths derived from it, and the login data
// that the host stages for it.
#include "settings/settings.h"

#include "util/bounded_text.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>

SettingsRecord Settings = {};
StagedLoginRecord StagedLoginData = {};
int LoginDataPending = 0;

// VISTORA_ALBUM_HOST is a build setting (CMake cache entry of the same name).
const char* DefaultLoginUrl() {
    return "http://" VISTORA_ALBUM_HOST "/Pc/Upld_Login.aspx";
}
const char* DefaultUploadUrl() {
    return "http://" VISTORA_ALBUM_HOST "/Pc/Upld_Upload.aspx";
}

namespace {

// The URL path of url into path. A URL that does not split (or whose parts do not fit
// the component buffers) leaves the path empty rather than undetermined.
void ExtractUrlPath(const char* url, char (&path)[NameSize]) {
    char scheme[NameSize] = {};
    char host[NameSize] = {};
    char user[NameSize] = {};
    char password[NameSize] = {};
    char urlPath[NameSize] = {};
    char extra[NameSize] = {};

    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
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

int ApplyStagedLoginData() {
    // The staged fields have the sizes of the settings they replace, so each copy fits.
    CopyText(Settings.LoginUrl, StagedLoginData.LoginUrl);
    CopyText(Settings.UploadUrl, StagedLoginData.UploadUrl);
    CopyText(Settings.LoginName, StagedLoginData.LoginName);
    CopyText(Settings.Password, StagedLoginData.Password);
    std::memset(Settings.SessionId, 0, sizeof Settings.SessionId);
    SplitUrls();
    return 0;
}
