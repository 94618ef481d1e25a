#include "queue/queue_paint.h"

namespace {

// The list's own timers are named by its internal pointers, never by a small number.
constexpr UINT_PTR PaintTimerId = 1;

// The list whose paint is held; the UI thread owns it. A list destroyed while held takes
// its timer along, and a new list is another window: it gets a hold of its own.
HWND heldList = nullptr;

void CALLBACK LetPaintGo(HWND list, UINT, UINT_PTR, DWORD) {
    ReleaseQueuePaint(list);
}

} // namespace

void HoldQueuePaint(HWND list) {
    if (list == nullptr || list == heldList)
        return;
    if (SetTimer(list, PaintTimerId, QueuePaintDelay, LetPaintGo) == 0)
        return;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    heldList = list;
}

void ReleaseQueuePaint(HWND list) {
    if (list == nullptr || list != heldList)
        return;
    KillTimer(list, PaintTimerId);
    heldList = nullptr;
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    // Windows leaves the repaint to whoever switches redraw on again (Wine's list view
    // invalidates itself): the whole list with its header, and the frame, whose scroll bar
    // grew meanwhile. Painted here rather than when the queue next runs empty: a host that
    // pokes without a pause would otherwise keep the rows from showing.
    RedrawWindow(list, nullptr, nullptr,
                 RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void DropQueuePaintHold(HWND list) {
    if (list == nullptr || list != heldList)
        return;
    KillTimer(list, PaintTimerId);
    heldList = nullptr;
}
