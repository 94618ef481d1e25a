#include "http/cookie_url.h"

std::string CookieUrl(Scheme scheme, const std::string& host, std::int32_t port, const char* path) {
    std::string url;
    bool defaultPort = false;
    if (scheme == Scheme::Http) {
        url = "http://";
        defaultPort = port == 80;
    } else if (scheme == Scheme::Https) {
        url = "https://";
        defaultPort = port == 443;
    }
    url += host;
    if (!defaultPort) {
        url += ':';
        url += std::to_string(port);
    }
    url += path;
    return url;
}
