// Benchmark helper: the least program that does what the uploader's design asks of it
// before its message loop, and nothing else: the single-instance mutex, the common
// controls, the main window of its class with the six controls and the list's two columns,
// laid out on WM_SIZE, shown and painted, and the DDE service with its topics' and items'
// names registered. StartupBench starts it beside the uploader: the start-up's floor. The
// prefix reports Windows 98 for it, as for the uploader (the startup case sets that).
// Its own class, service and mutex names keep it apart from an uploader.

#include <windows.h>
#include <commctrl.h>
#include <ddeml.h>

namespace {

constexpr char ClassName[] = "VistoraBenchDesignWindow";
constexpr char Title[] = "VistoraBenchDesign";
constexpr char ServiceName[] = "VistoraBenchDesign";
constexpr char MutexName[] = "VistoraBenchDesignMutex";
// The uploader's topics and items, in the order its service registers them.
constexpr const char* Names[] = {"System", "Topics",   "SysItems", "Formats",   "Help",
                                 "Upload", "Filename", "SysItems", "LoginData", "ExitCondition"};
constexpr int NameCount = sizeof Names / sizeof Names[0];
constexpr int LabelWidth = 100;
constexpr int BarWidth = 200;
constexpr COLORREF OverallBarColour = 0x0000FF00;

DWORD Instance = 0;
HSZ Service = nullptr;
HSZ Handles[NameCount] = {};
HWND Controls[6] = {};

HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    if (type == XTYP_CONNECT)
        return reinterpret_cast<HDDEDATA>(TRUE);
    return nullptr;
}

HWND Child(HWND parent, const char* className, int id, DWORD style, int x, int y, int width,
           int height, const char* text) {
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleA(nullptr), nullptr);
}

void Column(HWND list, int index, const char* heading, int width, int format, int subItem) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<char*>(heading);
    column.iSubItem = subItem;
    SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

bool Create(HWND window) {
    Controls[0] = Child(window, "STATIC", 1002, 0, 0, 0, 80, 30, "");
    Controls[1] = Child(window, "STATIC", 1004, 0, 0, 0, 40, 30, "未ログイン");
    Controls[2] = Child(window, PROGRESS_CLASSA, 1005, PBS_SMOOTH, 40, 0, 300, 30, "");
    Controls[3] = Child(window, PROGRESS_CLASSA, 1003, PBS_SMOOTH, 40, 15, 300, 30, "");
    Controls[4] = Child(window, WC_LISTVIEWA, 1003, LVS_REPORT, 0, 0, 100, 100, "");
    Column(Controls[4], 0, "状態", 60, LVCFMT_CENTER, 0);
    Column(Controls[4], 2, "ファイル名", 280, LVCFMT_LEFT, 1);
    Controls[5] = Child(window, "BUTTON", 1001, 0, 100, 20, 100, 30, "アップロード");
    if (DdeInitializeA(&Instance, Callback, APPCMD_FILTERINITS, 0) != DMLERR_NO_ERROR)
        return false;
    Service = DdeCreateStringHandleA(Instance, ServiceName, CP_WINANSI);
    for (int i = 0; i < NameCount; ++i)
        Handles[i] = DdeCreateStringHandleA(Instance, Names[i], CP_WINANSI);
    DdeNameService(Instance, Service, nullptr, DNS_REGISTER);
    return true;
}

void LayOut(int width, int height) {
    const int row = GetSystemMetrics(SM_CYMENUSIZE);
    MoveWindow(Controls[0], 0, 0, width, height, TRUE);
    MoveWindow(Controls[1], 0, 0, LabelWidth, row, TRUE);
    MoveWindow(Controls[3], LabelWidth, 0, BarWidth, row / 2, TRUE);
    MoveWindow(Controls[2], LabelWidth, row / 2, BarWidth, row / 2, TRUE);
    SendMessageA(Controls[2], PBM_SETBARCOLOR, 0, OverallBarColour);
    MoveWindow(Controls[4], 0, row, width, height - row, TRUE);
    MoveWindow(Controls[5], 0, height - row, 0, 0, TRUE);
}

void StopService() {
    DdeNameService(Instance, nullptr, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(Instance, Service);
    for (HSZ handle : Handles)
        DdeFreeStringHandle(Instance, handle);
    DdeUninitialize(Instance);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        DefWindowProcA(window, message, wParam, lParam);
        return Create(window) ? 0 : -1;
    case WM_SIZE:
        DefWindowProcA(window, message, wParam, lParam);
        LayOut(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return 0;
    case WM_DESTROY:
        StopService();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    CreateMutexA(nullptr, TRUE, MutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    INITCOMMONCONTROLSEX controls = {8, 0x0FFF};
    InitCommonControlsEx(&controls);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_WINLOGO);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = ClassName;
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, ClassName, Title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 0;
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
