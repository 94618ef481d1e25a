#include "app/progress.h"

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
