// UiProbe: looks at another process's windows from outside, as a user would, and answers
// in JSON. It reads and sets texts through the wide (W) functions, as Windows shows them
// whatever the system's code page; they travel as hex of their UTF-8 bytes, both ways.
//
//   UiProbe serve                              commands from stdin, one per line with
//                                              tab-separated arguments; one JSON line each:
//                                              {"status":N,"out":...}
//   UiProbe COMMAND ARGS...                    one command; its JSON on stdout
//
// Commands:
//   find CLASS TITLE                           the top-level window ("" matches any)
//   children HWND                              its child controls
//   listview HWND                              columns and rows of a list view
//   dialogs PID                                the process's visible dialog and message boxes
//   click HWND ID                              presses a button of a dialog
//   keys HWND VK...                            brings the window to the front and types the
//                                              keys as a chord through the input queue
//                                              (SendInput): pressed in order, released in
//                                              reverse, as a user's Alt+F4 is
//   post HWND MESSAGE WPARAM LPARAM            posts a message
//   send HWND MESSAGE WPARAM LPARAM            sends a message (2 s at most)
//   settext DIALOG ID HEXTEXT                  sets the text of a dialog's control
//   exists HWND                                whether the window still exists
//   terminate PID                              ends a process of this prefix
//   desktop                                    the system's ANSI code page and the screen's
//                                              DPI, as this prefix gives them to programs
//   ink HWND                                   the box around what a control shows: its
//                                              pixels on the screen that differ from its
//                                              background (the colour most of them have),
//                                              relative to the control, and its size
//   face HEXNAME CHARSET                       the face GDI realises for a request of that
//                                              name and character set (Wine falls back to
//                                              another face when the prefix lacks it)
//   modules PID                                the paths of the modules the process has
//                                              loaded, as its loader lists them
//   hold PATH MS                               opens a file with no sharing, prints its JSON
//                                              once it holds it, and keeps it MS ms (as an
//                                              editor or a scanner still writing it would)
//   fault                                      crashes on a write through a null pointer
//   double-free                                frees one heap block twice
// The last two are canaries: the tests' crash check must see what they leave in Wine's
// output.
//
// One long-lived "serve" process answers a test's questions in about a millisecond each,
// where starting a Windows process per question took a good part of a second of CPU.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

// A window busy in a teardown must not hold the probe for long.
constexpr UINT SendLimitMs = 2000;
constexpr size_t RemoteTextSize = 1024;

struct Answer {
    int status;
    std::string json;
};

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

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

std::string Utf8(const wchar_t* text, int length) {
    if (length <= 0)
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], size, nullptr, nullptr);
    return out;
}

std::string Utf8(const wchar_t* text) {
    return Utf8(text, static_cast<int>(std::wcslen(text)));
}

std::wstring Wide(const std::string& utf8) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], size);
    return out;
}

// A text as the JSON carries it: hex of its UTF-8 bytes.
std::string HexText(const wchar_t* text) {
    return Hex(Utf8(text));
}

std::string WindowText(HWND window) {
    wchar_t buffer[4096] = {};
    const int n = GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
    return Utf8(buffer, n);
}

std::string ClassOf(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
    return Utf8(buffer);
}

HWND ParseHandle(const std::string& text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(text.c_str(), nullptr, 0)));
}

unsigned long Number(const std::string& text) {
    return std::strtoul(text.c_str(), nullptr, 0);
}

unsigned long Handle(HWND window) {
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window));
}

std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

std::string Rect(const char* name, const RECT& r) {
    return Format("\"%s\":[%ld,%ld,%ld,%ld]", name, r.left, r.top, r.right, r.bottom);
}

Answer Find(const std::string& className, const std::string& title) {
    const std::wstring wideClass = Wide(className);
    const std::wstring wideTitle = Wide(title);
    HWND window = FindWindowW(className.empty() ? nullptr : wideClass.c_str(),
                              title.empty() ? nullptr : wideTitle.c_str());
    if (window == nullptr)
        return {1, "{\"found\":false}"};
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT rect, client;
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    return {0, Format("{\"found\":true,\"hwnd\":%lu,\"pid\":%lu,", Handle(window), pid) +
                   Rect("rect", rect) + "," + Rect("client", client) +
                   Format(",\"visible\":%s,\"style\":%lu,\"text\":\"",
                          IsWindowVisible(window) ? "true" : "false",
                          static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE))) +
                   Hex(WindowText(window)) + "\"}"};
}

