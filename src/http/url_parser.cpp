#include "http/url_parser.h"

#include "util/bounded_text.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

bool CopySpan(char (&dest)[UrlPartSize], const char* text, std::size_t length) {
    int shown = length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
    return FormatText(dest, UrlPartSize, "%.*s", shown, text) && length < UrlPartSize;
}

// The port is read the way atol reads it: leading blanks and a sign are taken, digits
// up to the first other character, and no digits at all give 0.
std::int32_t ReadPort(const char* text) {
    long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

} // namespace

bool ParseUrl(const char* url, char (&scheme)[UrlPartSize], char (&user)[UrlPartSize],
              char (&password)[UrlPartSize], char (&host)[UrlPartSize], std::int32_t& port,
              char (&path)[UrlPartSize]) {
    const std::size_t length = std::strlen(url);
    bool fits = true;
    user[0] = '\0';
    password[0] = '\0';

    // Only a ':' followed by '/' ends a scheme, so "host:8080/x" has none. The two
    // characters after the ':' are skipped unchecked, as the service's URLs always
    // carry "://"; a URL that ends early stops at its end.
    std::size_t start = 0;
    const char* colon = std::strchr(url, ':');
    if (colon != nullptr && colon[1] == '/') {
        const std::size_t c = static_cast<std::size_t>(colon - url);
        fits = CopySpan(scheme, url, c) && fits;
        start = c + 3 < length ? c + 3 : length;
    } else {
        fits = CopySpan(scheme, "http", 4) && fits;
    }

    // The '@' is looked for in the whole rest of the URL, query included, so an '@' in
    // the query ends the "user information"; the service never puts one there.
    if (const char* at = std::strchr(url + start, '@')) {
        const char* userColon = std::strchr(url + start, ':');
        if (userColon != nullptr && userColon < at) {
            fits = CopySpan(user, url + start, static_cast<std::size_t>(userColon - url) - start) &&
                   fits;
            fits =
                CopySpan(password, userColon + 1, static_cast<std::size_t>(at - userColon) - 1) &&
                fits;
        }
        start = static_cast<std::size_t>(at - url) + 1;
    }

    const char* slash = std::strchr(url + start, '/');
    const std::size_t p = slash != nullptr ? static_cast<std::size_t>(slash - url) : length;

    const void* portColon = std::memchr(url + start, ':', p - start);
    if (portColon != nullptr) {
        const char* k = static_cast<const char*>(portColon);
        port = ReadPort(k + 1);
        fits = CopySpan(host, url + start, static_cast<std::size_t>(k - url) - start) && fits;
    } else {
        // Exact, case-sensitive comparisons: "HTTPS" or "https2" get port 80.
        if (std::strcmp(scheme, "https") == 0)
            port = 443;
        else if (std::strcmp(scheme, "ftp") == 0)
            port = 21;
        else
            port = 80;
        fits = CopySpan(host, url + start, p - start) && fits;
    }

    if (p < length)
        fits = CopySpan(path, url + p, length - p) && fits;
    else
        fits = CopySpan(path, "/", 1) && fits;
    return fits;
}

bool SchemeFromText(const char* text, Scheme& scheme) {
    if (std::strncmp(text, "https", 5) == 0)
        scheme = Scheme::Https;
    else if (std::strncmp(text, "http", 4) == 0)
        scheme = Scheme::Http;
    else if (std::strncmp(text, "ftp", 3) == 0)
        scheme = Scheme::Ftp;
    else
        return false;
    return true;
}
