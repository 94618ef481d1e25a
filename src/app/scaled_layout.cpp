#include "app/scaled_layout.h"

int ScaleToDpi(int designPixels, int dpi) {
    // In 64 bits: a design size times a DPI stays far from overflow even for odd inputs.
    const long long scaled = static_cast<long long>(designPixels) * dpi;
    const long long half = DesignDpi / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / DesignDpi
                                        : -((-scaled + half) / DesignDpi));
}

Extent MainWindowSize(int dpi, Extent frameAtDesign, Extent frameAtDpi) {
    const int clientWidth = MainWindowDesignWidth - frameAtDesign.width;
    const int clientHeight = MainWindowDesignHeight - frameAtDesign.height;
    return {ScaleToDpi(clientWidth, dpi) + frameAtDpi.width,
            ScaleToDpi(clientHeight, dpi) + frameAtDpi.height};
}

MainLayout LayOutMainWindow(int width, int height, int row, int dpi) {
    const int labelWidth = ScaleToDpi(StatusLabelDesignWidth, dpi);
    const int barWidth = ScaleToDpi(BarDesignWidth, dpi);
    const int half = row / 2;
    MainLayout layout;
    layout.backdrop = {0, 0, width, height};
    layout.statusLabel = {0, 0, labelWidth, row};
    layout.transferBar = {labelWidth, 0, barWidth, half};
    layout.overallBar = {labelWidth, half, barWidth, half};
    layout.queueList = {0, row, width, height - row};
    layout.uploadButton = {0, height - row, 0, 0};
    return layout;
}
