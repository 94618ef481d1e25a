#include "http/client_errors.h"

#include "util/bounded_text.h"

#include <windows.h>

void ReportClientFailure(const char* operation, const char* message) {
    char line[512];
    FormatText(line, sizeof line, "%s: %s\n", operation, message);
    OutputDebugStringA(line);
}

void ReportConnectFailure(const char* operation, const char* message, const char* host,
                          std::int32_t port, Scheme scheme) {
    char line[512];
    // A cut host name still tells the reader enough; the line is diagnostic only.
    FormatText(line, sizeof line, "%s: %s (host %s, port %ld, scheme %ld)\n", operation, message,
               host != nullptr ? host : "", static_cast<long>(port),
               static_cast<long>(static_cast<std::int32_t>(scheme)));
    OutputDebugStringA(line);
}
