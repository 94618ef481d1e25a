#pragma once
// The small value types of the HTTP client. Platform-free: the URL and form-body helpers
// that use them also build natively.

#include <cstdint>
#include <string>

// The values are those the client stores and reports in its diagnostics; Ftp is what a
// new client holds.
enum class Scheme : std::int32_t { Ftp = 0, Http = 1, Https = 2 };

enum class RequestKind : std::int32_t { GetRequest = 0, FormRequest = 1, MultipartRequest = 2 };

// A form field of the next request, or a cookie. For a form field, isFile marks a value
// that is the full path of a file sent as a file part of a multipart body.
struct FormField {
    std::string name;
    std::string value;
    bool isFile = false;
};
