#include "upload/upload_query.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char Path[] = "/Pc/Upld_Upload.aspx";

std::string Target(const char* sessionId, const char* userId) {
    char out[2048];
    EXPECT_TRUE(FormatUploadTarget(out, Path, sessionId, userId));
    return out;
}

// The query value that a single byte becomes.
std::string UserIdOf(unsigned char c) {
    const char userId[2] = {static_cast<char>(c), 0};
    const std::string target = Target("S1", userId);
    const std::string lead = std::string(Path) + "?sessionId=S1&userId=";
    EXPECT_EQ(target.compare(0, lead.size(), lead), 0) << target;
    return target.substr(lead.size());
}

} // namespace

TEST(UploadTarget, APlainAddressGoesOutAsItAlwaysHas) {
    EXPECT_EQ(Target("0123abcXYZ", "taro.yamada_01-x@example.co.jp"),
              "/Pc/Upld_Upload.aspx?sessionId=0123abcXYZ&userId=taro.yamada_01-x@example.co.jp");
    // The rest of the address check's punctuation: a standard parser takes it as it is.
    EXPECT_EQ(Target("S", "!$'*-/=?^_`{|}~@example.com"),
              "/Pc/Upld_Upload.aspx?sessionId=S&userId=!$'*-/=?^_`{|}~@example.com");
}

TEST(UploadTarget, EscapesWhatAStandardQueryParserWouldMisread) {
    EXPECT_EQ(Target("S", "taro+x@example.com"),
              "/Pc/Upld_Upload.aspx?sessionId=S&userId=taro%2Bx@example.com");
    EXPECT_EQ(Target("S", "a%41&b=c#d e@example.com"),
              "/Pc/Upld_Upload.aspx?sessionId=S&userId=a%2541%26b=c%23d%20e@example.com");
    EXPECT_EQ(Target("S", "\t\x1F\x7F\x82\xA0\xFF"),
              "/Pc/Upld_Upload.aspx?sessionId=S&userId=%09%1F%7F%82%A0%FF");
    // The session goes through the same rule.
    EXPECT_EQ(Target("a+b&c", "u@example.com"),
              "/Pc/Upld_Upload.aspx?sessionId=a%2Bb%26c&userId=u@example.com");
}

TEST(UploadTarget, EveryByteIsEitherItselfOrPercentAndTwoUppercaseDigits) {
    for (int c = 1; c < 256; ++c) {
        SCOPED_TRACE(c);
        const bool escaped = c == '+' || c == '%' || c == '&' || c == '#' || c == ' ' || c < 0x20 ||
                             c == 0x7F || c >= 0x80;
        const std::string value = UserIdOf(static_cast<unsigned char>(c));
        if (!escaped) {
            EXPECT_EQ(value, std::string(1, static_cast<char>(c)));
            continue;
        }
        ASSERT_EQ(value.size(), 3u);
        EXPECT_EQ(value[0], '%');
        EXPECT_EQ(value.find_first_of("abcdef"), std::string::npos);
        EXPECT_EQ(std::strtol(value.c_str() + 1, nullptr, 16), c);
    }
}

TEST(UploadTarget, ATargetThatDoesNotFitIsRefusedNotCut) {
    const std::string whole = std::string(Path) + "?sessionId=S&userId=a%2Bb";
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(FormatUploadTarget(buffer, whole.size() + 1, Path, "S", "a+b"));
    EXPECT_EQ(std::string(buffer), whole);
    EXPECT_EQ(buffer[whole.size() + 1], 'x');

    // One byte short, and short in the middle of an escape: nothing cut goes out, and
    // nothing is written past the room given.
    for (std::size_t room : {whole.size(), whole.size() - 1, whole.size() - 3, std::size_t{5}}) {
        SCOPED_TRACE(room);
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_FALSE(FormatUploadTarget(buffer, room, Path, "S", "a+b"));
        EXPECT_STREQ(buffer, "");
        for (std::size_t i = room; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 'x') << "byte " << i;
    }
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(FormatUploadTarget(buffer, 0, Path, "S", "a+b"));
    EXPECT_EQ(buffer[0], 'x');
}

TEST(UploadTarget, TheLongestFieldsStillFitTheUploadsBuffer) {
    const std::string path(259, '/'), session(63, '+'), user(259, '\xFF');
    char target[2048];
    ASSERT_TRUE(FormatUploadTarget(target, path.c_str(), session.c_str(), user.c_str()));
    EXPECT_EQ(std::strlen(target), LongestUploadTarget(260, 64, 260));
}
