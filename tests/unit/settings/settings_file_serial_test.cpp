// The settings file beside the test program and in a current directory of the test's own.
#include "settings/settings.h"
#include "support/platform_override.h"
#include "support/temp_folder.h"
#include "util/bounded_text.h"
#include "util/paths.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

SHORT WINAPI ShiftDown(int key) {
    return key == VK_SHIFT ? static_cast<SHORT>(0x8000) : 0;
}
SHORT WINAPI NothingDown(int) {
    return 0;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedDirectory_ = CurrentDirectory;
        savedSettings_ = Settings;
        CurrentDirectory = current_.Path();
        besideProgram_ = ProgramFileDirectory() + "Vistora.ini";
        CleanBesideProgram();
    }
    void TearDown() override {
        CleanBesideProgram();
        CurrentDirectory = savedDirectory_;
        Settings = savedSettings_;
    }
    void CleanBesideProgram() {
        DeleteFileA(besideProgram_.c_str());
        RemoveDirectoryA(besideProgram_.c_str());
    }

    PlatformOverride platform;
    TempFolder current_{"settings_cwd"};
    std::string besideProgram_;

  private:
    std::string savedDirectory_;
    SettingsRecord savedSettings_;
};

} // namespace

TEST_F(SettingsFileTest, WithoutAFileTheDefaultsHold) {
    EXPECT_EQ(ChooseSettingsFile(), "Vistora.ini");
    CopyText(Settings.SessionId, "token");
    EXPECT_EQ(LoadSettings(), 0);
    EXPECT_STREQ(Settings.LoginUrl, DefaultLoginUrl());
    EXPECT_STREQ(Settings.UploadUrl, DefaultUploadUrl());
    EXPECT_STREQ(Settings.LoginName, "");
    EXPECT_STREQ(Settings.Password, "");
    SplitUrls();
    EXPECT_STREQ(Settings.LoginPath, "/Pc/Upld_Login.aspx");
    EXPECT_STREQ(Settings.UploadPath, "/Pc/Upld_Upload.aspx");
    EXPECT_STREQ(Settings.SessionId, "");
    EXPECT_EQ(std::string(DefaultLoginUrl()).rfind("http://", 0), 0u);
}

TEST_F(SettingsFileTest, TheCurrentDirectoryWinsOverTheProgramFolder) {
    WriteFile(besideProgram_, "[WebAlbum]\r\nLoginName=beside@x.jp\r\n");
    EXPECT_EQ(ChooseSettingsFile(), besideProgram_);
    LoadSettings();
    EXPECT_STREQ(Settings.LoginName, "beside@x.jp");

    WriteFile(current_.PathOf("Vistora.ini"),
              "[WebAlbum]\r\nLoginUrl=http://127.0.0.1:8080/Pc/Upld_Login.aspx\r\n"
              "UploadUrl=http://127.0.0.1:8080/up/load.aspx?x=1\r\n"
              "LoginName=current@x.jp\r\nPassword=\x83\x70\x83\x58\r\n");
    EXPECT_EQ(ChooseSettingsFile(), current_.PathOf("Vistora.ini"));
    LoadSettings();
    EXPECT_STREQ(Settings.LoginName, "current@x.jp");
    EXPECT_STREQ(Settings.Password, "\x83\x70\x83\x58");
    SplitUrls();
    EXPECT_STREQ(Settings.LoginPath, "/Pc/Upld_Login.aspx");
    // The query of a configured URL does not reach the path.
    EXPECT_STREQ(Settings.UploadPath, "/up/load.aspx");
}

TEST_F(SettingsFileTest, UrlsThatDoNotSplitLeaveAnEmptyPath) {
    CopyText(Settings.LoginUrl, "not a url at all");
    std::string longPath = "http://h/" + std::string(300, 'p');
    CopyText(Settings.UploadUrl, longPath.c_str());
    SplitUrls();
    EXPECT_STREQ(Settings.LoginPath, "");
    EXPECT_STREQ(Settings.UploadPath, "");
}

TEST_F(SettingsFileTest, StagedLoginDataReplacesTheFourSettingsAndDropsTheSession) {
    CopyText(StagedLoginData.LoginUrl, "http://a.example/l.aspx");
    CopyText(StagedLoginData.UploadUrl, "http://a.example/u.aspx");
    CopyText(StagedLoginData.LoginName, "new@x.jp");
    CopyText(StagedLoginData.Password, "secret");
    CopyText(Settings.SessionId, "abc");
    EXPECT_EQ(ApplyStagedLoginData(), 0);
    EXPECT_STREQ(Settings.LoginUrl, "http://a.example/l.aspx");
    EXPECT_STREQ(Settings.LoginName, "new@x.jp");
    EXPECT_STREQ(Settings.Password, "secret");
    EXPECT_STREQ(Settings.SessionId, "");
    EXPECT_STREQ(Settings.UploadPath, "/u.aspx");
}

TEST_F(SettingsFileTest, SavingWithoutShiftWritesFourLinesBesideTheProgram) {
    platform.calls().GetAsyncKeyState = NothingDown;
    WriteFile(current_.PathOf("Vistora.ini"), "[WebAlbum]\r\n");
    CopyText(Settings.LoginName, "me@x.jp");
    CopyText(Settings.Password, "pa ss");
    EXPECT_EQ(SaveSettings(), 0);
    EXPECT_EQ(ReadFile(besideProgram_), "# Vistora\x83\x54\x81\x5B\x83\x6F\x81\x5B\x8F\xEE\x95\xF1"
                                        "\x83\x74\x83\x40\x83\x43\x83\x8B\r\n"
                                        "[WebAlbum]\r\nLoginName=me@x.jp\r\nPassword=pa ss\r\n");
    EXPECT_EQ(ReadFile(current_.PathOf("Vistora.ini")), "[WebAlbum]\r\n");
}

TEST_F(SettingsFileTest, SavingWithShiftAddsTheUrlsAndReadsBackTheSame) {
    platform.calls().GetAsyncKeyState = ShiftDown;
    CopyText(Settings.LoginUrl, "http://127.0.0.1:1/l");
    CopyText(Settings.UploadUrl, "http://127.0.0.1:1/u");
    CopyText(Settings.LoginName, "me@x.jp");
    CopyText(Settings.Password, "\x83\x70\x83\x58\x83\x8F\x81\x5B\x83\x68");
    SaveSettings();
    std::string text = ReadFile(besideProgram_);
    EXPECT_NE(text.find("[WebAlbum]\r\nLoginUrl=http://127.0.0.1:1/l\r\n"
                        "UploadUrl=http://127.0.0.1:1/u\r\nLoginName=me@x.jp\r\n"),
              std::string::npos)
        << text;

    const SettingsRecord saved = Settings;
    std::memset(&Settings, 0, sizeof Settings);
    LoadSettings();
    EXPECT_STREQ(Settings.LoginUrl, saved.LoginUrl);
    EXPECT_STREQ(Settings.UploadUrl, saved.UploadUrl);
    EXPECT_STREQ(Settings.Password, saved.Password);
}

TEST_F(SettingsFileTest, AFileThatCannotBeWrittenIsLeftAlone) {
    ASSERT_TRUE(CreateDirectoryA(besideProgram_.c_str(), nullptr));
    EXPECT_EQ(SaveSettings(), 0);
    EXPECT_TRUE(GetFileAttributesA(besideProgram_.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}
