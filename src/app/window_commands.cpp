#include "app/app_state.h"
#include "app/main_window.h"
#include "app/session_controller.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"

void StartUploadRun(HWND window) {
    // The disabled button is the mark of a run in progress.
    if (!IsWindowEnabled(UploadButton))
        return;
    EnableWindow(UploadButton, FALSE);
    if (Advance(window, true) < 100)
        EnableWindow(UploadButton, TRUE);
}

LRESULT OnCommand(HWND window, int id, int code, LPARAM lParam) {
    switch (id) {
    case UploadCommandId:
    case IDM_UPLOAD:
        StartUploadRun(window);
        return 0;
    case IDM_EXIT:
        DestroyWindow(window);
        return 0;
    case IDM_ABOUT:
        ShowAboutBox(window);
        return 0;
    case IDM_SAVE_LOGIN:
        SaveSettings();
        return 0;
    default:
        return DefWindowProcA(window, WM_COMMAND, MAKEWPARAM(id, code), lParam);
    }
}
