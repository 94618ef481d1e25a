#include "uploader.h"

bool UploaderWindowUp() {
    return FindWindowA(UploaderWindowClass, nullptr) != nullptr;
}

UploaderProcess OpenRunningUploader() {
    HWND window = FindWindowA(UploaderWindowClass, nullptr);
    if (window == nullptr)
        return UploaderProcess();
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return UploaderProcess{UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, pid)), pid};
}

bool ConnectWithin(DdeClient& client, const char* topic, const CONVCONTEXT& context,
                   double seconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (client.Connect(UploaderService, topic, &context))
            return true;
        if (GetTickCount() - start >= seconds * 1000)
            return false;
        Sleep(ConnectRetryPause);
    }
}

void DispatchMessagesFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < milliseconds; elapsed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
}
