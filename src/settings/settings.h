#pragma once
// The settings record and its INI file "Vistora.ini", section "WebAlbum".

#include "util/text_sizes.h"

#include <string>

struct SettingsRecord {
    char LoginUrl[UrlSize];
    char UploadUrl[UrlSize];
    char LoginName[NameSize];
    char Password[NameSize];
    char LoginPath[NameSize];
    char UploadPath[NameSize];
    // Empty while no login is held.
    char SessionId[NameSize];
    char PasswordDigest[NameSize];
};
extern SettingsRecord Settings;

// Login data poked by the host, waiting for the controller's next step.
struct StagedLoginRecord {
    char LoginUrl[UrlSize];
    char UploadUrl[UrlSize];
    char LoginName[NameSize];
    char Password[NameSize];
};
extern StagedLoginRecord StagedLoginData;
// Set when the host has poked login data; the controller applies it at its next step.
extern int LoginDataPending;

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
// Sets LoginPath and UploadPath from the two URLs. LoadSettings leaves it to the login and
// the upload, which call it before they take a path: the split takes WinINet, which the
// window and the DDE service do not need, and loading it would lengthen the start-up.
void SplitUrls();
int ApplyStagedLoginData();
int SaveSettings();
