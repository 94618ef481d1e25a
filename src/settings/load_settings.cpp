#include "settings/settings.h"

#include "util/paths.h"

#include <windows.h>

#include <cstring>

std::string SettingsFileBesideProgram() {
    // A program path too long to be known has no file beside it. The bare name would be
    // taken relative to the current directory, or the root: neither is the program's.
    const std::string directory = ProgramFileDirectory();
    return directory.empty() ? std::string() : directory + SettingsFileName;
}

std::string ChooseSettingsFile() {
    // An unknown current directory (one too long to capture) has no file to offer; the
    // name completed with it would point at the root of the drive instead.
    if (!CurrentDirectory.empty()) {
        std::string inCurrentDirectory = MakeAbsolutePath(SettingsFileName);
        if (PathExists(inCurrentDirectory))
            return inCurrentDirectory;
    }
    std::string besideProgram = SettingsFileBesideProgram();
    if (!besideProgram.empty() && PathExists(besideProgram))
        return besideProgram;
    return SettingsFileName;
}

int LoadSettings() {
    const std::string file = ChooseSettingsFile();
    const char* path = file.c_str();
    GetPrivateProfileStringA(SettingsSection, "LoginUrl", DefaultLoginUrl(), Settings.LoginUrl,
                             sizeof Settings.LoginUrl, path);
    GetPrivateProfileStringA(SettingsSection, "UploadUrl", DefaultUploadUrl(), Settings.UploadUrl,
                             sizeof Settings.UploadUrl, path);
    GetPrivateProfileStringA(SettingsSection, "LoginName", "", Settings.LoginName,
                             sizeof Settings.LoginName, path);
    GetPrivateProfileStringA(SettingsSection, "Password", "", Settings.Password,
                             sizeof Settings.Password, path);
    std::memset(Settings.SessionId, 0, sizeof Settings.SessionId);
    SplitUrls();
    return 0;
}
