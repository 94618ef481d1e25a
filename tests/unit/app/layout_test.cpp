#include "app/layout.h"

#include <gtest/gtest.h>

namespace {

void ExpectRect(const ControlRect& r, int x, int y, int w, int h) {
    EXPECT_EQ(r.x, x);
    EXPECT_EQ(r.y, y);
    EXPECT_EQ(r.width, w);
    EXPECT_EQ(r.height, h);
}

} // namespace

TEST(MainLayout, StacksLabelBarsAndListUnderTheMenuHeight) {
    MainLayout l = ComputeLayout(384, 262, 19);
    ExpectRect(l.backdrop, 0, 0, 384, 262);
    ExpectRect(l.statusLabel, 0, 0, 100, 19);
    ExpectRect(l.transferBar, 100, 0, 200, 9);
    ExpectRect(l.overallBar, 100, 9, 200, 9);
    ExpectRect(l.queueList, 0, 19, 384, 243);
    ExpectRect(l.uploadButton, 0, 243, 0, 0);
}

TEST(MainLayout, WindowLowerThanTheMenuGivesNegativeListHeight) {
    MainLayout l = ComputeLayout(120, 5, 18);
    ExpectRect(l.queueList, 0, 18, 120, -13);
    ExpectRect(l.uploadButton, 0, -13, 0, 0);
    ExpectRect(l.transferBar, 100, 0, 200, 9);
    ExpectRect(l.overallBar, 100, 9, 200, 9);
}

TEST(MainLayout, ButtonHasNoSizeWhateverTheWindow) {
    for (int w : {0, 1, 400, 32767})
        for (int h : {0, 17, 300}) {
            MainLayout l = ComputeLayout(w, h, 17);
            EXPECT_EQ(l.uploadButton.width, 0);
            EXPECT_EQ(l.uploadButton.height, 0);
        }
}
