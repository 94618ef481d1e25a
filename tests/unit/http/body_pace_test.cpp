#include "http/body_pace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

// A socket in front of a link, as the writer meets it: the socket takes a piece at once
// while its buffer has room for it, otherwise the piece waits until the link has carried
// enough; the link carries rate bytes a second. The buffer may grow by growth bytes at the
// first wait, as a TCP socket's does once the connection is under way.
struct SocketOnLink {
    SocketOnLink(std::uint32_t bytes, std::uint32_t bytesPerSecond, std::uint32_t growing = 0)
        : capacity(bytes), rate(bytesPerSecond), growth(growing) {}

    std::uint32_t capacity;
    std::uint32_t rate;
    std::uint32_t growth;
    bool grown = false;
    std::uint64_t queued = 0;
    std::uint64_t clockMs = 0;
    std::uint64_t longestWaitMs = 0;
    BodyPace pace;

    // Writes a body of length bytes as the writer does; returns the size of the last piece
    // the pace chose (not cut short by the body's end).
    std::uint32_t Write(std::uint32_t length) {
        std::uint32_t chosen = 0;
        for (std::uint32_t sent = 0; sent < length;) {
            const std::uint32_t size = std::min(pace.NextPieceSize(), length - sent);
            if (size == pace.NextPieceSize())
                chosen = size;
            std::uint64_t tookMs = 0;
            if (queued + size <= capacity) {
                queued += size;
            } else {
                tookMs = ((queued + size - capacity) * 1000 + rate - 1) / rate;
                queued = capacity;
                if (!grown)
                    capacity += growth;
                grown = true;
            }
            clockMs += tookMs;
            longestWaitMs = std::max(longestWaitMs, tookMs);
            pace.PieceTaken(size, static_cast<std::uint32_t>(clockMs),
                            static_cast<std::uint32_t>(tookMs));
            sent += size;
        }
        return chosen;
    }
    // How long what the socket holds now takes to leave.
    std::uint64_t TrueDrainMs() const { return queued * 1000 / rate; }
};

TEST(BodyPace, PiecesGrowWhereTheSocketTakesThemAtOnceAndFollowTheLinkWhereItWaits) {
    // A fast link whose socket never makes a piece wait: the first ProbeBytes in small
    // pieces, then each piece twice the last up to what a piece may be before the link has
    // proven anything, until more has gone than a socket holds; then on to the largest.
    BodyPace fast;
    std::uint64_t sent = 0;
    while (sent < ProbeBytes) {
        EXPECT_EQ(fast.NextPieceSize(), ProbePieceSize);
        fast.PieceTaken(ProbePieceSize, 0, 0);
        sent += ProbePieceSize;
    }
    for (std::uint32_t size = 2 * ProbePieceSize; size <= UnprovenPieceLimit; size *= 2) {
        EXPECT_EQ(fast.NextPieceSize(), size);
        fast.PieceTaken(size, 0, 1);
        sent += size;
    }
    while (sent <= LargestSocketHold) {
        EXPECT_EQ(fast.NextPieceSize(), UnprovenPieceLimit);
        fast.PieceTaken(UnprovenPieceLimit, 10, 0);
        sent += UnprovenPieceLimit;
    }
    for (std::uint32_t size = 2 * UnprovenPieceLimit; size <= MaxPieceSize; size *= 2) {
        EXPECT_EQ(fast.NextPieceSize(), size);
        fast.PieceTaken(size, 10, 0);
    }
    EXPECT_EQ(fast.NextPieceSize(), MaxPieceSize);

    // A socket whose buffer takes as much at once as any may, in front of a link at the
    // floor rate: the piece that first waits is small enough to be taken well within the
    // minute after which a job judges a body stalled, though the link moves.
    SocketOnLink bloated{LargestSocketHold, FloorRateBytesPerSecond};
    bloated.Write(LargestSocketHold + ProbeBytes);
    EXPECT_GT(bloated.longestWaitMs, 0u);
    EXPECT_LE(bloated.longestWaitMs, UnprovenPieceLimit * 1000u / FloorRateBytesPerSecond + 1);
    EXPECT_LT(bloated.longestWaitMs, 60000u / 2);

    // Once the socket is full, a piece is what the link carries in about a second. At
    // 1 Mbit/s a piece of the unproven size leaves faster than a wait is told from a
    // thread's scheduling: the pieces are measured only once the link has proven more.
    for (std::uint32_t rate : {1000u, 40000u, 125000u}) {
        SocketOnLink link{64 * 1024, rate};
        EXPECT_NEAR(link.Write(64 * 1024 + rate * 30),
                    std::max(rate * TargetPieceMs / 1000, MinPieceSize), rate / 10)
            << rate;
    }
    // Never below the least piece, however slow.
    SocketOnLink crawl{48 * 1024, 100};
    EXPECT_EQ(crawl.Write(60 * 1024), MinPieceSize);
}

