#pragma once
// The failure messages of the HTTP client. Inside the client a failure is thrown as one
// of these texts (a const char* with static lifetime); Connect, ConnectAsync (and Open
// through it), SendRequest and ReadResponse catch it, write it to the debugger and
// return false. Nothing but those bool results leaves the client.

#include "http/http_types.h"

#include <cstdint>

namespace ClientError {
inline constexpr char OpenInternetFailed[] = "open internet failed...";
inline constexpr char ConnectFailed[] = "connect failed...";
inline constexpr char UnknownException[] = "unknown exception...";
inline constexpr char HandleNotOpened[] = "handle not opened...";
inline constexpr char RequestFailed[] = "request failed...";
inline constexpr char AdditionalHeaderFailed[] = "additional header failed...";
inline constexpr char AddCookieFailed[] = "add cookie failed...";
// The send, write, wait and end steps of the POST operations report their failure
// without the dots, so a log tells them apart from the construction steps.
inline constexpr char SendFailed[] = "request failed";
inline constexpr char AsyncRequestFailed[] = "asynchronized request failed...";
// A POST whose owner stopped it before WinINet had the request: nothing was sent.
inline constexpr char StoppedBeforeSending[] = "not sent: stopped before the request went out";
// A POST whose time-outs WinINet refused: sent with its defaults, it could be cut off
// before the waits the program chose (Windows waits 30 s for an answer).
inline constexpr char LimitsRefused[] = "not sent: a time-out could not be set";
inline constexpr char ConnectionFailed[] = "connection failed...";
inline constexpr char ResponseFailed[] = "response failed...";
} // namespace ClientError

// Writes "<operation>: <message>\n" to the debugger.
void ReportClientFailure(const char* operation, const char* message);

// The same for a failed connect, with the target it aimed at.
void ReportConnectFailure(const char* operation, const char* message, const char* host,
                          std::int32_t port, Scheme scheme);
