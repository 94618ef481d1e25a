#include "login/password_digest.h"

#include "login/sha1.h"
#include "settings/settings.h"

#include <windows.h>

#include <cstring>

void ComputePasswordDigest() {
    std::uint32_t digest[5];
    Sha1Digest(Settings.Password, strnlen(Settings.Password, sizeof Settings.Password), digest);
    FormatDigestText(digest, Settings.PasswordDigest);
    OutputDebugStringA(Settings.PasswordDigest);
}
