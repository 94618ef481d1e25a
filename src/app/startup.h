#pragma once
// Start-up of the uploader process and its message loop.

#include "util/text_sizes.h"

#include <windows.h>

constexpr char InstanceMutexName[] = "tavik-vistora-upload-program";

// The first argument after the program name, read as atoi reads it; 0 without one.
int ParseExpectedFileCount(int argc, char** argv);

// ModuleDirectory of the program file; 0 when non-empty, -1 when empty.
int ComputeModuleDirectory(HINSTANCE instance, char (&destination)[NameSize]);

// A window class of the wide functions, so that the window's own texts reach Windows as
// UTF-16 whatever the system's code page.
void RegisterMainWindowClass(HINSTANCE instance, const wchar_t* className);
// The main window, 400 by 300 at 100 % and its client area scaled with the monitor's
// scale; its WM_CREATE builds the controls and may refuse.
HWND CreateMainWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title);

// The whole life of the process: single-instance guard, main window, message loop.
// Returns the process exit code.
int RunUploader(HINSTANCE instance, int showCommand);
