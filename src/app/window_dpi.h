#pragma once
// The scale a window is drawn at, and the system's metrics and fonts at a given scale.
// Windows 10 (1607) gives each window its monitor's DPI and the metrics for any DPI;
// before it every window has the system's DPI, which the screen's device context gives,
// and the metrics are the system's. The newer calls are looked up as the program runs, so
// that it still starts on Windows 7.

#include "app/scaled_layout.h"

#include <windows.h>

// The system's DPI, fixed for the process's life.
UINT SystemDpi();
// The DPI of the monitor the window is on, as Windows scales it for the window.
UINT DpiOfWindow(HWND window);
// The menu's height at dpi: the row of the status label and the bars.
int MenuHeightAt(UINT dpi);
// The main window's outer size at dpi (scaled_layout.h), with the frame Windows draws at
// 100 % and at dpi.
Extent MainWindowSizeAt(UINT dpi);
// The fonts the controls draw with by default (a static the system font, a list view the
// icon title font), made for dpi; null when Windows makes none.
HFONT CreateSystemFontAt(UINT dpi);
HFONT CreateIconTitleFontAt(UINT dpi);
