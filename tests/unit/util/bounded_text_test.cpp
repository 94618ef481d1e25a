#include "util/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(BoundedText, CopyReportsWhetherTheTextFit) {
    char buffer[6];
    EXPECT_TRUE(CopyText(buffer, "hello"));
    EXPECT_STREQ(buffer, "hello");
    EXPECT_FALSE(CopyText(buffer, "hello!"));
    EXPECT_STREQ(buffer, "hello");
    EXPECT_TRUE(CopyText(buffer, ""));
    EXPECT_STREQ(buffer, "");
}

TEST(BoundedText, AppendStopsAtTheEnd) {
    char buffer[8] = "abc";
    EXPECT_TRUE(AppendText(buffer, "defg"));
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_FALSE(AppendText(buffer, "h"));
    EXPECT_STREQ(buffer, "abcdefg");
}

TEST(BoundedText, FormatNeverWritesPastTheBuffer) {
    char buffer[12];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(FormatText(buffer, 8, "%s-%d", "ab", 42));
    EXPECT_STREQ(buffer, "ab-42");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(FormatText(buffer, 8, "%s\\%s", "abcd", "efgh"));
    EXPECT_EQ(buffer[7], '\0');
    EXPECT_EQ(buffer[8], 'x');
    EXPECT_TRUE(FitsIn("1234567", 8));
    EXPECT_FALSE(FitsIn("12345678", 8));
}