Answer Children(HWND parent) {
    std::string out = "[";
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
        if (out.size() > 1)
            out += ",";
        out += Format("{\"hwnd\":%lu,\"class\":\"%s\",\"id\":%ld,\"style\":%lu,\"enabled\":%s,",
                      Handle(child), ClassOf(child).c_str(),
                      static_cast<long>(GetWindowLongA(child, GWL_ID)),
                      static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)),
                      IsWindowEnabled(child) ? "true" : "false");
        out += Rect("rect", rect) + ",\"text\":\"" + Hex(WindowText(child)) + "\"}";
    }
    return {0, out + "]"};
}

// List-view messages carry pointers, so their structures must live in the list's process.
class RemoteBlock {
  public:
    RemoteBlock(HANDLE process, size_t size) : process_(process) {
        address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBlock() {
        if (address_ != nullptr)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    char* Address() const { return static_cast<char*>(address_); }
    bool Write(size_t offset, const void* data, size_t size) {
        return WriteProcessMemory(process_, Address() + offset, data, size, nullptr) != 0;
    }
    bool Read(size_t offset, void* data, size_t size) {
        return ReadProcessMemory(process_, Address() + offset, data, size, nullptr) != 0;
    }

  private:
    HANDLE process_;
    void* address_;
};

Answer ListView(HWND list) {
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr)
        return {1, "{\"error\":\"OpenProcess\"}"};
    const size_t textOffset = 512;
    RemoteBlock block(process, textOffset + sizeof(wchar_t) * RemoteTextSize);
    wchar_t* const remoteText = reinterpret_cast<wchar_t*>(block.Address() + textOffset);
    wchar_t text[RemoteTextSize] = {};
    // An empty text leaves the room in the list's process as it was: it is cleared first.
    auto clearText = [&]() { block.Write(textOffset, L"", sizeof(wchar_t)); };
    // The text the last message left there, at most its room.
    auto readText = [&]() {
        std::memset(text, 0, sizeof text);
        block.Read(textOffset, text, sizeof text - sizeof text[0]);
        return HexText(text);
    };

    std::string out = "{\"columns\":[";
    for (int index = 0;; ++index) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.pszText = remoteText;
        column.cchTextMax = RemoteTextSize;
        block.Write(0, &column, sizeof column);
        clearText();
        if (!SendMessageW(list, LVM_GETCOLUMNW, index, reinterpret_cast<LPARAM>(block.Address())))
            break;
        block.Read(0, &column, sizeof column);
        out += Format("%s{\"text\":\"", index ? "," : "") + readText() +
               Format("\",\"width\":%d,\"fmt\":%d,\"subitem\":%d}", column.cx, column.fmt,
                      column.iSubItem);
    }
    out += "],\"rows\":[";
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        block.Write(0, &item, sizeof item);
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.Address()));
        block.Read(0, &item, sizeof item);
        out +=
            Format("%s{\"param\":%ld,\"cells\":[", row ? "," : "", static_cast<long>(item.lParam));
        for (int sub = 0; sub < 2; ++sub) {
            LVITEMW cell = {};
            cell.iSubItem = sub;
            cell.pszText = remoteText;
            cell.cchTextMax = RemoteTextSize;
            block.Write(0, &cell, sizeof cell);
            clearText();
            SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.Address()));
            out += std::string(sub ? "," : "") + "\"" + readText() + "\"";
        }
        out += "]}";
    }
    CloseHandle(process);
    return {0, out + "]}"};
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

Answer Dialogs(DWORD pid) {
    DialogSearch search{pid, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    std::string out = "[";
    for (HWND dialog : search.found) {
        DWORD owner = 0;
        GetWindowThreadProcessId(dialog, &owner);
        if (out.size() > 1)
            out += ",";
        out += Format("{\"hwnd\":%lu,\"pid\":%lu,\"title\":\"", Handle(dialog), owner) +
               Hex(WindowText(dialog)) +
               Format("\",\"owner\":%lu,\"controls\":[", Handle(GetWindow(dialog, GW_OWNER)));
        bool first = true;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            out +=
                Format("%s{\"class\":\"%s\",\"id\":%ld,\"style\":%lu,\"text\":\"", first ? "" : ",",
                       ClassOf(child).c_str(), static_cast<long>(GetWindowLongA(child, GWL_ID)),
                       static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE))) +
                Hex(WindowText(child)) + "\"}";
            first = false;
        }
        out += "]}";
    }
    return {0, out + "]"};
}

