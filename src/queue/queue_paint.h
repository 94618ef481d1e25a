#pragma once
// The list's paint while a host hands names over. Each poke adds a row, and the host waits
// for the poke's acknowledgement before it sends the next: with the queue empty in between,
// every row would get a paint of its own (and, under Wine, a redrawn scroll bar inside the
// insertion), milliseconds a poke where DDE itself takes a tenth of one. So the list's
// redraw is held while rows arrive and let go on a short timer: the list is painted at most
// QueuePaintDelay apart, and a row shows at most that long after it was added. The timer
// alone would not keep that promise: WM_TIMER comes only when no posted message waits, and
// a host that pokes without a pause keeps one waiting. So a row that arrives once the hold
// has lasted its delay lets it go itself, and a new hold begins with that row.

#include <windows.h>

// At most 20 paints a second while rows stream in; a row shows well within 100 ms.
constexpr UINT QueuePaintDelay = 50;

// Before a row is added: holds the list's redraw, unless it is held already, and starts
// the timer that lets it go; a hold that has lasted QueuePaintDelay is let go first. Without
// a timer there is no hold.
void HoldQueuePaint(HWND list);
// Lets a held paint go: redraw on, and the list painted now with what it holds. Its timer
// calls this; nothing happens for a list that is not held.
void ReleaseQueuePaint(HWND list);
// At the window's teardown: the timer stops and the hold is forgotten without a paint,
// since the list goes with the window.
void DropQueuePaintHold(HWND list);
