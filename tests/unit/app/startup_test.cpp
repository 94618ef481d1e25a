#include "app/startup.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int Parse(std::initializer_list<const char*> args) {
    std::vector<char*> argv;
    for (const char* a : args)
        argv.push_back(const_cast<char*>(a));
    return ParseExpectedFileCount(static_cast<int>(argv.size()), argv.data());
}

} // namespace

TEST(StartupArguments, FirstArgumentReadLikeAtoi) {
    EXPECT_EQ(Parse({"up.exe"}), 0);
    EXPECT_EQ(Parse({"up.exe", "3"}), 3);
    EXPECT_EQ(Parse({"up.exe", "abc"}), 0);
    EXPECT_EQ(Parse({"up.exe", "-2"}), -2);
    EXPECT_EQ(Parse({"up.exe", "5", "7"}), 5);
    EXPECT_EQ(Parse({"up.exe", "  12x"}), 12);
    EXPECT_EQ(Parse({"up.exe", "+4"}), 4);
}

TEST(ModuleDirectory, CutsAtTheRealLastSeparator) {
    ASSERT_EQ(GetACP(), 932u) << "the tests expect the Japanese ANSI code page";
    // ソ is 0x83 0x5C and 表 is 0x95 0x5C in code page 932: their trail bytes are
    // backslashes, which a byte-wise search would take for separators.
    char path[MAX_PATH] = "C:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C.exe";
    EXPECT_EQ(CutAfterLastBackslash(path), 0);
    EXPECT_STREQ(path, "C:\\\x83\x5C\x83\x74\x83\x67\\");

    char folderEndingInTrailByte[MAX_PATH] = "D:\\\x95\x5C\\up.exe";
    CutAfterLastBackslash(folderEndingInTrailByte);
    EXPECT_STREQ(folderEndingInTrailByte, "D:\\\x95\x5C\\");

    char bare[MAX_PATH] = "up.exe";
    EXPECT_EQ(CutAfterLastBackslash(bare), -1);
    EXPECT_STREQ(bare, "");
}

TEST(ModuleDirectory, IsTheDirectoryOfTheProgramFile) {
    char directory[MAX_PATH] = {};
    ASSERT_EQ(ComputeModuleDirectory(GetModuleHandleA(nullptr), directory), 0);
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string expected(program);
    expected.erase(expected.rfind('\\') + 1);
    EXPECT_EQ(directory, expected);
    EXPECT_EQ(ProgramFileDirectory(), expected);
}
