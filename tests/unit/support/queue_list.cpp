#include "support/queue_list.h"

#include "util/bounded_text.h"
#include "util/paths.h"

#include <commctrl.h>

#include <fstream>

HWND CreateQueueList() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT, 0, 0, 300, 200, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    if (list == nullptr)
        return nullptr;
    LVCOLUMNA column = {};
    column.mask = LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = 60;
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    column.iSubItem = 1;
    SendMessageA(list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
    return list;
}

std::string QueueCell(HWND list, int row, int column) {
    char text[400] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

QueueFiles::QueueFiles(const std::string& name) : folder_(name), savedDirectory_(ModuleDirectory) {
    CreateDirectoryA(folder_.PathOf("temp").c_str(), nullptr);
    CopyText(ModuleDirectory, folder_.PathOf("").c_str());
}

QueueFiles::~QueueFiles() {
    CopyText(ModuleDirectory, savedDirectory_.c_str());
}

std::string QueueFiles::PathOf(const std::string& name) const {
    return folder_.PathOf("temp\\" + name);
}

void QueueFiles::Put(const std::string& name) const {
    std::ofstream(PathOf(name)) << "data";
}
