#include "http/client_errors.h"

#include "util/debug_line.h"

void ReportClientFailure(const char* operation, const char* message) {
    WriteDebugLine("%s: %s\n", operation, message);
}

void ReportConnectFailure(const char* operation, const char* message, const char* host,
                          std::int32_t port, Scheme scheme) {
    // A cut host name still tells the reader enough; the line is diagnostic only.
    WriteDebugLine("%s: %s (host %s, port %ld, scheme %ld)\n", operation, message,
                   host != nullptr ? host : "", static_cast<long>(port),
                   static_cast<long>(static_cast<std::int32_t>(scheme)));
}
