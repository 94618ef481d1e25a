#include "queue/upload_queue.h"

#include "queue/queue_paint.h"
#include "queue/temp_names.h"
#include "util/bounded_text.h"
#include "util/paths.h"
#include "util/text_sizes.h"

#include <commctrl.h>

#include <cstring>
#include <string>

namespace {

bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

std::string TempFolderPrefix() {
    return std::string(ModuleDirectory) + TempFolderName;
}

} // namespace

const char StatusTexts[StatusCodeCount][StatusTextSize] = {
    "完了", "アップ中", "待機", "ファイル無し", "アクセスエラー",
};

LRESULT AddFile(HWND list, const char* fileName) {
    HoldQueuePaint(list);
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

bool ComposeTempPath(const char* name, char* path, std::size_t size) {
    if (ModuleDirectory[0] == '\0' ||
        !FormatText(path, size, "%s%s%s", ModuleDirectory, TempFolderName, name)) {
        if (size > 0)
            path[0] = '\0';
        return false;
    }
    return true;
}

bool AcceptsFileName(const char* name) {
    char path[NameSize];
    return IsNameInsideTemp(name, IsAnsiLeadByte) && NamesAFile(name, IsAnsiLeadByte) &&
           ComposeTempPath(name, path, sizeof path);
}

bool IsInsideTempFolder(const char* path) {
    const std::string prefix = TempFolderPrefix();
    return ModuleDirectory[0] != '\0' && std::strncmp(path, prefix.c_str(), prefix.size()) == 0 &&
           IsNameInsideTemp(path + prefix.size(), IsAnsiLeadByte);
}
