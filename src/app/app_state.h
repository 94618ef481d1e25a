#pragma once
// Process-wide values of the application shell. They belong to the UI thread.

#include <windows.h>

// Files the host announced on the command line; 0 or less means no count was given.
extern int ExpectedFileCount;

extern HINSTANCE AppInstance;
extern HWND MainWindow;

// The main window's child controls.
extern HWND Backdrop;
extern HWND StatusLabel;
extern HWND OverallBar;
extern HWND TransferBar;
extern HWND QueueList;
extern HWND UploadButton;
