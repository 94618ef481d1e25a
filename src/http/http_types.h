#pragma once
// The small value types of the HTTP client. Platform-free: the URL and form-body helpers
// that use them also build natively.

#include <cstdint>
#include <string>

// The values are those the client stores and reports in its diagnostics; Ftp is what a
// new client holds.
enum class Scheme : std::int32_t { Ftp = 0, Http = 1, Https = 2 };

enum class RequestKind : std::int32_t { GetRequest = 0, FormRequest = 1, MultipartRequest = 2 };

// Why the last multipart body could not be built. A request without its body is never
// handed to WinINet: nothing goes out, and no completion will come for it.
enum class BodyFailure : std::int32_t {
    None = 0,
    // A file field's file could not be opened, or its bytes read whole.
    FileUnreadable = 1,
    // The body would not fit one block of a 32-bit process: a file of 2 GiB or more.
    TooLarge = 2,
    // The process heap refused the block.
    NoMemory = 3,
    // A part needed more room than the estimate set aside for it: a file larger than when
    // its size was taken (or whose size could not be taken then).
    NoRoom = 4,
};

// A form field of the next request, or a cookie. For a form field, isFile marks a value
// that is the full path of a file sent as a file part of a multipart body.
struct FormField {
    std::string name;
    std::string value;
    bool isFile = false;
};
