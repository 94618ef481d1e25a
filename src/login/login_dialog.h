#pragma once
// The modal dialog that asks for the account's e-mail address and password.

#include <windows.h>

INT_PTR CALLBACK LoginDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the dialog owned by owner. IDOK: both values were checked and stored in
// Settings; IDCANCEL: nothing was stored; -1 or 0: the dialog could not be created.
INT_PTR RunLoginDialog(HWND owner);
