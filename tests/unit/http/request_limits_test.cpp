#include "http/body_pace.h"
#include "http/request_limits.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// The minute the jobs wait for a piece to be taken and for an answer.
constexpr std::uint32_t Minute = 60000;

TEST(RequestLimits, EachOfWinInetsLimitsLiesBeyondTheWaitItBacks) {
    const RequestLimits before = LimitsBeforeSending(Minute, Minute);
    // WinINet gives up on a host before the client's minute for the send would.
    EXPECT_LT(before.connectMs, Minute);
    // A piece blocked on a dead link ends by itself, after the stall has been judged.
    EXPECT_GT(before.sendMs, Minute);
    EXPECT_EQ(PieceLimit(Minute), before.sendMs);
    // Before the body is out its drain is unknown: the answer's wait with any drain fits.
    EXPECT_GT(before.receiveMs, Minute + MaxDrainMs);
    // Once it is known, the limit narrows to the answer's wait with that drain, and stays
    // beyond it.
    for (std::uint32_t drain : {0u, 1500u, MaxDrainMs}) {
        const std::uint32_t once = ReceiveLimitOnceSent(Minute, drain);
        EXPECT_GT(once, Minute + drain) << drain;
        EXPECT_LE(once, before.receiveMs) << drain;
    }
}

TEST(RequestLimits, LimitsBeyondThirtyTwoBitsWaitForEverRatherThanWrap) {
    EXPECT_EQ(PieceLimit(UINT32_MAX - 1), UINT32_MAX);
    EXPECT_EQ(LimitsBeforeSending(UINT32_MAX, UINT32_MAX - MaxDrainMs).receiveMs, UINT32_MAX);
    EXPECT_EQ(ReceiveLimitOnceSent(UINT32_MAX, 1), UINT32_MAX);
}

} // namespace
