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
    // pieces, then each piece twice the last, up to the largest.
    BodyPace fast;
    std::uint32_t sent = 0;
    while (sent < ProbeBytes) {
        EXPECT_EQ(fast.NextPieceSize(), ProbePieceSize);
        fast.PieceTaken(ProbePieceSize, 0, 0);
        sent += ProbePieceSize;
    }
    for (std::uint32_t size = 2 * ProbePieceSize; size <= MaxPieceSize; size *= 2) {
        EXPECT_EQ(fast.NextPieceSize(), size);
        fast.PieceTaken(size, 0, 1);
    }
    EXPECT_EQ(fast.NextPieceSize(), MaxPieceSize);

    // Once the socket is full, a piece is what the link carries in about a second.
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

    // Taken whole without a wait (a fast link, or a body smaller than the socket's
    // buffer): nothing measured, no allowance.
    SocketOnLink roomy{4 * 1024 * 1024, 1000};
    roomy.Write(1024 * 1024);
    EXPECT_EQ(roomy.pace.RateBytesPerSecond(), 0u);
    EXPECT_EQ(roomy.pace.DrainMs(), 0u);

    // A moment in which a loaded machine held the writer up is no slow link.
    BodyPace hiccup;
    hiccup.PieceTaken(ProbePieceSize, 0, 0);
    hiccup.PieceTaken(ProbePieceSize, MeasuredWaitMs - 1, MeasuredWaitMs - 1);
    hiccup.PieceTaken(ProbePieceSize, MeasuredWaitMs - 1, 0);
    EXPECT_EQ(hiccup.RateBytesPerSecond(), 0u);
    EXPECT_EQ(hiccup.DrainMs(), 0u);
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
    dead.PieceTaken(MinPieceSize, 600000, 600000);
    EXPECT_EQ(dead.DrainMs(), MaxDrainMs);
}

} // namespace
