#pragma once
// The DDE service "VistoraUploadServer" through which the host drives the uploader.

#include <windows.h>

// The command the service posts to the main window for the host's "upload" execute; the
// window's hidden upload button has the same id.
constexpr int UploadCommandId = 1001;

// Returns 1 when the service runs, 0 when DDEML could not be initialised. Commands go to
// mainWindow; handed-over files become rows of queueList.
int StartDdeService(HWND mainWindow, HWND queueList);
void StopDdeService();
