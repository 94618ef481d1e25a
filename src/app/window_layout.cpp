#include "app/app_state.h"
#include "app/layout.h"
#include "app/main_window.h"

#include <commctrl.h>

namespace {

void Place(HWND control, const ControlRect& rect) {
    MoveWindow(control, rect.x, rect.y, rect.width, rect.height, TRUE);
}

constexpr COLORREF OverallBarColour = 0x0000FF00;

} // namespace

void OnSize(HWND window, WPARAM wParam, LPARAM lParam) {
    const int width = static_cast<short>(LOWORD(lParam));
    const int height = static_cast<short>(HIWORD(lParam));
    DefWindowProcA(window, WM_SIZE, wParam, MAKELPARAM(width, height));

    const MainLayout layout = ComputeLayout(width, height, GetSystemMetrics(SM_CYMENUSIZE));
    Place(Backdrop, layout.backdrop);
    Place(StatusLabel, layout.statusLabel);
    Place(TransferBar, layout.transferBar);
    Place(OverallBar, layout.overallBar);
    SendMessageA(OverallBar, PBM_SETBARCOLOR, 0, OverallBarColour);
    Place(QueueList, layout.queueList);
    Place(UploadButton, layout.uploadButton);
}
