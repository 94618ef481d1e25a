// UiProbe: looks at another process's windows from outside, as a user would, and prints
// what it sees as JSON. Texts are printed as hex of their ANSI (code page 932) bytes.
//
//   UiProbe find CLASS TITLE [TIMEOUT_MS]      the top-level window, waiting up to the timeout
//   UiProbe children HWND                      its child controls
//   UiProbe listview HWND                      columns and rows of a list view
//   UiProbe dialogs PID                        the process's dialog boxes and message boxes
//   UiProbe click HWND ID                      presses a button of a dialog
//   UiProbe post HWND MESSAGE WPARAM LPARAM    posts a message
//   UiProbe send HWND MESSAGE WPARAM LPARAM    sends a message (2 s at most), prints the result
//   UiProbe settext DIALOG ID TEXT             sets the text of a dialog's control
//   UiProbe wait-gone HWND TIMEOUT_MS          waits until the window no longer exists
//   UiProbe menu-of HWND                       whether the window has a menu
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Hex(const char* text, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Hex(const std::string& text) {
    return Hex(text.data(), text.size());
}

std::string WindowText(HWND window) {
    char buffer[4096] = {};
    int n = GetWindowTextA(window, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? n : 0);
}

std::string ClassOf(HWND window) {
    char buffer[256] = {};
    GetClassNameA(window, buffer, sizeof buffer);
    return buffer;
}

HWND ParseHandle(const char* text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(text, nullptr, 0)));
}

unsigned long Handle(HWND window) {
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window));
}

void PrintRect(const char* name, const RECT& r) {
    std::printf("\"%s\":[%ld,%ld,%ld,%ld]", name, r.left, r.top, r.right, r.bottom);
}

int Find(const char* className, const char* title, DWORD timeout) {
    DWORD start = GetTickCount();
    HWND window = nullptr;
    for (;;) {
        window = FindWindowA(className, title);
        if (window != nullptr || GetTickCount() - start >= timeout)
            break;
        Sleep(50);
    }
    if (window == nullptr) {
        std::printf("{\"found\":false}\n");
        return 1;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT rect, client;
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    std::printf("{\"found\":true,\"hwnd\":%lu,\"pid\":%lu,", Handle(window), pid);
    PrintRect("rect", rect);
    std::printf(",");
    PrintRect("client", client);
    std::printf(",\"visible\":%s,\"style\":%lu,\"text\":\"%s\"}\n",
                IsWindowVisible(window) ? "true" : "false",
                static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
                Hex(WindowText(window)).c_str());
    return 0;
}

int Children(HWND parent) {
    std::printf("[");
    bool first = true;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
        std::printf("%s{\"hwnd\":%lu,\"class\":\"%s\",\"id\":%ld,\"style\":%lu,\"enabled\":%s,",
                    first ? "" : ",", Handle(child), ClassOf(child).c_str(),
                    static_cast<long>(GetWindowLongA(child, GWL_ID)),
                    static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)),
                    IsWindowEnabled(child) ? "true" : "false");
        PrintRect("rect", rect);
        std::printf(",\"text\":\"%s\"}", Hex(WindowText(child)).c_str());
        first = false;
    }
    std::printf("]\n");
    return 0;
}

// List-view messages carry pointers, so their structures must live in the list's process.
class RemoteBlock {
  public:
    RemoteBlock(HANDLE process, size_t size) : process_(process), size_(size) {
        address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBlock() {
        if (address_ != nullptr)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    char* Address() const { return static_cast<char*>(address_); }
    bool Write(size_t offset, const void* data, size_t size) {
        return WriteProcessMemory(process_, Address() + offset, data, size, nullptr) != 0;
    }
    bool Read(size_t offset, void* data, size_t size) {
        return ReadProcessMemory(process_, Address() + offset, data, size, nullptr) != 0;
    }

  private:
    HANDLE process_;
    size_t size_;
    void* address_;
};

int ListView(HWND list) {
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr) {
        std::printf("{\"error\":\"OpenProcess\"}\n");
        return 1;
    }
    const size_t textOffset = 512;
    const size_t textSize = 1024;
    RemoteBlock block(process, textOffset + textSize);

    std::printf("{\"columns\":[");
    for (int index = 0;; ++index) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.pszText = block.Address() + textOffset;
        column.cchTextMax = textSize;
        block.Write(0, &column, sizeof column);
        if (!SendMessageA(list, LVM_GETCOLUMNA, index, reinterpret_cast<LPARAM>(block.Address())))
            break;
        block.Read(0, &column, sizeof column);
        char text[1024] = {};
        block.Read(textOffset, text, sizeof text - 1);
        std::printf("%s{\"text\":\"%s\",\"width\":%d,\"fmt\":%d,\"subitem\":%d}", index ? "," : "",
                    Hex(text, std::strlen(text)).c_str(), column.cx, column.fmt, column.iSubItem);
    }
    std::printf("],\"rows\":[");
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        block.Write(0, &item, sizeof item);
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(block.Address()));
        block.Read(0, &item, sizeof item);
        std::printf("%s{\"param\":%ld,\"cells\":[", row ? "," : "", static_cast<long>(item.lParam));
        for (int sub = 0; sub < 2; ++sub) {
            LVITEMA cell = {};
            cell.iSubItem = sub;
            cell.pszText = block.Address() + textOffset;
            cell.cchTextMax = textSize;
            block.Write(0, &cell, sizeof cell);
            int n = static_cast<int>(SendMessageA(list, LVM_GETITEMTEXTA, row,
                                                  reinterpret_cast<LPARAM>(block.Address())));
            char text[1024] = {};
            if (n > 0)
                block.Read(textOffset, text, n < 1023 ? n : 1023);
            std::printf("%s\"%s\"", sub ? "," : "", Hex(text, std::strlen(text)).c_str());
        }
        std::printf("]}");
    }
    std::printf("]}\n");
    CloseHandle(process);
    return 0;
}

