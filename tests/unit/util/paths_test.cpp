#include "util/paths.h"

#include "support/temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

namespace {

class PathsTest : public ::testing::Test {
  protected:
    void SetUp() override { saved_ = CurrentDirectory; }
    void TearDown() override { CurrentDirectory = saved_; }

    std::string saved_;
};

} // namespace

TEST_F(PathsTest, MakeAbsolutePathCompletesOnlyRelativeNames) {
    CurrentDirectory = "C:\\work";
    EXPECT_EQ(MakeAbsolutePath("Vistora.ini"), "C:\\work\\Vistora.ini");
    EXPECT_EQ(MakeAbsolutePath("\\\\server\\share\\x"), "\\\\server\\share\\x");
    EXPECT_EQ(MakeAbsolutePath("D:x"), "D:x");
    // Nothing is normalised.
    EXPECT_EQ(MakeAbsolutePath("..\\a"), "C:\\work\\..\\a");
    EXPECT_EQ(MakeAbsolutePath("\\root.ini"), "C:\\work\\\\root.ini");
}

TEST_F(PathsTest, CaptureTakesTheProcessCurrentDirectory) {
    char expected[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof expected, expected);
    CurrentDirectory.clear();
    CaptureCurrentDirectory();
    EXPECT_EQ(CurrentDirectory, expected);
}

TEST_F(PathsTest, PathExistsFindsFilesFoldersAndPatterns) {
    const TempFolder folder("paths");
    const std::string file = folder.PathOf("paths_test.jpg");
    std::ofstream(file) << "x";
    EXPECT_TRUE(PathExists(file));
    EXPECT_TRUE(PathExists(folder.PathOf("paths_te*.jpg")));
    EXPECT_TRUE(PathExists(folder.Path()));
    DeleteFileA(file.c_str());
    EXPECT_FALSE(PathExists(file));
    EXPECT_FALSE(PathExists(folder.PathOf("no such folder\\x.jpg")));
}

TEST_F(PathsTest, PathExistsCompletesRelativeNamesWithTheCapturedDirectory) {
    const TempFolder folder("paths");
    std::ofstream(folder.PathOf("relative.ini")) << "x";
    CurrentDirectory = folder.Path();
    EXPECT_TRUE(PathExists("relative.ini"));
    CurrentDirectory = "C:\\no such folder";
    EXPECT_FALSE(PathExists("relative.ini"));
}

TEST(FileNameOf, KeepsNameAndExtensionOnly) {
    std::string path = "C:\\a\\b\\photo.jpeg";
    FileNameOf(path);
    EXPECT_EQ(path, "photo.jpeg");

    path = "C:\\a\\b\\";
    FileNameOf(path);
    EXPECT_EQ(path, "");

    path = "IMG.JPG";
    FileNameOf(path);
    EXPECT_EQ(path, "IMG.JPG");

    path = "C:/photos/sub/IMG.JPG";
    FileNameOf(path);
    EXPECT_EQ(path, "IMG.JPG");

    path = "C:IMG.JPG";
    FileNameOf(path);
    EXPECT_EQ(path, "IMG.JPG");
}

TEST(FileNameOf, StepsOverDoubleByteTrailBackslashes) {
    // 表示.jpg: 表 ends in 0x5C.
    std::string path = "C:\\\x83\x5C\\\x95\x5C\x8E\xA6.jpg";
    FileNameOf(path);
    EXPECT_EQ(path, "\x95\x5C\x8E\xA6.jpg");
}
