// BodyPace: every piece size lies within its bounds (the probe size while the body is in
// its first ProbeBytes and no piece has waited; once a rate is measured, no more than
// MaxPieceMs of it; before, no more than UnprovenPieceLimit until more than a socket holds
// has gone, then no more than MaxPieceMs of the rate that proves), the rate and the drain
// equal a plain re-statement of their rules in
// wider arithmetic, and the drain never passes its bound, whatever the pieces and their
// times (taken byte counts and call times as the writer reports them, also ones it never
// would: a call longer than the time since the start, more taken than the pace chose).
// Input: records of 7 bytes: 3 bytes of the count taken, 3 bytes of the call's ms, and one
// byte of ms the writer spent between calls, little-endian.

#include "fuzz_check.h"

#include "http/body_pace.h"

namespace {

using Wide = unsigned __int128;

std::uint32_t Read3(const std::uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16);
}

// The rules of body_pace.h, kept apart from its code. Whether a piece was full is judged
// against the size the pace had chosen for it, as the writer meets it.
struct Model {
    Wide written = 0, waitedBytes = 0, waitedMs = 0, beforeWait = 0;
    Wide firstWaitMs = 0, lastEndMs = 0;
    bool waited = false;

    void Taken(std::uint32_t bytes, std::uint32_t since, std::uint32_t took, std::uint32_t chosen) {
        written += bytes;
        lastEndMs = since;
        if (took < WaitedPieceMs)
            return;
        if (!waited) {
            beforeWait = written - bytes;
            firstWaitMs = static_cast<std::uint32_t>(since - took);
        }
        waited = true;
        if (bytes >= chosen) {
            waitedBytes += bytes;
            waitedMs += took;
        }
    }
    Wide Rate() const {
        if (waitedMs < MeasuredWaitMs)
            return 0;
        const Wide rate = waitedBytes * 1000 / waitedMs;
        return rate > UINT32_MAX ? UINT32_MAX : rate;
    }
    static Wide Capped(Wide drain) { return drain > MaxDrainMs ? MaxDrainMs : drain; }
    // The most a piece may be while no rate is measured.
    Wide UnmeasuredBound() const {
        if (written <= LargestSocketHold)
            return UnprovenPieceLimit;
        const Wide proven = (written - LargestSocketHold) * 1000 / (lastEndMs > 0 ? lastEndMs : 1);
        const Wide bound = proven * MaxPieceMs / 1000;
        return bound > UnprovenPieceLimit ? bound : UnprovenPieceLimit;
    }
    Wide Drain() const {
        const Wide rate = Rate();
        if (rate == 0) {
            const Wide held = written < UnmeasuredHoldBytes ? written : UnmeasuredHoldBytes;
            Wide proven = FloorRateBytesPerSecond;
            if (written > held) {
                const Wide took = lastEndMs > MeasuredWaitMs ? lastEndMs : MeasuredWaitMs;
                const Wide carried = (written - held) * 1000 / took;
                proven = carried > proven ? carried : proven;
            }
            return Capped(held * 1000 / proven);
        }
        const Wide carried = rate * lastEndMs / 1000;
        const Wide unexplained = written > carried ? written - carried : 0;
        const Wide carriedBeforeWait = rate * firstWaitMs / 1000;
        const Wide held = beforeWait > carriedBeforeWait ? beforeWait - carriedBeforeWait : 0;
        const Wide left = unexplained > held ? unexplained : held;
        return Capped(left * 1000 * DrainMargin / rate);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BodyPace pace;
    Model model;
    std::uint32_t since = 0;
    for (std::size_t at = 0; at + 7 <= size; at += 7) {
        const std::uint32_t bytes = Read3(data + at);
        const std::uint32_t took = Read3(data + at + 3);
        since += took + data[at + 6];
        const std::uint32_t chosen = pace.NextPieceSize();
        pace.PieceTaken(bytes, since, took);
        model.Taken(bytes, since, took, chosen);

        const std::uint32_t next = pace.NextPieceSize();
        FUZZ_CHECK(next >= MinPieceSize && next <= MaxPieceSize);
        if (!model.waited && model.written < ProbeBytes)
            FUZZ_CHECK(next == ProbePieceSize);
        const Wide rate = model.Rate();
        if (rate != 0)
            FUZZ_CHECK(next <= MinPieceSize || next <= rate * MaxPieceMs / 1000);
        else if (!(took >= WaitedPieceMs && bytes < chosen))
            FUZZ_CHECK(next <= MinPieceSize || next <= model.UnmeasuredBound());
        FUZZ_CHECK(pace.RateBytesPerSecond() == model.Rate());
        FUZZ_CHECK(pace.DrainMs() == model.Drain());
        FUZZ_CHECK(pace.DrainMs() <= MaxDrainMs);
    }
    return 0;
}
