#pragma once
// The login job and its starter and teardown.

#include <windows.h>

int StartLogin(HWND mainWindow, HWND progressBar);
void FinishLogin();
