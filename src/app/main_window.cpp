#include "app/main_window.h"

#include "app/session_controller.h"

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window, lParam);
    case WM_SIZE:
        OnSize(window, wParam, lParam);
        return 0;
    case WM_CLOSE:
        OnClose(window);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam), HIWORD(wParam), lParam);
    case WM_LOGIN_DONE:
        OnLoginDone(window, static_cast<int>(lParam));
        return 0;
    case WM_UPLOAD_DONE:
        OnUploadDone(window, static_cast<int>(lParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
