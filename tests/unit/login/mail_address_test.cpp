#include "login/mail_address.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Case {
    const char* address;
    int code;
};

void ExpectCodes(const Case* cases, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(ValidateMailAddress(cases[i].address), cases[i].code)
            << "address \"" << cases[i].address << "\"";
    }
}

template <std::size_t N> void ExpectCodes(const Case (&cases)[N]) {
    ExpectCodes(cases, N);
}

} // namespace

TEST(ClassifyMailChar, PutsEveryByteIntoItsClass) {
    // The punctuation allowed besides letters and digits, by byte value.
    const int punctuation[] = {0x21, 0x23, 0x24, 0x25, 0x26, 0x27, 0x2A, 0x2B, 0x2D, 0x2F,
                               0x3D, 0x3F, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
    int expected[256] = {};
    for (int c = '0'; c <= '9'; ++c)
        expected[c] = 1;
    for (int c = 'A'; c <= 'Z'; ++c)
        expected[c] = 1;
    for (int c = 'a'; c <= 'z'; ++c)
        expected[c] = 1;
    for (int c : punctuation)
        expected[c] = 1;
    expected[0x2E] = 2;
    expected[0x40] = 3;

    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(ClassifyMailChar(c), expected[c]) << "byte 0x" << std::hex << c;
    // A byte above 0x7F that went through a signed char is still invalid.
    EXPECT_EQ(ClassifyMailChar(static_cast<signed char>(0x82)), 0);
    EXPECT_EQ(ClassifyMailChar(-1), 0);
}

TEST(MailAddress, ChecksLengthAndAtSignFirst) {
    const Case cases[] = {
        {"a@b.cd", 0}, // the shortest valid form
        {"a@b.c", 1},   {"", 1},        {"@.", 1},       {"abcdefg", 2},   {"ab.cd.ef", 2},
        {"@bc.de", 3},  {"@@@@@@", 3},  {"a b@c.de", 4}, {"a,b@cd.ef", 4}, {"a\tb@cd.ef", 4},
        {"abcd@ef", 5}, {"abcd@@e", 5}, // a short domain counts before a second at sign
        {"a b@cd", 4},                  // the local part is checked before the domain's length
    };
    ExpectCodes(cases);
}

TEST(MailAddress, ChecksTheDomainPartInOrder) {
    const Case cases[] = {
        {"a@b,c.de", 6},
        {"a@b@c.de", 6},
        {"a@b c.de", 6},
        {"abc@d,efg", 6}, // an invalid character is reported before a missing dot
        {"abc@defg", 7},
        {"ab@cd.ef.", 8},
        {"ab@cd.e1", 8},
        {"ab@cd.", 8},
        {"ab@c.d-_9", 8},
        {"ab@cd.1ef", 0},
        {"ab@cd.e1f", 0},
        {"ab@c.d.ef", 0},
        {"first.last+tag@mail.example.co.jp", 0},
        {"!#$%&'*+-/=?^_`{|}~@example.com", 0},
    };
    ExpectCodes(cases);
}

TEST(MailAddress, RejectsDoubledDotsOnlyOnceTheOtherRulesPass) {
    const Case cases[] = {
        {"a..b@c.de", 9}, {"ab@c..de", 9},    {"..@cd.ef", 9},  {"a..b@cd.e1", 8}, {"ab@c..d", 8},
        {"a..b@cdef", 7}, {"a..b@c,d.ef", 6}, {".ab@cd.ef", 0}, {"ab.@cd.ef", 0},  {".@cd.ef", 0},
    };
    ExpectCodes(cases);
}

TEST(MailAddress, RejectsBytesAboveAscii) {
    const Case cases[] = {
        {"ab\x82\xA0@cd.ef", 4},
        {"\x83\x65\x83\x58\x83\x67@cd.ef", 4},
        {"ab@c\x82\xA0"
         "d.ef",
         6},
        {"ab@cd.e\xFF"
         "f",
         6},
    };
    ExpectCodes(cases);
}

TEST(MailAddress, RejectsTwoHundredAndSixtyBytesOrMore) {
    const std::string domain = "@example.jp";
    std::string longest(259 - domain.size(), 'a');
    longest += domain;
    ASSERT_EQ(longest.size(), 259u);
    EXPECT_EQ(ValidateMailAddress(longest.c_str()), 0);

    std::string tooLong = "a" + longest;
    EXPECT_EQ(ValidateMailAddress(tooLong.c_str()), -1);
    // The length rule comes before every other one.
    EXPECT_EQ(ValidateMailAddress(std::string(300, ' ').c_str()), -1);
    EXPECT_EQ(ValidateMailAddress(std::string(5000, '.').c_str()), -1);
}

TEST(MailAddress, HasATextForEveryRejection) {
    EXPECT_STREQ(MailAddressMessages[0], "");
    const char* const texts[] = {
        "長さが短かすぎます",           "'@'がありません",
        "'@'より前がありません",        "'@'より前に不正な文字があります",
        "'@'より後が短かすぎます",      "'@'より後ろに不正な文字があります",
        "'@'より後ろに'.'がありません", "最後の'.'の後にアルファベットが二文字以上ありません",
        "連続した'.'があります",
    };
    static_assert(sizeof texts / sizeof texts[0] == MailAddressMessageCount - 1);
    for (int code = 1; code < MailAddressMessageCount; ++code)
        EXPECT_STREQ(MailAddressMessages[code], texts[code - 1]) << "code " << code;
    // Shown as code page 932 bytes: "'@'がありません".
    const unsigned char noAtSign[] = {0x27, 0x40, 0x27, 0x82, 0xAA, 0x82, 0xA0, 0x82,
                                      0xE8, 0x82, 0xDC, 0x82, 0xB9, 0x82, 0xF1, 0x00};
    EXPECT_EQ(std::memcmp(MailAddressMessages[2], noAtSign, sizeof noAtSign), 0);
}
