#include "queue/queue_snapshot.h"

#include "queue/upload_queue.h"
#include "util/paths.h"
#include "util/text_sizes.h"

#include <commctrl.h>

namespace {

int FindRow(HWND list, int after, StatusCode code) {
    LVFINDINFOA find = {};
    find.flags = LVFI_PARAM;
    find.lParam = code;
    return static_cast<int>(
        SendMessageA(list, LVM_FINDITEMA, after, reinterpret_cast<LPARAM>(&find)));
}

void CollectRows(HWND list, StatusCode code, std::vector<int>& rows) {
    rows.clear();
    // LVM_FINDITEM does not wrap, so the search ends after the last match. Each match lies
    // after the one before; anything else (a list that went away answers 0) ends it too.
    for (int row = FindRow(list, -1, code); row != -1; row = FindRow(list, row, code)) {
        if (!rows.empty() && row <= rows.back())
            break;
        rows.push_back(row);
    }
}

} // namespace

int QueueSnapshot::Collect() {
    waiting.clear();
    done.clear();
    firstUploading = -1;
    itemCount = 0;
    // A null or destroyed list (the window torn down inside a modal loop) has no rows; its
    // messages would answer 0, which reads as row 0 found again and again.
    if (!IsWindow(list))
        return itemCount;
    itemCount = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    CollectRows(list, Waiting, waiting);
    CollectRows(list, Done, done);
    firstUploading = FindRow(list, -1, Uploading);
    return itemCount;
}

int ResolveNextFile(const QueueSnapshot& snapshot, std::size_t position, char* path,
                    std::size_t pathSize) {
    if (pathSize == 0)
        return -1;
    path[0] = '\0';
    if (position >= snapshot.waiting.size())
        return -1;
    const int row = snapshot.waiting[position];

    char name[NameSize] = {};
    LVITEMA item = {};
    item.iSubItem = 1;
    item.pszText = name;
    item.cchTextMax = sizeof name;
    SendMessageA(snapshot.list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));

    if (!ComposeTempPath(name, path, pathSize))
        return -1;
    return PathExists(path) ? row : -1;
}
