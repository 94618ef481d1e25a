#include "app/app_state.h"
#include "app/main_window.h"
#include "app/session_controller.h"
#include "dde/dde_service.h"
#include "settings/settings.h"

#include <commctrl.h>

namespace {

HWND CreateChild(HWND parent, HINSTANCE instance, const char* className, int id, DWORD style, int x,
                 int y, int width, int height, const char* text) {
    return CreateWindowExA(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

void InsertColumn(HWND list, int index, const char* heading, int width, int format, int subItem) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<char*>(heading);
    column.iSubItem = subItem;
    SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void CreateControls(HWND window, HINSTANCE instance) {
    Backdrop = StatusLabel = OverallBar = TransferBar = QueueList = UploadButton = nullptr;

    const DWORD visibleChild = WS_CHILD | WS_VISIBLE;
    Backdrop = CreateChild(window, instance, "STATIC", 1002, visibleChild, 0, 0, 80, 30, "");
    StatusLabel =
        CreateChild(window, instance, "STATIC", 1004, visibleChild, 0, 0, 40, 30, "未ログイン");
    OverallBar = CreateChild(window, instance, PROGRESS_CLASSA, 1005, visibleChild | PBS_SMOOTH, 40,
                             0, 300, 30, "");
    TransferBar = CreateChild(window, instance, PROGRESS_CLASSA, 1003, visibleChild | PBS_SMOOTH,
                              40, 15, 300, 30, "");
    // Shares the id 1003 with TransferBar; nothing looks a control up by id.
    QueueList = CreateChild(window, instance, WC_LISTVIEWA, 1003, visibleChild | LVS_REPORT, 0, 0,
                            100, 100, "");
    InsertColumn(QueueList, 0, "状態", 60, LVCFMT_CENTER, 0);
    InsertColumn(QueueList, 2, "ファイル名", 280, LVCFMT_LEFT, 1);
    UploadButton = CreateChild(window, instance, "BUTTON", UploadCommandId, visibleChild, 100, 20,
                               100, 30, "アップロード");
}

} // namespace

LRESULT OnCreate(HWND window, LPARAM lParam) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    CreateControls(window, creation->hInstance);
    DefWindowProcA(window, WM_CREATE, 0, lParam);
    LoadSettings();
    LoginDataPending = 0;
    LoggedIn = 0;
    if (!StartDdeService(window)) {
        ShowAlert("DDEの初期化に失敗しました。");
        return -1;
    }
    return 0;
}
