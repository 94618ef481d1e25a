#include "http/body_pace.h"

#include <algorithm>

void BodyPace::PieceTaken(std::uint32_t bytes, std::uint32_t sinceStartMs, std::uint32_t tookMs) {
    written_ += bytes;
    lastEndMs_ = sinceStartMs;
    const bool waited = tookMs >= WaitedPieceMs;
    if (waited) {
        if (!waited_) {
            takenBeforeFirstWait_ = written_ - bytes;
            firstWaitMs_ = sinceStartMs - tookMs;
        }
        waited_ = true;
        waitedBytes_ += bytes;
        waitedMs_ += tookMs;
    }
    if (!waited_ && written_ < ProbeBytes) {
        next_ = ProbePieceSize;
        return;
    }
    const std::uint32_t grown = std::min(2 * next_, MaxPieceSize);
    if (!waited) {
        next_ = grown;
        return;
    }
    // This piece's own rate sizes the next one: the link as it is now.
    const std::uint64_t fits = static_cast<std::uint64_t>(bytes) * TargetPieceMs / tookMs;
    next_ = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(fits, MinPieceSize, grown));
}

std::uint32_t BodyPace::RateBytesPerSecond() const {
    if (waitedMs_ < MeasuredWaitMs)
        return 0;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(waitedBytes_ * 1000 / waitedMs_, UINT32_MAX));
}

std::uint32_t BodyPace::DrainMs() const {
    const std::uint64_t rate = RateBytesPerSecond();
    if (rate == 0)
        return 0;
    const std::uint64_t carried = rate * lastEndMs_ / 1000;
    const std::uint64_t unexplained = written_ > carried ? written_ - carried : 0;
    // Full at its first wait, and a socket's buffer does not shrink; what the link carried
    // before that wait had left it already.
    const std::uint64_t carriedBeforeWait = rate * firstWaitMs_ / 1000;
    const std::uint64_t heldAtWait =
        takenBeforeFirstWait_ > carriedBeforeWait ? takenBeforeFirstWait_ - carriedBeforeWait : 0;
    const std::uint64_t left = std::max(unexplained, heldAtWait);
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(left * 1000 * DrainMargin / rate, MaxDrainMs));
}
