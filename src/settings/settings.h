#pragma once
// The settings record and its INI file "Vistora.ini", section "WebAlbum".

#include <cstddef>
#include <string>

constexpr std::size_t UrlFieldSize = 520;
constexpr std::size_t TextFieldSize = 260;

struct SettingsRecord {
    char LoginUrl[UrlFieldSize];
    char UploadUrl[UrlFieldSize];
    char LoginName[TextFieldSize];
    char Password[TextFieldSize];
    char LoginPath[TextFieldSize];
    char UploadPath[TextFieldSize];
    // Empty while no login is held.
    char SessionId[TextFieldSize];
    char PasswordDigest[TextFieldSize];
};
extern SettingsRecord Settings;

// Login data poked by the host, waiting for the controller's next step.
struct StagedLoginRecord {
    char LoginUrl[UrlFieldSize];
    char UploadUrl[UrlFieldSize];
    char LoginName[TextFieldSize];
    char Password[TextFieldSize];
};
extern StagedLoginRecord StagedLoginData;

constexpr char SettingsFileName[] = "Vistora.ini";
constexpr char SettingsSection[] = "WebAlbum";

const char* DefaultLoginUrl();
const char* DefaultUploadUrl();

// The file LoadSettings reads: the current directory's, else the one beside the
// program, else the bare name (which the profile functions seek in the Windows folder).
std::string ChooseSettingsFile();
// Where SaveSettings writes: always beside the program file. Empty when the program's
// path is too long to be known.
std::string SettingsFileBesideProgram();

int LoadSettings();
void SplitUrls();
int ApplyStagedLoginData();
int SaveSettings();
