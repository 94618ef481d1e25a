#include "unattended.h"

#include "uploader.h"

#include <cstdio>
#include <set>
#include <string>

namespace {

// Dialogs and message boxes share this class.
constexpr char DialogClass[] = "#32770";
// A message box's text is the static control with this id.
constexpr int MessageTextId = 0xFFFF;
constexpr char CloseQuestionCaption[] = "注意";
// How often the uploader's windows are looked at while it runs.
constexpr DWORD LookInterval = 100;
// Room for a box's caption or message (the uploader's longest is a few dozen characters),
// and for a window class name of the two looked for.
constexpr int TextRoom = 1024;
// The code page of this tool's output and of the captions it compares.
constexpr UINT OutputCodePage = 932;
constexpr int ClassNameRoom = 32;

struct Search {
    DWORD pid;
    std::set<HWND>* answered;
    const UnattendedAnswers* answers;
    Report* report;
    HWND mainWindow = nullptr;
};

// A caption or message as the uploader shows it: read through the wide call, which gives
// its text on a system of any code page, and put into code page 932.
std::string TextOf(HWND window) {
    wchar_t text[TextRoom] = {};
    const int length = GetWindowTextW(window, text, TextRoom);
    char converted[TextRoom * 2] = {};
    const int size = WideCharToMultiByte(OutputCodePage, 0, text, length, converted,
                                         sizeof converted, nullptr, nullptr);
    return std::string(converted, size > 0 ? size : 0);
}

// Answers one dialog; a box answered a moment ago may linger hidden, and is not seen again.
void Answer(HWND dialog, const Search& search) {
    const std::string caption = TextOf(dialog);
    const HWND message = GetDlgItem(dialog, MessageTextId);
    if (message == nullptr) {
        // The login dialog: nobody can type, so its Cancel ends the login.
        std::printf("dialog: %s\n", caption.c_str());
        std::fflush(stdout);
        search.report->AddAlert(caption, "", "cancel");
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    const std::string text = TextOf(message);
    std::printf("alert: %s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stdout);
    const int button = caption == CloseQuestionCaption ? search.answers->closeQuestion : IDOK;
    search.report->AddAlert(caption, text, button == IDYES ? "yes" : button == IDNO ? "no" : "ok");
    PostMessageA(dialog, WM_COMMAND, button, 0);
}

BOOL CALLBACK LookAtWindow(HWND window, LPARAM parameter) {
    Search& search = *reinterpret_cast<Search*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search.pid || !IsWindowVisible(window))
        return TRUE;
    char className[ClassNameRoom] = {};
    GetClassNameA(window, className, ClassNameRoom);
    if (std::string(className) == UploaderWindowClass)
        search.mainWindow = window;
    if (std::string(className) == DialogClass && search.answered->insert(window).second)
        Answer(window, search);
    return TRUE;
}

} // namespace

bool AwaitUploaderUnattended(HANDLE process, DWORD pid, double seconds,
                             const UnattendedAnswers& answers, Report& report) {
    std::set<HWND> answered;
    const DWORD start = GetTickCount();
    bool closeAsked = false;
    for (;;) {
        if (WaitForSingleObject(process, LookInterval) == WAIT_OBJECT_0) {
            report.UploaderEnded();
            return true;
        }
        const double elapsed = (GetTickCount() - start) / 1000.0;
        if (elapsed >= seconds)
            return false;
        Search search{pid, &answered, &answers, &report};
        EnumWindows(LookAtWindow, reinterpret_cast<LPARAM>(&search));
        if (!closeAsked && answers.closeAfter >= 0 && elapsed >= answers.closeAfter &&
            search.mainWindow != nullptr) {
            std::printf("closing the uploader's window\n");
            std::fflush(stdout);
            report.CloseRequested();
            PostMessageA(search.mainWindow, WM_CLOSE, 0, 0);
            closeAsked = true;
        }
    }
}
