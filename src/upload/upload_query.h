#pragma once
// The request target of an upload: the upload path with the session and the user in the
// query. Platform-free.

#include <cstddef>

// Writes "<upload path>?sessionId=<session id>&userId=<user id>" into destination. In the
// two values, "+", "%", "&", "#", the space, control bytes (0x01-0x1F, 0x7F) and bytes of
// 0x80 and above become "%XX" with uppercase digits: a standard query parser would read
// the first four as a space, an escape, the next pair and the end of the URL, and a
// request line cannot carry the others raw. Every other byte stays as it is, so a plain
// address goes out exactly as the service has always seen it. The path goes in as it is.
// False, with destination emptied, when the target and its terminator do not fit: a cut
// target would upload as someone else.
bool FormatUploadTarget(char* destination, std::size_t capacity, const char* uploadPath,
                        const char* sessionId, const char* userId);

template <std::size_t N>
bool FormatUploadTarget(char (&destination)[N], const char* uploadPath, const char* sessionId,
                        const char* userId) {
    return FormatUploadTarget(destination, N, uploadPath, sessionId, userId);
}

// The longest target that fields of these sizes (terminators included) can give, every
// value byte escaped: what a target buffer must hold.
constexpr std::size_t LongestUploadTarget(std::size_t pathSize, std::size_t sessionIdSize,
                                          std::size_t userIdSize) {
    return (pathSize - 1) + (sizeof "?sessionId=" - 1) + 3 * (sessionIdSize - 1) +
           (sizeof "&userId=" - 1) + 3 * (userIdSize - 1);
}
