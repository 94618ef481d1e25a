#pragma once
// How an upload's body is cut into pieces, and how long what the socket still holds after
// the last piece may take to leave, from how long each piece took to be taken.
//
// A piece is taken at once while the socket's buffer has room for it; it has to wait once
// the buffer is full, until the link has carried enough to make room. Only the pieces that
// had to wait say anything about the link: their bytes over their waits are its rate, low
// rather than high (the bytes a buffer that grows takes at once after a wait count for
// nothing). Only a piece of the size the pace chose measures: a short one (the rest of the
// body before its end, the end itself) waits for room as long as a full one does, and its
// few bytes over that wait would make the link look far slower than it is. A body the
// socket took whole without a wait says nothing of the link at all.
//
// Platform-free: the writer (body_writer.cpp) feeds it each piece's size and times.

#include <cstdint>

// Pieces start small, so that the first one that has to wait on a slow link is small too
// and its wait measures the link, not the socket's buffer growing. A body's first
// ProbeBytes go in ProbePieceSize pieces: on every link measured (8 kbit/s to 1 Mbit/s)
// the socket took about 48 KiB at once before a piece first had to wait.
constexpr std::uint32_t ProbePieceSize = 4 * 1024;
constexpr std::uint32_t ProbeBytes = 64 * 1024;
// After a wait a piece is sized to about this much of the link's time, within these
// bounds, and never more than twice the last one: the bar moves at least that often on a
// link that moves.
constexpr std::uint32_t TargetPieceMs = 1000;
constexpr std::uint32_t MinPieceSize = 1024;
// Once the link's rate is known, no piece carries more than this much of it, however many
// pieces were taken at once before (a link that makes room in bursts, or slows once the
// pieces have grown): twice the target, so that a piece taken at once may still double
// once. A writer given up sends its piece in hand and no more, so a stop lets at most this
// much of the link go out besides what the socket holds; and a piece never takes so long
// that a moving link looks stalled (a minute without a piece taken).
constexpr std::uint32_t MaxPieceMs = 2 * TargetPieceMs;
// Where the socket takes every piece at once, pieces double up to this: each costs its
// call and two status notifications (measured on loopback: 64 MiB in 64 KiB pieces took
// 0.16 s to write, in 4 MiB ones 0.095 s, in 16 MiB ones 0.085 s).
constexpr std::uint32_t MaxPieceSize = 16 * 1024 * 1024;
// A piece taken at once says that the socket had room, not that the link moves: a socket
// with a large buffer takes much at once on a slow link, and the piece that first waits
// must then wait for as many bytes to leave. So, before a rate is measured, a piece is at
// most UnprovenPieceLimit, which leaves at the floor rate (below) in 33 s, about half the
// minute in which a job waits for a piece to be taken: a link that moves is not judged
// stalled. Once more has gone at once than LargestSocketHold, the link has carried the
// rest, in the time since the first piece, and the pieces may grow to MaxPieceMs of that
// rate. A send buffer grows with what the link carries in a round trip: 48 to 64 KiB on
// every slow link measured here, four times less than the hold assumed, while a buffer
// of megabytes belongs to a link that empties it within seconds. The hold is no larger
// since each piece costs its call and its status lines under Wine's debugger channel:
// with pieces of the unproven size up to a megabyte a 64 MiB upload on loopback took
// 0.32 s, against 0.26 s with this hold.
constexpr std::uint32_t UnprovenPieceLimit = 16 * 1024;
constexpr std::uint32_t LargestSocketHold = 256 * 1024;
// A piece that took this long had to wait for room in the socket; a shorter one is a
// thread's ordinary scheduling.
constexpr std::uint32_t WaitedPieceMs = 200;
// Waits that add up to less than this measure no rate: one loaded moment of a fast machine
// must not make a fast link look slow.
constexpr std::uint32_t MeasuredWaitMs = 1000;
// The drain allowed for is this many times what the measured rate explains. The pieces
// measure how fast the socket makes room, which counts its buffer's growth as if the link
// had carried it; and on a lossy link TCP's retransmissions take the link too. Measured on
// a loopback shaped to 8 kbit/s: the pieces saw 808 bytes a second, the body reached the
// service at less than half that.
constexpr std::uint32_t DrainMargin = 3;
// The longest drain allowed for: TCP itself gives up on a connection that moves nothing
// after about this long.
constexpr std::uint32_t MaxDrainMs = 15 * 60 * 1000;
// Where no rate was measured, the socket may still hold the whole of a body it took at
// once, up to what a socket takes before a piece first waits (ProbeBytes, with room above
// the 48 KiB measured), and the link may be as slow as this: 4 kbit/s, half the crawling
// link the project tests on and below the slowest uplink a photo is still sent over, so a
// 48 KiB photo at 6 kbit/s (64 s to leave) is awaited, not judged timed out and sent again.
constexpr std::uint32_t FloorRateBytesPerSecond = 500;
constexpr std::uint32_t UnmeasuredHoldBytes = ProbeBytes;

// How long bytes the socket took whole, without a wait, may take to leave at the floor
// rate: a body handed to WinINet with its request's headers.
std::uint32_t FloorDrainMs(std::uint64_t heldBytes);

class BodyPace {
  public:
    // The size of the next piece; the caller takes the smaller of it and what is left.
    std::uint32_t NextPieceSize() const { return next_; }
    // A piece of bytes was taken; it ended sinceStartMs after the first piece began, and
    // its call took tookMs.
    void PieceTaken(std::uint32_t bytes, std::uint32_t sinceStartMs, std::uint32_t tookMs);

    // The link's rate in bytes per second as the waits of full pieces measured it; 0 when
    // they measured none.
    std::uint32_t RateBytesPerSecond() const;
    // After the last piece: how long what the socket may still hold may take to leave, in
    // ms. With a measured rate, DrainMargin times what that rate explains: what it cannot
    // have carried since the first piece began is still in the socket, and at least what
    // it held when a piece first had to wait (it was full then, and its buffer does not
    // shrink). Without one, what the socket may hold (UnmeasuredHoldBytes at most) at the
    // floor rate, or at the rate the rest of the body proves the link carried, if higher:
    // a fast link's large body is gone at once. The rest proves a rate over at least
    // MeasuredWaitMs, as waits do: bytes taken within a moment prove no link.
    std::uint32_t DrainMs() const;

  private:
    // Where no rate is measured: the most a piece may be, from what went at once so far.
    std::uint64_t UnmeasuredPieceBound() const;

    std::uint32_t next_ = ProbePieceSize;
    std::uint64_t written_ = 0;
    std::uint64_t waitedBytes_ = 0;
    std::uint64_t waitedMs_ = 0;
    std::uint64_t takenBeforeFirstWait_ = 0;
    std::uint32_t firstWaitMs_ = 0;
    std::uint32_t lastEndMs_ = 0;
    bool waited_ = false;
};
