#pragma once
// The URL for which a request's cookies are set. Platform-free.

#include "http/http_types.h"

#include <cstdint>
#include <string>

// "http://" or "https://" (nothing for Ftp), the host, ":" and the port unless it is the
// scheme's default (80 for Http, 443 for Https; Ftp always shows it), then path.
std::string CookieUrl(Scheme scheme, const std::string& host, std::int32_t port, const char* path);
