// Benchmark helper: the least a GUI program with a DDE service does before it answers a
// connection (a window shown, DDEML initialised, the service name registered, the message
// loop running). StartupBench starts it beside the uploader, to tell what any such program
// costs to start under Wine from what the uploader adds. It acknowledges every poke and
// does nothing else with it: the least DDE server a host's pokes can meet (PokeBench).

#include <windows.h>
#include <ddeml.h>

namespace {

DWORD Instance = 0;

HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    if (type == XTYP_CONNECT)
        return reinterpret_cast<HDDEDATA>(TRUE);
    if (type == XTYP_POKE)
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    return nullptr;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "VistoraBenchGuiWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "VistoraBenchGui",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    if (DdeInitializeA(&Instance, Callback, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0) !=
        DMLERR_NO_ERROR)
        return 1;
    HSZ service = DdeCreateStringHandleA(Instance, "VistoraBenchGui", CP_WINANSI);
    DdeNameService(Instance, service, nullptr, DNS_REGISTER);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DdeNameService(Instance, nullptr, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(Instance, service);
    DdeUninitialize(Instance);
    return 0;
}