Answer Flag(bool done) {
    return {done ? 0 : 1, done ? "true" : "false"};
}

Answer Click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return Flag(PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             reinterpret_cast<LPARAM>(button)) != 0);
}

// Input, not a posted message: the queue hands it out after every posted message, as it
// does a person's keys, whatever the order they came in.
Answer Keys(HWND window, const std::vector<std::string>& keys) {
    if (!SetForegroundWindow(window))
        return Flag(false);
    std::vector<INPUT> inputs;
    for (bool press : {true, false}) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            INPUT input = {};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = static_cast<WORD>(Number(keys[press ? i : keys.size() - 1 - i]));
            input.ki.dwFlags = press ? 0 : KEYEVENTF_KEYUP;
            inputs.push_back(input);
        }
    }
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    return Flag(sent == inputs.size());
}

Answer Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    const bool answered = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                                              SendLimitMs, &result) != 0;
    return {answered ? 0 : 1, Format("{\"answered\":%s,\"result\":%ld}",
                                     answered ? "true" : "false", static_cast<long>(result))};
}

Answer Terminate(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return Flag(false);
    const bool ended = TerminateProcess(process, 1) != 0 &&
                       WaitForSingleObject(process, SendLimitMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return Flag(ended);
}

Answer Hold(const std::string& path, DWORD ms) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Flag(false);
    std::printf("{\"held\":true}\n");
    std::fflush(stdout);
    Sleep(ms);
    CloseHandle(file);
    return Flag(true);
}

Answer Face(const std::string& name, unsigned long charset) {
    LOGFONTW request = {};
    request.lfCharSet = static_cast<BYTE>(charset);
    lstrcpynW(request.lfFaceName, Wide(name).c_str(), LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&request);
    HDC screen = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(screen, font);
    wchar_t face[LF_FACESIZE] = {};
    const int length = GetTextFaceW(screen, LF_FACESIZE, face);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    DeleteObject(font);
    if (length <= 0)
        return {1, "\"\""};
    return {0, "\"" + HexText(face) + "\""};
}

Answer Modules(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE)
        return {1, "[]"};
    MODULEENTRY32W module = {};
    module.dwSize = sizeof module;
    std::string out = "[";
    for (BOOL more = Module32FirstW(snapshot, &module); more;
         more = Module32NextW(snapshot, &module))
        out += std::string(out.size() > 1 ? "," : "") + "\"" + HexText(module.szExePath) + "\"";
    CloseHandle(snapshot);
    return {0, out + "]"};
}

Answer Desktop() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return {0, Format("{\"codepage\":%u,\"dpi\":%d}", GetACP(), dpi)};
}

// The control's pixels as the screen shows them, copied into a bitmap of its own.
class ScreenCopy {
  public:
    explicit ScreenCopy(const RECT& rect)
        : width_(rect.right - rect.left), height_(rect.bottom - rect.top) {
        if (width_ <= 0 || height_ <= 0)
            return;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_; // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap_ != nullptr) {
            HGDIOBJ previous = SelectObject(memory, bitmap_);
            if (BitBlt(memory, 0, 0, width_, height_, screen, rect.left, rect.top, SRCCOPY))
                pixels_ = static_cast<const DWORD*>(bits);
            SelectObject(memory, previous);
        }
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }
    ~ScreenCopy() {
        if (bitmap_ != nullptr)
            DeleteObject(bitmap_);
    }
    ScreenCopy(const ScreenCopy&) = delete;
    ScreenCopy& operator=(const ScreenCopy&) = delete;

    bool Taken() const { return pixels_ != nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    DWORD At(int x, int y) const { return pixels_[y * width_ + x] & 0x00FFFFFF; }

  private:
    int width_;
    int height_;
    HBITMAP bitmap_ = nullptr;
    const DWORD* pixels_ = nullptr;
};

