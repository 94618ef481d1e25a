#include "http/request_limits.h"

#include "http/body_pace.h"

#include <algorithm>
#include <cstdint>

namespace {

// Sums of limits saturate: a limit past what 32 bits hold waits for ever, as WinINet
// takes 0xFFFFFFFF, rather than wrapping into a short one.
std::uint32_t Sum(std::uint64_t a, std::uint64_t b, std::uint64_t c = 0) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(a + b + c, UINT32_MAX));
}

} // namespace

RequestLimits LimitsBeforeSending(std::uint32_t stallLimitMs, std::uint32_t answerLimitMs) {
    return RequestLimits{ConnectLimit, PieceLimit(stallLimitMs),
                         Sum(answerLimitMs, MaxDrainMs, SocketLimitGrace)};
}

std::uint32_t ReceiveLimitOnceSent(std::uint32_t answerLimitMs, std::uint32_t drainMs) {
    return Sum(answerLimitMs, drainMs, SocketLimitGrace);
}

std::uint32_t PieceLimit(std::uint32_t stallLimitMs) {
    return Sum(stallLimitMs, SocketLimitGrace);
}
