#include "support/main_window_fixture.h"

#include "app/app_state.h"
#include "app/startup.h"

void MainWindowFixture::SetUp() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterMainWindowClass(instance, L"TAVIKVISTORAUPLOAD");
    window = CreateMainWindow(instance, L"TAVIKVISTORAUPLOAD", L"TavikVistoraUploader");
    ASSERT_NE(window, nullptr);
    AppInstance = instance;
    MainWindow = window;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
}

void MainWindowFixture::TearDown() {
    DestroyMainWindow();
}

void MainWindowFixture::DestroyMainWindow() {
    if (window != nullptr && IsWindow(window))
        DestroyWindow(window);
    window = nullptr;
    MainWindow = nullptr;
    DrainMessages();
}

RECT ChildRect(HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void DrainMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
