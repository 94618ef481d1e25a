#pragma once
// The DDE service "VistoraUploadServer" through which the host drives the uploader.

#include <windows.h>

// Returns 1 when the service runs, 0 when DDEML could not be initialised.
int StartDdeService(HWND mainWindow);
void StopDdeService();
