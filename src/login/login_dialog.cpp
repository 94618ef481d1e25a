#include "login/login_dialog.h"

#include "login/mail_address.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "util/bounded_text.h"
#include "util/text_sizes.h"
#include "util/wide_text.h"

namespace {

// The login name and the password are the user's, in the system's code page as the
// settings file and the login request carry them: they go through the ANSI functions.
void OnInitDialog(HWND dialog) {
    SetDlgItemTextA(dialog, IDC_LOGIN_MAIL, Settings.LoginName);
    SetDlgItemTextA(dialog, IDC_LOGIN_PASSWORD, Settings.Password);
}

void OnOk(HWND dialog) {
    char address[NameSize] = {};
    char password[NameSize] = {};
    GetDlgItemTextA(dialog, IDC_LOGIN_MAIL, address, sizeof address);
    GetDlgItemTextA(dialog, IDC_LOGIN_PASSWORD, password, sizeof password);
    address[NameSize - 1] = '\0';
    password[NameSize - 1] = '\0';

    // The edits are read into NameSize bytes, so -1 (too long) cannot come back here and
    // every positive code has a text.
    int code = ValidateMailAddress(address);
    if (code > 0) {
        MessageBoxW(dialog, WideText(MailAddressMessages[code]).c_str(),
                    WideText("メールアドレスが不正です").c_str(), MB_OK);
        return;
    }
    if (password[0] == '\0') {
        MessageBoxW(dialog, WideText("パスワードを入力してください").c_str(),
                    WideText("エラー").c_str(), MB_OK);
        return;
    }
    CopyText(Settings.LoginName, address);
    CopyText(Settings.Password, password);
    EndDialog(dialog, IDOK);
}

void OnCommand(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDOK:
        OnOk(dialog);
        break;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        break;
    }
}

} // namespace

// Every message is answered FALSE. For WM_INITDIALOG that keeps the system from moving
// the focus to the first tab stop, and the procedure sets none either.
INT_PTR CALLBACK LoginDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        break;
    case WM_COMMAND:
        OnCommand(dialog, wParam);
        break;
    }
    return FALSE;
}

INT_PTR RunLoginDialog(HWND owner) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongA(owner, GWL_HINSTANCE));
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_LOGIN), owner, LoginDialogProc, 0);
}
