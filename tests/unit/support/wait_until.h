#pragma once
// Polling for something another thread, WinINet or Wine does, bounded so that a hang
// fails the test instead of stopping the run.

#include <windows.h>

// Long enough for a loaded two-core machine running Wine, short enough to end a hang.
constexpr DWORD HangLimit = 30000;

// Polls condition every 20 ms until it holds or limit ms have passed; whether it held.
template <class Condition> bool WaitUntil(Condition condition, DWORD limit = HangLimit) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= limit)
            return false;
        Sleep(20);
    }
    return true;
}
