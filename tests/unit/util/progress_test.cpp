#include "util/progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> Positions(int steps) {
    std::vector<int> positions{ProgressPosition(0.0)};
    double value = 0.0;
    const double step = ProgressStepFor(steps);
    for (int i = 0; i < steps; ++i) {
        value += step;
        positions.push_back(ProgressPosition(value));
    }
    return positions;
}

} // namespace

TEST(OverallProgress, ThreeFilesAndALoginMoveInQuarters) {
    EXPECT_EQ(Positions(4), (std::vector<int>{0, 25, 50, 75, 100}));
}

TEST(OverallProgress, TwoFilesAndALoginRoundHalfUp) {
    EXPECT_EQ(Positions(3), (std::vector<int>{0, 33, 67, 100}));
}

TEST(OverallProgress, TheLastStepLandsOnOneHundred) {
    for (int steps : {7, 11, 13, 49, 97, 301, 1000}) {
        std::vector<int> positions = Positions(steps);
        EXPECT_EQ(positions.back(), 100) << steps;
        for (size_t i = 1; i < positions.size(); ++i)
            EXPECT_GE(positions[i], positions[i - 1]);
    }
    EXPECT_EQ(ProgressPosition(99.5), 100);
    EXPECT_EQ(ProgressPosition(99.49), 99);
    EXPECT_EQ(ProgressPosition(100.4), 100);
    EXPECT_EQ(ProgressPosition(-0.2), 0);
}

TEST(SendShare, StepsAreWholeAndTheLastComesWithTheLastByte) {
    EXPECT_EQ(ShareOfSpan(0, 1000, 20), 0);
    EXPECT_EQ(ShareOfSpan(49, 1000, 20), 0);
    EXPECT_EQ(ShareOfSpan(50, 1000, 20), 1);
    EXPECT_EQ(ShareOfSpan(999, 1000, 20), 19);
    EXPECT_EQ(ShareOfSpan(1000, 1000, 20), 20);
    // Lengths near the 32-bit limit do not overflow.
    EXPECT_EQ(ShareOfSpan(0xFFFFFFFEu, 0xFFFFFFFFu, 20), 19);
    EXPECT_EQ(ShareOfSpan(0x7FFFFFFFu, 0xFFFFFFFFu, 20), 9);
}

TEST(SendShare, NothingToSendIsAllSentAndNothingLeavesTheSpan) {
    EXPECT_EQ(ShareOfSpan(0, 0, 20), 20);
    EXPECT_EQ(ShareOfSpan(1500, 1000, 20), 20);
    EXPECT_EQ(ShareOfSpan(500, 1000, 0), 0);
    EXPECT_EQ(ShareOfSpan(500, 1000, -5), 0);
}