struct DialogSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<DialogSearch*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if ((search->pid == 0 || pid == search->pid) && ClassOf(window) == "#32770" &&
        IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

int Dialogs(DWORD pid) {
    DialogSearch search{pid, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    std::printf("[");
    bool first = true;
    for (HWND dialog : search.found) {
        DWORD owner = 0;
        GetWindowThreadProcessId(dialog, &owner);
        std::printf("%s{\"hwnd\":%lu,\"pid\":%lu,\"title\":\"%s\",\"owner\":%lu,\"controls\":[",
                    first ? "" : ",", Handle(dialog), owner, Hex(WindowText(dialog)).c_str(),
                    Handle(GetWindow(dialog, GW_OWNER)));
        bool firstControl = true;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            std::printf("%s{\"class\":\"%s\",\"id\":%ld,\"style\":%lu,\"text\":\"%s\"}",
                        firstControl ? "" : ",", ClassOf(child).c_str(),
                        static_cast<long>(GetWindowLongA(child, GWL_ID)),
                        static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)),
                        Hex(WindowText(child)).c_str());
            firstControl = false;
        }
        std::printf("]}");
        first = false;
    }
    std::printf("]\n");
    return 0;
}

int Click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button)))
        return 1;
    return 0;
}

int WaitGone(HWND window, DWORD timeout) {
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeout) {
            std::printf("{\"gone\":false}\n");
            return 1;
        }
        Sleep(50);
    }
    std::printf("{\"gone\":true}\n");
    return 0;
}

unsigned long Number(const char* text) {
    return std::strtoul(text, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: UiProbe COMMAND ...\n");
        return 2;
    }
    const std::string command = argv[1];
    int result = 2;
    if (command == "find" && argc >= 4)
        result = Find(argv[2][0] ? argv[2] : nullptr, argv[3][0] ? argv[3] : nullptr,
                      argc >= 5 ? Number(argv[4]) : 0);
    else if (command == "children" && argc >= 3)
        result = Children(ParseHandle(argv[2]));
    else if (command == "listview" && argc >= 3)
        result = ListView(ParseHandle(argv[2]));
    else if (command == "dialogs" && argc >= 3)
        result = Dialogs(Number(argv[2]));
    else if (command == "click" && argc >= 4)
        result = Click(ParseHandle(argv[2]), static_cast<int>(Number(argv[3])));
    else if (command == "post" && argc >= 6)
        result =
            PostMessageA(ParseHandle(argv[2]), Number(argv[3]), Number(argv[4]), Number(argv[5]))
                ? 0
                : 1;
    else if (command == "send" && argc >= 6) {
        // A window that is busy (its thread sleeping in a teardown, say) must not hang us.
        DWORD_PTR answer = 0;
        bool answered = SendMessageTimeoutA(ParseHandle(argv[2]), Number(argv[3]), Number(argv[4]),
                                            Number(argv[5]), SMTO_ABORTIFHUNG, 2000, &answer) != 0;
        std::printf("{\"answered\":%s,\"result\":%ld}\n", answered ? "true" : "false",
                    static_cast<long>(answer));
        result = answered ? 0 : 1;
    } else if (command == "settext" && argc >= 5) {
        result = SetDlgItemTextA(ParseHandle(argv[2]), static_cast<int>(Number(argv[3])), argv[4])
                     ? 0
                     : 1;
    } else if (command == "wait-gone" && argc >= 4)
        result = WaitGone(ParseHandle(argv[2]), Number(argv[3]));
    else if (command == "menu-of" && argc >= 3) {
        std::printf("{\"menu\":%s}\n", GetMenu(ParseHandle(argv[2])) ? "true" : "false");
        result = 0;
    } else
        std::fprintf(stderr, "UiProbe: unknown command or missing arguments\n");
    std::fflush(stdout);
    return result;
}