Answer Ink(HWND control) {
    RECT rect = {};
    if (!GetWindowRect(control, &rect))
        return {1, "{}"};
    const ScreenCopy copy(rect);
    if (!copy.Taken())
        return {1, "{}"};
    std::map<DWORD, int> counts;
    for (int y = 0; y < copy.Height(); ++y)
        for (int x = 0; x < copy.Width(); ++x)
            ++counts[copy.At(x, y)];
    DWORD background = 0;
    int most = 0;
    for (const auto& [colour, count] : counts) {
        if (count > most) {
            background = colour;
            most = count;
        }
    }
    RECT box = {copy.Width(), copy.Height(), 0, 0};
    for (int y = 0; y < copy.Height(); ++y) {
        for (int x = 0; x < copy.Width(); ++x) {
            if (copy.At(x, y) == background)
                continue;
            box.left = std::min<LONG>(box.left, x);
            box.top = std::min<LONG>(box.top, y);
            box.right = std::max<LONG>(box.right, x + 1);
            box.bottom = std::max<LONG>(box.bottom, y + 1);
        }
    }
    const bool inked = box.right > 0;
    return {0, Format("{\"size\":[%d,%d],\"ink\":", copy.Width(), copy.Height()) +
                   (inked ? Format("[%ld,%ld,%ld,%ld]", box.left, box.top, box.right, box.bottom)
                          : std::string("null")) +
                   "}"};
}

Answer Fault() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return Flag(false);
}

Answer DoubleFree() {
    HANDLE heap = GetProcessHeap();
    void* block = HeapAlloc(heap, 0, 64);
    HeapFree(heap, 0, block);
    HeapFree(heap, 0, block);
    return Flag(true);
}

Answer Run(const std::vector<std::string>& a) {
    const std::string& command = a.empty() ? std::string() : a[0];
    const size_t n = a.size();
    if (command == "find" && n >= 3)
        return Find(a[1], a[2]);
    if (command == "children" && n >= 2)
        return Children(ParseHandle(a[1]));
    if (command == "listview" && n >= 2)
        return ListView(ParseHandle(a[1]));
    if (command == "dialogs" && n >= 2)
        return Dialogs(Number(a[1]));
    if (command == "click" && n >= 3)
        return Click(ParseHandle(a[1]), static_cast<int>(Number(a[2])));
    if (command == "keys" && n >= 3)
        return Keys(ParseHandle(a[1]), std::vector<std::string>(a.begin() + 2, a.end()));
    if (command == "post" && n >= 5)
        return Flag(PostMessageA(ParseHandle(a[1]), Number(a[2]), Number(a[3]), Number(a[4])));
    if (command == "send" && n >= 5)
        return Send(ParseHandle(a[1]), Number(a[2]), Number(a[3]), Number(a[4]));
    if (command == "settext" && n >= 4)
        return Flag(SetDlgItemTextW(ParseHandle(a[1]), static_cast<int>(Number(a[2])),
                                    Wide(Unhex(a[3])).c_str()) != 0);
    if (command == "exists" && n >= 2)
        return Flag(IsWindow(ParseHandle(a[1])) != FALSE);
    if (command == "terminate" && n >= 2)
        return Terminate(Number(a[1]));
    if (command == "desktop")
        return Desktop();
    if (command == "ink" && n >= 2)
        return Ink(ParseHandle(a[1]));
    if (command == "face" && n >= 3)
        return Face(Unhex(a[1]), Number(a[2]));
    if (command == "modules" && n >= 2)
        return Modules(Number(a[1]));
    if (command == "hold" && n >= 3)
        return Hold(a[1], Number(a[2]));
    if (command == "fault")
        return Fault();
    if (command == "double-free")
        return DoubleFree();
    return {2, "{\"error\":\"unknown command or missing arguments\"}"};
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

int Serve() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const Answer answer = Run(SplitTabs(line));
        std::printf("{\"status\":%d,\"out\":%s}\n", answer.status, answer.json.c_str());
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0)
        return Serve();
    if (argc < 2) {
        std::fprintf(stderr, "usage: UiProbe serve | UiProbe COMMAND ARGS...\n");
        return 2;
    }
    const Answer answer = Run(std::vector<std::string>(argv + 1, argv + argc));
    std::printf("%s\n", answer.json.c_str());
    return answer.status;
}
