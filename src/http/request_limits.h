#pragma once
// The time-outs WinINet is given for a request, from the waits the program judges by.
// WinINet's own limits lie beyond those waits, so that the program judges first (Windows
// may fire a receive time-out up to 6 s late), and they are set on every request, since
// Windows' defaults (30 s for an answer) and Wine's (none) both differ from the design.
// Platform-free.

#include <cstdint>

// How far WinINet's time-outs lie beyond the waits they back: the send time-out beyond the
// stall limit, so that a writer left blocked on a dead link still ends by itself and its
// job and body can go; the receive time-out beyond the wait for the answer with the body's
// drain.
constexpr std::uint32_t SocketLimitGrace = 10000;
// The connect time-out: WinINet gives up on a host that does not answer, and reports it,
// well before the client's wait for the send's completion (60 s) would give up on the
// request and leave it to WinINet. Windows and Wine both default to 60 s, which races it.
constexpr std::uint32_t ConnectLimit = 30000;

struct RequestLimits {
    std::uint32_t connectMs;
    std::uint32_t sendMs;
    std::uint32_t receiveMs;
};

// Set before the request is sent (Wine applies the send time-out when it sends the headers
// and the receive time-out when it starts reading the answer, and ignores both on a
// session handle):
// - send: bounds each piece of a body on a dead link, beyond the stall limit (without it a
//   writer left on such a link ends only when TCP gives up, a quarter of an hour later);
// - receive: the answer's wait with the longest drain a body may be allowed (MaxDrainMs),
//   since the drain is known only once the body is out.
RequestLimits LimitsBeforeSending(std::uint32_t stallLimitMs, std::uint32_t answerLimitMs);

// Once the body is out: the receive time-out narrowed to the answer's wait with the drain
// allowed for this body.
std::uint32_t ReceiveLimitOnceSent(std::uint32_t answerLimitMs, std::uint32_t drainMs);

// How long a pending piece of the body is waited for: as long as its send time-out allows
// a blocked one, where the time-out may not apply to a pending write.
std::uint32_t PieceLimit(std::uint32_t stallLimitMs);
