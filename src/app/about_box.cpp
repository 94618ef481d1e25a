#include "app/app_state.h"
#include "app/main_window.h"
#include "resources/resource_ids.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void ShowAboutBox(HWND owner) {
    DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutDialogProc, 0);
}
