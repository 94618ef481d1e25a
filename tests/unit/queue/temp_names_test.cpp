#include "queue/temp_names.h"

#include <gtest/gtest.h>

namespace {

// Shift-JIS lead bytes, as IsDBCSLeadByte answers them for code page 932.
bool ShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool Inside(const char* name) {
    return IsNameInsideTemp(name, ShiftJisLeadByte);
}

bool NamesFile(const char* name) {
    return NamesAFile(name, ShiftJisLeadByte);
}

} // namespace

TEST(TempNames, NamesOfFilesInTempAndItsSubfoldersAreAccepted) {
    for (const char* name :
         {"a.jpg", "sub\\a.jpg", "sub/deeper/a.jpg", "a..jpg", ".hidden", "con1.jpg", "com0.jpg",
          "lpt10", "console.txt", "nul-photo.jpg", "写真.jpg", "a\\\\b.jpg", "D:\\pics\\a.jpg",
          "a.jpg.", "[1]+#&;,=.jpg"})
        EXPECT_TRUE(Inside(name) && NamesFile(name)) << name;
}

// They stay inside temp, but no file can ever be found, opened and sent by them.
TEST(TempNames, NamesOfNoFileAreRefused) {
    for (const char* name : {"", "\\", "/", "sub\\", "sub/", "写真\\", "*", "a?.jpg", "sub\\*",
                             "a<b.jpg", "a>b.jpg", "a\"b.jpg", "a|b.jpg", "a\tb.jpg", "\x1F"}) {
        EXPECT_TRUE(Inside(name)) << name;
        EXPECT_FALSE(NamesFile(name)) << name;
    }
}

TEST(TempNames, NamesThatClimbOutOfTempAreRefused) {
    for (const char* name : {"..", "..\\secret.txt", "../secret.txt", "sub\\..\\..\\secret.txt",
                             "sub/../../Vistora.ini", "a\\..", "...\\x", ".. \\x", ". .\\x",
                             "\\\\.\\C:\\x", "..:stream"})
        EXPECT_FALSE(Inside(name)) << name;
}

TEST(TempNames, ReservedDevicesAreRefusedInAnyCaseAndWithAnyExtension) {
    for (const char* name : {"CON", "con", "Nul.jpg", "PRN.txt.jpg", "aux ", "COM1", "com9.jpg",
                             "LPT1", "lpt9:x", "CONIN$", "conout$.txt", "sub\\NUL", "nul\\a.jpg"})
        EXPECT_FALSE(Inside(name)) << name;
}

// ソ (0x83 0x5C) and 表 (0x95 0x5C) end in the byte of a backslash, which is no separator
// inside them: "ソ.." is one name, not a name and a climb.
TEST(TempNames, TheTrailByteOfADoubleByteCharacterIsNoSeparator) {
    EXPECT_TRUE(Inside("\x83\x5C..jpg"));
    EXPECT_TRUE(Inside("\x95\x5C"
                       "CON.jpg"));
    EXPECT_FALSE(Inside("\x95\x5C\\..\\x"));
    // Without double-byte characters (another ANSI code page) the same bytes do climb.
    EXPECT_FALSE(IsNameInsideTemp("\x83\\..\\x", [](unsigned char) { return false; }));
    // Nor does ソ end a name in a separator, nor is the 0x7C of ポ a "|".
    EXPECT_TRUE(NamesFile("\x83\x5C"));
    EXPECT_TRUE(NamesFile("sub\\\x83\x7C.jpg"));
    EXPECT_FALSE(NamesFile("\x83\x5C\\"));
    EXPECT_FALSE(NamesAFile("\x83\\", [](unsigned char) { return false; }));
    EXPECT_FALSE(NamesAFile("\x83|", [](unsigned char) { return false; }));
}
