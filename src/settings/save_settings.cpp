#include "settings/settings.h"

#include "util/platform_calls.h"

#include <cstdio>

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
