#include "queue/upload_queue.h"

#include <commctrl.h>

const char StatusTexts[StatusCodeCount][StatusTextSize] = {
    "完了", "アップ中", "待機", "ファイル無し", "アクセスエラー",
};

LRESULT AddFile(HWND list, const char* fileName) {
    const int row = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));

    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.iSubItem = 0;
    item.pszText = const_cast<char*>(StatusTexts[Waiting]);
    item.lParam = Waiting;
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));

    item.mask = LVIF_TEXT;
    item.iSubItem = 1;
    item.pszText = const_cast<char*>(fileName);
    return SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

int SetStatus(HWND list, int row, StatusCode code) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.iSubItem = 0;
    item.pszText = const_cast<char*>(StatusTexts[code]);
    item.lParam = code;
    SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return 0;
}
