#include "login/form_encoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Encoded(const char* source) {
    char out[260];
    int length = UrlEncodeForm(out, source);
    EXPECT_EQ(length, static_cast<int>(std::strlen(out)));
    return out;
}

} // namespace

TEST(UrlEncodeForm, EncodesAnAddressAsTheServiceExpects) {
    EXPECT_EQ(Encoded("taro.yamada_01-x@example.co.jp"), "taro.yamada_01-x%40example.co.jp");
    EXPECT_EQ(Encoded("a*b"), "a%2Ab");
    EXPECT_EQ(Encoded("\x82\xA0"), "%82%A0");
    EXPECT_EQ(Encoded("a b  c"), "a+b++c");
    EXPECT_EQ(Encoded("+%&=~/"), "%2B%25%26%3D%7E%2F");
    EXPECT_EQ(Encoded("\t\x7F\xFF"), "%09%7F%FF");
    EXPECT_EQ(Encoded(""), "");
    const char unchanged[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._";
    EXPECT_EQ(Encoded(unchanged), unchanged);
}

TEST(UrlEncodeForm, WritesEveryOtherByteAsPercentAndTwoUppercaseDigits) {
    for (int c = 1; c < 256; ++c) {
        const char source[2] = {static_cast<char>(c), 0};
        std::string out = Encoded(source);
        bool unchanged = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
        SCOPED_TRACE(c);
        if (unchanged) {
            EXPECT_EQ(out, source);
        } else if (c == ' ') {
            EXPECT_EQ(out, "+");
        } else {
            ASSERT_EQ(out.size(), 3u);
            EXPECT_EQ(out[0], '%');
            EXPECT_EQ(out.find_first_of("abcdef"), std::string::npos);
            EXPECT_EQ(std::strtol(out.c_str() + 1, nullptr, 16), c);
        }
    }
}

TEST(UrlEncodeForm, ReportsAnOutputThatDoesNotFit) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(UrlEncodeForm(buffer, 8, "abcd@e"), -1);
    EXPECT_STREQ(buffer, "");
    for (std::size_t i = 8; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], 'x') << "byte " << i;

    // Exactly filling the destination, terminator included, is fine.
    EXPECT_EQ(UrlEncodeForm(buffer, 8, "abcd@"), 7);
    EXPECT_STREQ(buffer, "abcd%40");
    EXPECT_EQ(UrlEncodeForm(buffer, 8, "abcdefg"), 7);
    EXPECT_EQ(UrlEncodeForm(buffer, 8, "abcdefgh"), -1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(buffer[8], 'x');

    // A three-byte piece that would only partly fit is not written at all.
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(UrlEncodeForm(buffer, 8, "abcde@"), -1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(buffer[8], 'x');

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(UrlEncodeForm(buffer, 0, "a"), -1);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(UrlEncodeForm(buffer, 1, ""), 0);
    EXPECT_EQ(UrlEncodeForm(buffer, 1, "a"), -1);

    // The login's 260-byte field: 86 at signs give 258 bytes, 87 would give 261.
    char field[260];
    EXPECT_EQ(UrlEncodeForm(field, std::string(86, '@').c_str()), 258);
    EXPECT_EQ(UrlEncodeForm(field, std::string(87, '@').c_str()), -1);
    EXPECT_STREQ(field, "");
}
