#include "app/startup.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/window_dpi.h"
#include "resources/resource_ids.h"
#include "util/bounded_text.h"
#include "util/paths.h"

#include <commctrl.h>
#include <cstdlib>

int ParseExpectedFileCount(int argc, char** argv) {
    if (argc < 2 || argv == nullptr || argv[1] == nullptr)
        return 0;
    return std::atoi(argv[1]);
}

int ComputeModuleDirectory(HINSTANCE instance, char (&destination)[NameSize]) {
    char path[NameSize] = {};
    DWORD length = GetModuleFileNameA(instance, path, sizeof path);
    // A path that filled the whole buffer was cut; its directory part is not trustworthy.
    if (length == 0 || length >= sizeof path)
        path[0] = '\0';
    CutAfterLastBackslash(path);
    CopyText(destination, path);
    return destination[0] != '\0' ? 0 : -1;
}

namespace {

bool AnotherCopyRuns() {
    // The handle stays open for the life of the process: it is the lock.
    CreateMutexA(nullptr, TRUE, InstanceMutexName);
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace

void RegisterMainWindowClass(HINSTANCE instance, const wchar_t* className) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_WINLOGO);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    RegisterClassExW(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title) {
    // Where the window will open is not known yet: it is sized for the system's scale, the
    // scale of the main monitor, and sized anew if it opened on another.
    const UINT dpi = SystemDpi();
    Extent size = MainWindowSizeAt(dpi);
    HWND window =
        CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        size.width, size.height, nullptr, nullptr, instance, nullptr);
    if (window != nullptr && DpiOfWindow(window) != dpi) {
        size = MainWindowSizeAt(DpiOfWindow(window));
        SetWindowPos(window, nullptr, 0, 0, size.width, size.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return window;
}

namespace {

// From its first paint on, the frame clips its children. All of its client area lies under
// the backdrop and each control paints itself when it changes, so an invalidation of the
// whole window (after each login and each upload) need not repaint every control as well:
// under Wine that repaint is some 7 ms of the UI thread a file, while the next upload's job
// waits on the UI thread to move its bar. Not a creation style: a frame created clipping
// its children took Wine some 50 ms longer to show.
void ClipChildren(HWND window) {
    SetWindowLongA(window, GWL_STYLE, GetWindowLongA(window, GWL_STYLE) | WS_CLIPCHILDREN);
}

int RunMessageLoop(HACCEL accelerators) {
    MSG message;
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        // An error here (an invalid window handle, say) would repeat forever.
        if (got == -1)
            return 1;
        // Translated for the main window, whichever child has the focus, so that the
        // About accelerators work while the list is focused too.
        HWND target = MainWindow != nullptr ? MainWindow : message.hwnd;
        if (accelerators == nullptr || !TranslateAcceleratorA(target, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

} // namespace

int RunUploader(HINSTANCE instance, int showCommand) {
    if (AnotherCopyRuns())
        return 0;

    ExpectedFileCount = ParseExpectedFileCount(__argc, __argv);
    ComputeModuleDirectory(instance, ModuleDirectory);
    // Before the window exists: creating it loads the settings, whose first candidate
    // file lies in the current directory.
    CaptureCurrentDirectory();

    INITCOMMONCONTROLSEX controls = {8, 0x0FFF};
    InitCommonControlsEx(&controls);

    wchar_t title[100] = {};
    wchar_t className[100] = {};
    LoadStringW(instance, IDS_APP_TITLE, title, sizeof title / sizeof title[0]);
    LoadStringW(instance, IDS_WINDOW_CLASS, className, sizeof className / sizeof className[0]);
    RegisterMainWindowClass(instance, className);

    HWND window = CreateMainWindow(instance, className, title);
    if (window == nullptr)
        return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    ClipChildren(window);
    AppInstance = instance;
    MainWindow = window;

    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    return RunMessageLoop(accelerators);
}
