#include "queue/queue_paint.h"

namespace {

// The list whose paint is held, and the timer that lets it go; the UI thread owns both.
// The timer is the thread's, not the list's: a list view keeps timers of its own, and one
// set on the list under an id it also uses would replace the other, leaving a paint held
// for good or the list's own timer gone.
HWND heldList = nullptr;
UINT_PTR paintTimer = 0;
DWORD heldSince = 0;

void CALLBACK LetPaintGo(HWND, UINT, UINT_PTR, DWORD) {
    ReleaseQueuePaint(heldList);
}

void StopPaintTimer() {
    if (paintTimer != 0)
        KillTimer(nullptr, paintTimer);
    paintTimer = 0;
    heldList = nullptr;
}

} // namespace

void HoldQueuePaint(HWND list) {
    if (list == nullptr)
        return;
    if (list == heldList) {
        if (GetTickCount() - heldSince < QueuePaintDelay)
            return;
        ReleaseQueuePaint(list);
    }
    // Another list's hold (a list made anew) ends before this one begins.
    ReleaseQueuePaint(heldList);
    paintTimer = SetTimer(nullptr, 0, QueuePaintDelay, LetPaintGo);
    if (paintTimer == 0)
        return;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    heldList = list;
    heldSince = GetTickCount();
}

void ReleaseQueuePaint(HWND list) {
    if (list == nullptr || list != heldList)
        return;
    StopPaintTimer();
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
    StopPaintTimer();
}
