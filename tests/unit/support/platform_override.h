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

// GetVersion stand-ins for either family: the high bit marks Windows 9x.
inline DWORD WINAPI Windows98GetVersion() {
    return 0xC0000A04;
}
inline DWORD WINAPI WindowsXpGetVersion() {
    return 0x0A280105;
}