TEST(BodyPace, TheDrainIsWhatTheSocketHoldsAtTheMeasuredRate) {
    // A crawling link (8 kbit/s) and a slow one (1 Mbit/s), behind a socket that takes
    // 48 KiB at once, with a buffer that stays as it is or doubles once the body is under
    // way: the allowance is what the socket holds after the last piece at the link's rate,
    // to within a second, times the margin.
    for (std::uint32_t growth : {0u, 48u * 1024}) {
        for (std::uint32_t rate : {1000u, 125000u}) {
            SocketOnLink link{48 * 1024, rate, growth};
            link.Write(rate * 100);
            EXPECT_NEAR(link.pace.RateBytesPerSecond(), rate, rate / 100) << rate << " " << growth;
            EXPECT_NEAR(link.pace.DrainMs(), DrainMargin * link.TrueDrainMs(), DrainMargin * 1000)
                << rate << " " << growth;
        }
    }

    // Taken whole without a wait, nothing is measured. A body no larger than what a socket
    // takes at once may all still be in it, on a link as slow as the floor: a 30 kB photo
    // at 6 kbit/s takes 40 s to leave, and is awaited. A larger one that went without a
    // wait proves the link carried the rest meanwhile: a fast link, gone at once.
    SocketOnLink small{48 * 1024, 750};
    small.Write(30000);
    EXPECT_EQ(small.pace.RateBytesPerSecond(), 0u);
    EXPECT_EQ(small.pace.DrainMs(), 30000u * 1000 / FloorRateBytesPerSecond);
    EXPECT_GT(small.pace.DrainMs(), small.TrueDrainMs());
    BodyPace fast;
    for (std::uint32_t ms = 1; ms <= 100; ++ms)
        fast.PieceTaken(fast.NextPieceSize(), ms, 0);
    EXPECT_EQ(fast.RateBytesPerSecond(), 0u);
    EXPECT_LT(fast.DrainMs(), 100u);
    // Even a body taken whole in no time at all gets an allowance: bytes taken within a
    // moment prove a rate over a second at most.
    BodyPace atOnce;
    atOnce.PieceTaken(4 * UnmeasuredHoldBytes, 0, 0);
    EXPECT_EQ(atOnce.DrainMs(), UnmeasuredHoldBytes * 1000 / (3 * UnmeasuredHoldBytes));

    // A moment in which a loaded machine held the writer up is no slow link: no rate, and
    // what the socket may hold at the floor.
    BodyPace hiccup;
    hiccup.PieceTaken(ProbePieceSize, 0, 0);
    hiccup.PieceTaken(ProbePieceSize, MeasuredWaitMs - 1, MeasuredWaitMs - 1);
    hiccup.PieceTaken(ProbePieceSize, MeasuredWaitMs - 1, 0);
    EXPECT_EQ(hiccup.RateBytesPerSecond(), 0u);
    EXPECT_EQ(hiccup.DrainMs(), FloorDrainMs(3 * ProbePieceSize));
}

TEST(BodyPace, OnceTheRateIsKnownNoPieceCarriesMoreThanItsBound) {
    // A link of 100000 bytes a second that then makes room in a burst: the pieces taken at
    // at once double, but never past MaxPieceMs of the measured rate, so a give-up sends at
    // most that much more and no piece outlasts the stall limit.
    constexpr std::uint32_t Rate = 100000;
    BodyPace pace;
    pace.PieceTaken(ProbeBytes, 0, 0);
    std::uint32_t clock = 0;
    while (pace.RateBytesPerSecond() == 0) {
        const std::uint32_t size = pace.NextPieceSize();
        const std::uint32_t took = size * 1000 / Rate;
        pace.PieceTaken(size, clock += took, took);
    }
    const std::uint32_t bound = pace.RateBytesPerSecond() * MaxPieceMs / 1000;
    std::uint32_t largest = 0;
    for (int i = 0; i < 20; ++i) {
        largest = std::max(largest, pace.NextPieceSize());
        pace.PieceTaken(pace.NextPieceSize(), clock += 1, 1);
    }
    EXPECT_EQ(largest, bound);

    // A short piece that waits for a burst (the rest before the body's end) measures no
    // rate: its few bytes over its wait would make the link look a hundred times slower.
    const std::uint32_t before = pace.RateBytesPerSecond();
    const std::uint32_t drainBefore = pace.DrainMs();
    pace.PieceTaken(100, clock += 20000, 20000);
    EXPECT_EQ(pace.RateBytesPerSecond(), before);
    EXPECT_LT(pace.DrainMs(), drainBefore + 1000);
}

TEST(BodyPace, TheSocketHoldsAtLeastWhatItHeldAtItsFirstWait) {
    // A link that carried every byte at the rate measured: the socket is still as full as
    // when the first piece waited, 64 KiB at 100000 bytes a second.
    BodyPace steady;
    steady.PieceTaken(64 * 1024, 0, 0);
    std::uint32_t clock = 0;
    for (int i = 0; i < 100; ++i)
        steady.PieceTaken(100000, clock += 1000, 1000);
    EXPECT_EQ(steady.DrainMs(), DrainMargin * 64 * 1024 * 1000 / 100000);

    // A socket that took 300000 bytes over a second and a half before its first wait: the
    // link had carried them meanwhile, and the socket held nothing of them then.
    BodyPace lateWait;
    lateWait.PieceTaken(300000, 1500, WaitedPieceMs - 1);
    lateWait.PieceTaken(200000, 2500, 1000);
    EXPECT_EQ(lateWait.RateBytesPerSecond(), 200000u);
    EXPECT_EQ(lateWait.DrainMs(), 0u);

    // However slow, the allowance ends where TCP gives up on a connection.
    BodyPace dead;
    dead.PieceTaken(4000000, 0, 0);
    dead.PieceTaken(dead.NextPieceSize(), 600000, 600000);
    EXPECT_EQ(dead.DrainMs(), MaxDrainMs);
}

} // namespace
