#include "app/layout.h"

MainLayout ComputeLayout(int width, int height, int menuHeight) {
    const int half = menuHeight / 2;
    MainLayout layout;
    layout.backdrop = {0, 0, width, height};
    layout.statusLabel = {0, 0, 100, menuHeight};
    layout.transferBar = {100, 0, 200, half};
    layout.overallBar = {100, half, 200, half};
    // A window lower than the menu height gives the list a negative height; MoveWindow
    // copes with it, so it is passed on as it is.
    layout.queueList = {0, menuHeight, width, height - menuHeight};
    // The button is the run's busy flag, never meant to be seen.
    layout.uploadButton = {0, height - menuHeight, 0, 0};
    return layout;
}
