#pragma once
// Where WM_SIZE puts the main window's controls. Platform-free arithmetic.

struct ControlRect {
    int x, y, width, height;
};

struct MainLayout {
    ControlRect backdrop;
    ControlRect statusLabel;
    ControlRect transferBar;
    ControlRect overallBar;
    ControlRect queueList;
    ControlRect uploadButton;
};

// width, height: the client area; menuHeight: GetSystemMetrics(SM_CYMENUSIZE).
MainLayout ComputeLayout(int width, int height, int menuHeight);
