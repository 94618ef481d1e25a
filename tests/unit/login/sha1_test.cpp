#include "login/password_digest.h"
#include "login/sha1.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string HexOf(const std::uint32_t digest[5]) {
    char text[NameSize];
    FormatDigestText(digest, text);
    return std::string(text, 40);
}

std::string MemoryDigest(const void* data, std::size_t count) {
    std::uint32_t digest[5];
    Sha1Digest(data, count, digest);
    return HexOf(digest);
}

std::string MemoryDigest(const std::string& text) {
    return MemoryDigest(text.data(), text.size());
}

std::string StreamDigest(std::FILE* stream) {
    std::uint32_t digest[5];
    // The memory arguments must be ignored in stream mode.
    static const char ignored[] = "ignored";
    Sha1Compute(1, stream, ignored, sizeof ignored, digest);
    return HexOf(digest);
}

// A file holding bytes, rewound; closed by the caller.
std::FILE* StreamOf(const std::string& bytes) {
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr)
        return nullptr;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
        std::fclose(stream);
        return nullptr;
    }
    std::rewind(stream);
    return stream;
}

// 64 distinct characters, so that a block or word taken in the wrong order shows.
const std::string Alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+/";

std::string AlphabetPrefix(std::size_t length) {
    std::string text;
    while (text.size() < length)
        text += Alphabet;
    return text.substr(0, length);
}

struct Vector {
    std::size_t length;
    const char* expected;
};

// Lengths around the places where the padding and the bit length change blocks; the
// expected values come from Python's hashlib on the host.
const Vector BoundaryVectors[] = {
    {55, "ed8b55273b7180b9a64b763ffd802939834d6d6c"},
    {56, "329c9c4de87d10dec65d56fdfb41da089cbf2a62"},
    {57, "b06471185f50f52e0e487dc13bde2c319c5b7874"},
    {63, "2b9d89e4a298c6327774d86067983596ca2a920a"},
    {64, "dcbaf0c26c14c983b97ac55510c62f00e9c78505"},
    {65, "b69446d430fa931574f24cb0490c0434c5aa7c99"},
    {119, "e7a9736a5c71e6a6eaa965031d75f6bd77e5567d"},
    {120, "d04a9db8063e7d7b6995aca2dab541aef56c4a34"},
    {128, "82bf03abe2ac5a605bd854bc3b06d1a2db4b2874"},
};

const char OneMillionAsDigest[] = "34aa973cd4c4daa4f61eeb2bdbad27316534016f";

} // namespace

TEST(Sha1, MatchesThePublishedVectors) {
    EXPECT_EQ(MemoryDigest(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(MemoryDigest(nullptr, 0), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(MemoryDigest("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(MemoryDigest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(MemoryDigest(std::string(1000000, 'a')), OneMillionAsDigest);
}

TEST(Sha1, PadsCorrectlyAroundTheBlockBoundaries) {
    for (const Vector& v : BoundaryVectors) {
        SCOPED_TRACE(v.length);
        EXPECT_EQ(MemoryDigest(AlphabetPrefix(v.length)), v.expected);
    }
}

TEST(Sha1, DigestsBytesAboveAsciiAsTheyAre) {
    // "パスワード" in Shift-JIS, one of its trail bytes 0x5B.
    const unsigned char password[] = {0x83, 0x70, 0x83, 0x58, 0x83, 0x8F, 0x81, 0x5B, 0x83, 0x68};
    EXPECT_EQ(MemoryDigest(password, sizeof password), "bfab5a53d2ec8ec6cb39fc924cf8c8410377c9c8");
    // The same text as a literal of this file, compiled to the ANSI code page.
    EXPECT_EQ(MemoryDigest("パスワード"), "bfab5a53d2ec8ec6cb39fc924cf8c8410377c9c8");

    unsigned char high[128];
    for (int i = 0; i < 128; ++i)
        high[i] = static_cast<unsigned char>(0x80 + i);
    EXPECT_EQ(MemoryDigest(high, sizeof high), "87f0c35852e65ad707f37c05fb03dc6e68aa4fbf");
}

TEST(Sha1, StreamModeDigestsWhatRemainsInTheStream) {
    std::vector<std::string> inputs = {"", "abc", std::string(1000000, 'a')};
    for (const Vector& v : BoundaryVectors)
        inputs.push_back(AlphabetPrefix(v.length));
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.size());
        std::FILE* stream = StreamOf(input);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(StreamDigest(stream), MemoryDigest(input));
        std::fclose(stream);
    }

    // Only the bytes from the current position on count.
    std::string text = AlphabetPrefix(120);
    std::FILE* stream = StreamOf(text);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fseek(stream, 64, SEEK_SET), 0);
    EXPECT_EQ(StreamDigest(stream), MemoryDigest(text.substr(64)));
    std::fclose(stream);
}

TEST(DigestText, IsFortyLowercaseDigitsAndALineFeedInAZeroFilledField) {
    const std::uint32_t digest[5] = {0x00000001u, 0xABCDEF01u, 0x0000F00Du, 0x10000000u,
                                     0xFFFFFFFFu};
    char text[NameSize];
    std::memset(text, 'x', sizeof text);
    FormatDigestText(digest, text);
    EXPECT_STREQ(text, "00000001abcdef010000f00d10000000ffffffff\n");
    for (std::size_t i = 41; i < sizeof text; ++i)
        ASSERT_EQ(text[i], '\0') << "byte " << i;
}

class PasswordDigestTest : public ::testing::Test {
  protected:
    void SetUp() override { saved = Settings; }
    void TearDown() override { Settings = saved; }

    SettingsRecord saved;
};

TEST_F(PasswordDigestTest, ReplacesTheStoredDigestTextWithThatOfThePassword) {
    struct Case {
        const char* password;
        const char* text;
    };
    // Real digests whose first or second word lies below 0x10000000.
    const Case cases[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d\n"},
        {"pw5859", "0006e617d8938bb0c16fbcb10e90d80df95651a9\n"},
        {"pw2955", "5a1b7f4e0006141f611e6d4165a70266610af65a\n"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        // Bytes after the terminator must not count.
        std::memset(Settings.Password, 'y', sizeof Settings.Password);
        std::strcpy(Settings.Password, c.password);
        std::memset(Settings.PasswordDigest, 'x', sizeof Settings.PasswordDigest);
        ComputePasswordDigest();
        EXPECT_STREQ(Settings.PasswordDigest, c.text);
        for (std::size_t i = 41; i < sizeof Settings.PasswordDigest; ++i)
            ASSERT_EQ(Settings.PasswordDigest[i], '\0') << "byte " << i;
        EXPECT_STREQ(Settings.Password, c.password);
    }
}
