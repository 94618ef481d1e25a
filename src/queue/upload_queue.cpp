#include "queue/upload_queue.h"

#include "queue/queue_paint.h"
#include "queue/temp_names.h"
#include "util/bounded_text.h"
#include "util/paths.h"
#include "util/text_sizes.h"
#include "util/wide_text.h"

#include <commctrl.h>

#include <array>
#include <cstring>
#include <string>

namespace {

bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

std::string TempFolderPrefix() {
    return std::string(ModuleDirectory) + TempFolderName;
}

// The status texts as the list shows them, converted once: every poke adds a row.
const wchar_t* ShownStatusText(StatusCode code) {
    static const std::array<std::wstring, StatusCodeCount> shown = [] {
        std::array<std::wstring, StatusCodeCount> texts;
        for (int i = 0; i < StatusCodeCount; ++i)
            texts[i] = WideText(StatusTexts[i]);
        return texts;
    }();
    return shown[code].c_str();
}

// The status column's cell of row, with the code in the row's item data.
LVITEMW StatusItem(int row, StatusCode code) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(ShownStatusText(code));
    item.lParam = code;
    return item;
}

} // namespace

const char StatusTexts[StatusCodeCount][StatusTextSize] = {
    "完了", "アップ中", "待機", "ファイル無し", "アクセスエラー",
};

LRESULT AddFile(HWND list, const char* fileName) {
    HoldQueuePaint(list);
    const int row = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));

    LVITEMW status = StatusItem(row, Waiting);
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&status));

    // The name is the host's, in the system's code page, which is how the file system
    // reads it too: the ANSI message shows it as the system names that file, and the
    // queue reads back the same bytes (queue_snapshot.h).
    LVITEMA name = {};
    name.mask = LVIF_TEXT;
    name.iItem = row;
    name.iSubItem = 1;
    name.pszText = const_cast<char*>(fileName);
    return SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&name));
}

int SetStatus(HWND list, int row, StatusCode code) {
    LVITEMW item = StatusItem(row, code);
    SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
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
