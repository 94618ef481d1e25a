#include "app/window_dpi.h"

namespace {

using GetDpiForSystemCall = UINT(WINAPI*)();
using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiCall = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiCall = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using SystemParametersInfoForDpiCall = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);

// A user32 call of Windows 10 (1607) or later; null on an older Windows.
template <typename Call> Call User32Call(const char* name) {
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    // Through a generic function pointer: the compiler would warn of a cast between
    // unrelated function types, which is what GetProcAddress's contract is.
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(found));
}

// What the system gives at its own DPI, as it would be at dpi.
int FromSystemDpi(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

Extent FrameAt(UINT dpi) {
    static const auto adjust = User32Call<AdjustWindowRectExForDpiCall>("AdjustWindowRectExForDpi");
    RECT frame = {};
    if (adjust != nullptr)
        adjust(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi);
    else
        AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    Extent extent = {frame.right - frame.left, frame.bottom - frame.top};
    if (adjust == nullptr)
        extent = {FromSystemDpi(extent.width, dpi), FromSystemDpi(extent.height, dpi)};
    return extent;
}

HFONT CreateFontAt(LOGFONTW font, UINT fontDpi, UINT dpi) {
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(fontDpi));
    font.lfWidth = MulDiv(font.lfWidth, static_cast<int>(dpi), static_cast<int>(fontDpi));
    return CreateFontIndirectW(&font);
}

} // namespace

UINT SystemDpi() {
    static const UINT dpi = [] {
        if (const auto call = User32Call<GetDpiForSystemCall>("GetDpiForSystem"))
            return call();
        HDC screen = GetDC(nullptr);
        const int found = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
        if (screen != nullptr)
            ReleaseDC(nullptr, screen);
        return found > 0 ? static_cast<UINT>(found) : static_cast<UINT>(DesignDpi);
    }();
    return dpi;
}

UINT DpiOfWindow(HWND window) {
    static const auto call = User32Call<GetDpiForWindowCall>("GetDpiForWindow");
    const UINT dpi = call != nullptr ? call(window) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

int MenuHeightAt(UINT dpi) {
    static const auto call = User32Call<GetSystemMetricsForDpiCall>("GetSystemMetricsForDpi");
    if (call != nullptr)
        return call(SM_CYMENUSIZE, dpi);
    return FromSystemDpi(GetSystemMetrics(SM_CYMENUSIZE), dpi);
}

Extent MainWindowSizeAt(UINT dpi) {
    return MainWindowSize(static_cast<int>(dpi), FrameAt(DesignDpi), FrameAt(dpi));
}

HFONT CreateSystemFontAt(UINT dpi) {
    LOGFONTW font = {};
    if (GetObjectW(GetStockObject(SYSTEM_FONT), sizeof font, &font) == 0)
        return nullptr;
    // The stock font's width is the one of 100 % at every scale: the face's own
    // proportions instead.
    font.lfWidth = 0;
    return CreateFontAt(font, SystemDpi(), dpi);
}

HFONT CreateIconTitleFontAt(UINT dpi) {
    static const auto call =
        User32Call<SystemParametersInfoForDpiCall>("SystemParametersInfoForDpi");
    LOGFONTW font = {};
    if (call != nullptr)
        return call(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0, dpi)
                   ? CreateFontIndirectW(&font)
                   : nullptr;
    if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0))
        return nullptr;
    return CreateFontAt(font, SystemDpi(), dpi);
}
