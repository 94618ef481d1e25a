#include "settings/settings.h"

SettingsRecord Settings = {};
StagedLoginRecord StagedLoginData = {};

// VISTORA_ALBUM_HOST is a build setting (CMake cache entry of the same name).
const char* DefaultLoginUrl() {
    return "http://" VISTORA_ALBUM_HOST "/Pc/Upld_Login.aspx";
}
const char* DefaultUploadUrl() {
    return "http://" VISTORA_ALBUM_HOST "/Pc/Upld_Upload.aspx";
}
