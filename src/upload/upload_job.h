#pragma once
// The upload job and its starter and teardown.

#include <windows.h>

int StartUpload(HWND mainWindow, HWND transferBar, HWND queueList, int row, const char* path);
void FinishUpload(int result);
