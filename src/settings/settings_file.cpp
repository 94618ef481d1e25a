// The INI file "Vistora.ini": which one is read at start-up, and writing it back beside
// the program.
#include "settings/settings.h"

#include "util/paths.h"
#include "util/platform_calls.h"

#include <windows.h>

#include <cstdio>
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
    return 0;
}

int SaveSettings() {
    const std::string path = SettingsFileBesideProgram();
    // Without a known program directory there is nowhere to write the clear-text password
    // that is the program's own.
    if (path.empty())
        return 0;
    std::FILE* file = std::fopen(path.c_str(), "w+");
    // A file that cannot be created (read-only folder, say) is left alone.
    if (file == nullptr)
        return 0;
    std::fputs("# Vistoraサーバー情報ファイル\n", file);
    std::fputs("[WebAlbum]\n", file);
    // The URLs are written only while Shift is held, so that a plain save lets the next
    // start fall back to the built-in service URLs.
    if (Platform().GetAsyncKeyState(VK_SHIFT) != 0) {
        std::fprintf(file, "LoginUrl=%s\n", Settings.LoginUrl);
        std::fprintf(file, "UploadUrl=%s\n", Settings.UploadUrl);
    }
    std::fprintf(file, "LoginName=%s\n", Settings.LoginName);
    std::fprintf(file, "Password=%s\n", Settings.Password);
    std::fclose(file);
    return 0;
}
