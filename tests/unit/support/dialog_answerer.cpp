#include "support/dialog_answerer.h"

#include <cstring>

namespace {

struct Search {
    const char* caption;
    DWORD threadId;
    HWND found;
};

BOOL CALLBACK MatchVisibleDialog(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    DWORD processId = 0;
    const DWORD threadId = GetWindowThreadProcessId(window, &processId);
    if (processId != GetCurrentProcessId() ||
        (search->threadId != 0 && threadId != search->threadId) || !IsWindowVisible(window))
        return TRUE;
    char className[16] = {};
    char caption[128] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    if (std::strcmp(className, "#32770") != 0 || std::strcmp(caption, search->caption) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

HWND FindVisibleDialog(const char* caption, DWORD threadId) {
    Search search = {caption, threadId, nullptr};
    EnumWindows(MatchVisibleDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(const char* caption, DWORD threadId, DWORD limit) {
    HWND dialog = nullptr;
    WaitUntil([&] { return (dialog = FindVisibleDialog(caption, threadId)) != nullptr; }, limit);
    return dialog;
}

void PressDialogButton(HWND dialog, int button) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

std::string DialogItemText(HWND dialog, int id) {
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

DialogAnswerer::DialogAnswerer(std::string caption, int button, std::function<void(HWND)> meanwhile)
    : caption_(std::move(caption)), button_(button), meanwhile_(std::move(meanwhile)),
      watcher_([this] { Watch(); }) {}

DialogAnswerer::~DialogAnswerer() {
    stop_ = true;
    watcher_.join();
}

void DialogAnswerer::Watch() {
    HWND dialog = nullptr;
    WaitUntil([&] { return stop_ || (dialog = FindVisibleDialog(caption_.c_str())) != nullptr; },
              INFINITE);
    if (dialog == nullptr)
        return;
    text_ = DialogItemText(dialog, 0xFFFF);
    if (meanwhile_)
        meanwhile_(dialog);
    // Marked answered before the click: the click lets the box's caller return, which may
    // run and look before this thread is scheduled again.
    answered_ = true;
    PressDialogButton(dialog, button_);
}
