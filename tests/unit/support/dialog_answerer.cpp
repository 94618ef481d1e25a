#include "support/dialog_answerer.h"

DialogAnswerer::DialogAnswerer(std::string caption, int button)
    : caption_(std::move(caption)), button_(button), watcher_([this] { Watch(); }) {}

DialogAnswerer::~DialogAnswerer() {
    stop_ = true;
    watcher_.join();
}

void DialogAnswerer::Watch() {
    while (!stop_ && !answered_) {
        HWND dialog = FindWindowA("#32770", caption_.c_str());
        DWORD pid = 0;
        if (dialog != nullptr)
            GetWindowThreadProcessId(dialog, &pid);
        if (dialog != nullptr && pid == GetCurrentProcessId() && IsWindowVisible(dialog)) {
            char text[1024] = {};
            GetDlgItemTextA(dialog, 0xFFFF, text, sizeof text);
            text_ = text;
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED), 0);
            answered_ = true;
            return;
        }
        Sleep(20);
    }
}
