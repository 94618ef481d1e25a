#include "upload/multipart_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Written(const char* buffer, std::size_t length) {
    return std::string(buffer, length);
}

TEST(MultipartLayout, PartTextsAreByteExact) {
    char buffer[256];
    std::size_t n = WritePlainPart(buffer, sizeof buffer, "--B", "caption", "hello");
    EXPECT_EQ(Written(buffer, n),
              "----B\r\nContent-Disposition: form-data; name=\"caption\"\r\n\r\nhello\r\n");
    n = WriteFilePartHeader(buffer, sizeof buffer, "--B", "file", "a.jpg");
    EXPECT_EQ(Written(buffer, n),
              "----B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.jpg\"\r\n\r\n");
    n = WriteClosingLine(buffer, sizeof buffer, "--B");
    EXPECT_EQ(Written(buffer, n), "----B--\r\n");
}

TEST(MultipartLayout, LengthsAreTheFixedTextsPlusTheVariableOnes) {
    char buffer[256];
    EXPECT_EQ(WritePlainPart(buffer, sizeof buffer, "", "", ""), PlainPartFixedLength);
    EXPECT_EQ(WriteFilePartHeader(buffer, sizeof buffer, "", "", ""), FilePartFixedLength);
    EXPECT_EQ(FilePartHeaderLength("--TAVIK-VISTORA-UPLOAD-FORM-DATA", "file", "a.jpg"), 101u);
    EXPECT_EQ(PlainPartLength("--MULTI-PARTS-FORM-DATA-BOUNDARY", "ab", "xyz"), 49u + 32 + 2 + 3);
    EXPECT_EQ(ClosingLineLength("--TAVIK-VISTORA-UPLOAD-FORM-DATA"), 38u);
}

TEST(MultipartLayout, ATextThatDoesNotFitWithItsTerminatorIsNotWritten) {
    const std::size_t length = PlainPartLength("--B", "n", "v");
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(WritePlainPart(buffer, length, "--B", "n", "v"), 0u);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
    EXPECT_EQ(WritePlainPart(buffer, length + 1, "--B", "n", "v"), length);
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_EQ(buffer[length + 1], 'x');

    const std::size_t header = FilePartHeaderLength("--B", "f", "a.jpg");
    EXPECT_EQ(WriteFilePartHeader(buffer, header, "--B", "f", "a.jpg"), 0u);
    EXPECT_EQ(WriteClosingLine(buffer, 9, "--B"), 0u);
    EXPECT_EQ(WriteClosingLine(buffer, 10, "--B"), 9u);
}

TEST(MultipartLayout, NamesWithBytesFrom0x80To0xFEGoOutAsUtf8) {
    EXPECT_FALSE(NeedsUtf8Name("IMG_0001.JPG"));
    EXPECT_FALSE(NeedsUtf8Name(""));
    EXPECT_TRUE(NeedsUtf8Name("\x82\xA0.jpg"));
    EXPECT_TRUE(NeedsUtf8Name("a\x80"));
    EXPECT_TRUE(NeedsUtf8Name("a\xFE"));
    EXPECT_FALSE(NeedsUtf8Name("a\xFF\xFF.jpg"));
}

TEST(MultipartLayout, TheFileEstimateNeverWraps) {
    EXPECT_EQ(FileFieldEstimate(10), 6154u);
    EXPECT_EQ(FileFieldEstimate(0xFFFFFFFFu), 0x100000000ull + 6143);
    EXPECT_EQ(FileFieldEstimate(0x7FFFFFFFFFFFFFFFull), 0x7FFFFFFFFFFFFFFFull + 6144);
}

} // namespace
