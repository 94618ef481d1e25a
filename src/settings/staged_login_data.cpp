#include "settings/settings.h"

#include "util/bounded_text.h"

#include <cstring>

int ApplyStagedLoginData() {
    // The staged fields have the sizes of the settings they replace, so each copy fits.
    CopyText(Settings.LoginUrl, StagedLoginData.LoginUrl);
    CopyText(Settings.UploadUrl, StagedLoginData.UploadUrl);
    CopyText(Settings.LoginName, StagedLoginData.LoginName);
    CopyText(Settings.Password, StagedLoginData.Password);
    std::memset(Settings.SessionId, 0, sizeof Settings.SessionId);
    SplitUrls();
    return 0;
}
