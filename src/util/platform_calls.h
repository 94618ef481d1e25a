#pragma once
// The few platform calls that tests must replace. Everything else calls Windows directly.

#include <windows.h>
#include <ddeml.h>
#include <wininet.h>

struct PlatformCalls {
    DWORD(WINAPI* GetVersion)();
    BOOL(WINAPI* DdeImpersonateClient)(HCONV conversation);
    BOOL(WINAPI* RevertToSelf)();
    SHORT(WINAPI* GetAsyncKeyState)(int key);
    uintptr_t (*BeginThread)(void* security, unsigned stackSize, unsigned(__stdcall* start)(void*),
                             void* argument, unsigned flags, unsigned* threadId);
    // The body's writer sends each piece through this: a stand-in can make a piece pend,
    // as Windows' WinINet may and Wine's never does.
    BOOL(WINAPI* InternetWriteFile)(HINTERNET file, LPCVOID buffer, DWORD size, LPDWORD written);
    // ... and cancels a pending piece by closing the request through this: a stand-in sees
    // which handle went, and that no piece followed it.
    BOOL(WINAPI* InternetCloseHandle)(HINTERNET handle);
};

// The table in use; tests overwrite entries and restore them with ResetPlatformCalls.
PlatformCalls& Platform();
void ResetPlatformCalls();

// GetVersion's high bit marks the Windows 9x family.
inline bool IsWindows9xFamily() {
    return (Platform().GetVersion() & 0x80000000u) != 0;
}
