#include "http/body_pace.h"

#include <algorithm>

namespace {

std::uint32_t CappedDrain(std::uint64_t bytes, std::uint64_t bytesPerSecond, std::uint64_t margin) {
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(bytes * 1000 * margin / bytesPerSecond, MaxDrainMs));
}

} // namespace

std::uint32_t FloorDrainMs(std::uint64_t heldBytes) {
    return CappedDrain(heldBytes, FloorRateBytesPerSecond, 1);
}

void BodyPace::PieceTaken(std::uint32_t bytes, std::uint32_t sinceStartMs, std::uint32_t tookMs) {
    const bool full = bytes >= next_;
    written_ += bytes;
    lastEndMs_ = sinceStartMs;
    const bool waited = tookMs >= WaitedPieceMs;
    if (waited && !waited_) {
        // The socket was full here, whatever the piece's size.
        takenBeforeFirstWait_ = written_ - bytes;
        firstWaitMs_ = sinceStartMs - tookMs;
        waited_ = true;
    }
    if (waited && full) {
        waitedBytes_ += bytes;
        waitedMs_ += tookMs;
    }
    if (!waited_ && written_ < ProbeBytes) {
        next_ = ProbePieceSize;
        return;
    }
    // A short piece tells nothing of the next one's size.
    if (waited && !full)
        return;
    std::uint64_t size = std::min(2 * next_, MaxPieceSize);
    if (waited) {
        // This piece's own rate sizes the next one: the link as it is now.
        size = std::min<std::uint64_t>(size,
                                       static_cast<std::uint64_t>(bytes) * TargetPieceMs / tookMs);
    }
    const std::uint64_t rate = RateBytesPerSecond();
    if (rate != 0)
        size = std::min<std::uint64_t>(size, rate * MaxPieceMs / 1000);
    else
        size = std::min(size, UnmeasuredPieceBound());
    next_ = static_cast<std::uint32_t>(std::max<std::uint64_t>(size, MinPieceSize));
}

std::uint64_t BodyPace::UnmeasuredPieceBound() const {
    if (written_ <= LargestSocketHold)
        return UnprovenPieceLimit;
    const std::uint64_t proven =
        (written_ - LargestSocketHold) * 1000 / std::max<std::uint32_t>(lastEndMs_, 1);
    return std::max<std::uint64_t>(UnprovenPieceLimit, proven * MaxPieceMs / 1000);
}

std::uint32_t BodyPace::RateBytesPerSecond() const {
    if (waitedMs_ < MeasuredWaitMs)
        return 0;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(waitedBytes_ * 1000 / waitedMs_, UINT32_MAX));
}

std::uint32_t BodyPace::DrainMs() const {
    const std::uint64_t rate = RateBytesPerSecond();
    if (rate == 0) {
        const std::uint64_t held = std::min<std::uint64_t>(written_, UnmeasuredHoldBytes);
        std::uint64_t proven = FloorRateBytesPerSecond;
        // Whatever the socket cannot hold the link has carried, in the time the body took.
        if (written_ > held) {
            const std::uint64_t took = std::max<std::uint32_t>(lastEndMs_, MeasuredWaitMs);
            proven = std::max<std::uint64_t>(proven, (written_ - held) * 1000 / took);
        }
        return CappedDrain(held, proven, 1);
    }
    const std::uint64_t carried = rate * lastEndMs_ / 1000;
    const std::uint64_t unexplained = written_ > carried ? written_ - carried : 0;
    // Full at its first wait, and a socket's buffer does not shrink; what the link carried
    // before that wait had left it already.
    const std::uint64_t carriedBeforeWait = rate * firstWaitMs_ / 1000;
    const std::uint64_t heldAtWait =
        takenBeforeFirstWait_ > carriedBeforeWait ? takenBeforeFirstWait_ - carriedBeforeWait : 0;
    return CappedDrain(std::max(unexplained, heldAtWait), rate, DrainMargin);
}
