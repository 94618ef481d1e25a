#pragma once
// Replaces entries of the platform call table for one test and restores them after.

#include "util/platform_calls.h"

class PlatformOverride {
  public:
    PlatformOverride() = default;
    ~PlatformOverride() { ResetPlatformCalls(); }
    PlatformOverride(const PlatformOverride&) = delete;
    PlatformOverride& operator=(const PlatformOverride&) = delete;

    PlatformCalls& calls() { return Platform(); }
};

// GetVersion values: the high bit marks the Windows 9x family.
constexpr DWORD Windows98Version = 0xC0000A04;
constexpr DWORD WindowsXpVersion = 0x0A280105;
