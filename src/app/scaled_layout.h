#pragma once
// The main window's design, in the pixels of a 96-DPI screen (100 %), and its layout at
// any other scale: every size and position is the design's, scaled by the window's DPI.
// Platform-free.

// The scale the design is drawn at: 96 DPI, Windows' 100 %.
constexpr int DesignDpi = 96;

// The window's outer size at 100 %.
constexpr int MainWindowDesignWidth = 400;
constexpr int MainWindowDesignHeight = 300;
// The status label's width, and the place and width of the two bars beside it.
constexpr int StatusLabelDesignWidth = 100;
constexpr int BarDesignWidth = 200;
// The list's two columns: the row's status and its file name.
constexpr int StatusColumnDesignWidth = 60;
constexpr int NameColumnDesignWidth = 280;

// designPixels at dpi: rounded to the nearest pixel (half away from zero), as MulDiv does.
int ScaleToDpi(int designPixels, int dpi);

struct Extent {
    int width;
    int height;
};

// The window's outer size at dpi, given the room its frame (borders, caption) takes at
// 100 % and at dpi: the design's client area, scaled, in the frame at dpi. Windows scales
// a window's client area the same way when it moves to a monitor of another scale; the
// frame keeps the system's own rounding. At 100 % it is the design's size exactly.
Extent MainWindowSize(int dpi, Extent frameAtDesign, Extent frameAtDpi);

struct Placement {
    int x;
    int y;
    int width;
    int height;
};

struct MainLayout {
    Placement backdrop;
    Placement statusLabel;
    Placement transferBar;
    Placement overallBar;
    Placement queueList;
    Placement uploadButton;
};

// Where the controls go in a client area of width by height at dpi: the label and both
// bars in one row of row pixels (the menu's height at that scale), the bars half each,
// the list below it, the backdrop under all of it, and the button, the run's busy flag
// and never meant to be seen, at no size. A client area lower than the row gives the list
// a negative height, as the design has it.
MainLayout LayOutMainWindow(int width, int height, int row, int dpi);
