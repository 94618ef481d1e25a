#pragma once
// Start-up of the uploader process and its message loop.

#include "util/text_sizes.h"

#include <windows.h>

constexpr char InstanceMutexName[] = "tavik-vistora-upload-program";

// The first argument after the program name, read as atoi reads it; 0 without one.
int ParseExpectedFileCount(int argc, char** argv);

// ModuleDirectory of the program file; 0 when non-empty, -1 when empty.
int ComputeModuleDirectory(HINSTANCE instance, char (&destination)[NameSize]);

void RegisterMainWindowClass(HINSTANCE instance, const char* className);
// The 400 by 300 main window; its WM_CREATE builds the controls and may refuse.
HWND CreateMainWindow(HINSTANCE instance, const char* className, const char* title);

// The whole life of the process: single-instance guard, main window, message loop.
// Returns the process exit code.
int RunUploader(HINSTANCE instance, int showCommand);
