// Reads the resources of the real program file, as Windows loads them, and checks that
// the Japanese texts come out as the code page 932 bytes the program expects.
#include "resources/resource_ids.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ProgramResources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, sizeof path);
        std::string program(path);
        program.replace(program.rfind('\\') + 1, std::string::npos, "VistoraUploader.exe");
        module_ = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() { FreeLibrary(module_); }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "VistoraUploader.exe not found"; }

    static HMODULE module_;
};
HMODULE ProgramResources::module_ = nullptr;

std::string ToCp932(const std::wstring& text) {
    char buffer[1024] = {};
    int n = WideCharToMultiByte(932, 0, text.c_str(), static_cast<int>(text.size()), buffer,
                                sizeof buffer, nullptr, nullptr);
    return std::string(buffer, n);
}

struct DialogItem {
    DWORD style;
    short x, y, cx, cy;
    int id;
    std::wstring className;
    WORD classAtom;
    std::wstring text;
};

struct Dialog {
    DWORD style;
    short x, y, cx, cy;
    std::wstring title;
    WORD pointSize;
    std::wstring font;
    std::vector<DialogItem> items;
};

class TemplateReader {
  public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}
    WORD Word() {
        WORD w;
        memcpy(&w, p_, 2);
        p_ += 2;
        return w;
    }
    DWORD Dword() {
        DWORD d;
        memcpy(&d, p_, 4);
        p_ += 4;
        return d;
    }
    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); c != 0; c = Word())
            s += static_cast<wchar_t>(c);
        return s;
    }
    // A name or an ordinal (0xFFFF followed by a number).
    std::wstring NameOrOrdinal(WORD* ordinal) {
        *ordinal = 0;
        WORD first = Word();
        if (first == 0xFFFF) {
            *ordinal = Word();
            return std::wstring();
        }
        if (first == 0)
            return std::wstring();
        std::wstring s(1, static_cast<wchar_t>(first));
        return s + String();
    }
    void AlignDword(const BYTE* base) {
        while ((p_ - base) % 4 != 0)
            ++p_;
    }

  private:
    const BYTE* p_;
};

Dialog ReadDialog(HMODULE module, int id) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    TemplateReader r(base);
    Dialog d{};
    d.style = r.Dword();
    r.Dword(); // extended style
    WORD count = r.Word();
    d.x = r.Word();
    d.y = r.Word();
    d.cx = r.Word();
    d.cy = r.Word();
    WORD ordinal;
    r.NameOrOrdinal(&ordinal); // menu
    r.NameOrOrdinal(&ordinal); // class
    d.title = r.String();
    if (d.style & DS_SETFONT) {
        d.pointSize = r.Word();
        d.font = r.String();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword(base);
        DialogItem item{};
        item.style = r.Dword();
        r.Dword();
        item.x = r.Word();
        item.y = r.Word();
        item.cx = r.Word();
        item.cy = r.Word();
        item.id = static_cast<short>(r.Word());
        item.className = r.NameOrOrdinal(&item.classAtom);
        WORD textOrdinal;
        item.text = r.NameOrOrdinal(&textOrdinal);
        WORD extra = r.Word();
        for (WORD e = 0; e < extra; e += 2)
            r.Word();
        d.items.push_back(item);
    }
    return d;
}

std::string MenuText(HMENU menu, UINT position) {
    char buffer[256] = {};
    GetMenuStringA(menu, position, buffer, sizeof buffer, MF_BYPOSITION);
    return buffer;
}

// The class of a dialog item, written either as a predefined atom or as a name.
std::string ClassName(const DialogItem& item) {
    switch (item.classAtom) {
    case 0x80:
        return "button";
    case 0x81:
        return "edit";
    case 0x82:
        return "static";
    }
    std::string name = ToCp932(item.className);
    for (char& c : name)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return name;
}

const char MsPGothic[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";

} // namespace

TEST_F(ProgramResources, StringTableHoldsTitleAndClassName) {
    char text[100] = {};
    ASSERT_GT(LoadStringA(module_, IDS_APP_TITLE, text, sizeof text), 0);
    EXPECT_STREQ(text, "TavikVistoraUploader");
    ASSERT_GT(LoadStringA(module_, IDS_WINDOW_CLASS, text, sizeof text), 0);
    EXPECT_STREQ(text, "TAVIKVISTORAUPLOAD");
}

TEST_F(ProgramResources, MenuTextsAreShiftJis) {
    HMENU menu = LoadMenuA(module_, MAKEINTRESOURCEA(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuText(menu, 0), "\x83\x74\x83\x40\x83\x43\x83\x8B(&F)");
    EXPECT_EQ(MenuText(menu, 1), "\x83\x77\x83\x8B\x83\x76(&H)");

    HMENU file = GetSubMenu(menu, 0);
    ASSERT_EQ(GetMenuItemCount(file), 3);
    EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(IDM_UPLOAD));
    EXPECT_EQ(MenuText(file, 0), "\x83\x41\x83\x62\x83\x76\x83\x8D\x81\x5B\x83\x68(&U)");
    EXPECT_EQ(GetMenuItemID(file, 1), static_cast<UINT>(IDM_SAVE_LOGIN));
    EXPECT_EQ(MenuText(file, 1),
              "\x83\x8D\x83\x4F\x83\x43\x83\x93\x8F\xEE\x95\xF1\x82\xCC\x95\xDB\x91\xB6(&S)");
    EXPECT_EQ(GetMenuItemID(file, 2), static_cast<UINT>(IDM_EXIT));
    EXPECT_EQ(MenuText(file, 2), "\x8F\x49\x97\xB9(&X)");

    HMENU help = GetSubMenu(menu, 1);
    ASSERT_EQ(GetMenuItemCount(help), 1);
    EXPECT_EQ(GetMenuItemID(help, 0), static_cast<UINT>(IDM_ABOUT));
    EXPECT_EQ(MenuText(help, 0), "About...");
    DestroyMenu(menu);
}

TEST_F(ProgramResources, AcceleratorsOpenTheAboutBoxWithAltSlashAndQuestionMark) {
    HACCEL table = LoadAcceleratorsA(module_, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    ACCEL entries[8];
    int n = CopyAcceleratorTableA(table, entries, 8);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(entries[0].key, '/');
    EXPECT_EQ(entries[1].key, '?');
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(entries[i].cmd, IDM_ABOUT);
        EXPECT_EQ(entries[i].fVirt & (FALT | FVIRTKEY), FALT);
    }
}

TEST_F(ProgramResources, AboutBoxTemplate) {
    Dialog d = ReadDialog(module_, IDD_ABOUTBOX);
    EXPECT_EQ(d.style,
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(d.cx, 187);
    EXPECT_EQ(d.cy, 89);
    EXPECT_EQ(ToCp932(d.title), "About");
    EXPECT_EQ(d.pointSize, 9);
    EXPECT_EQ(ToCp932(d.font), MsPGothic);
    ASSERT_EQ(d.items.size(), 2u);
    EXPECT_EQ(d.items[0].id, IDOK);
    EXPECT_EQ(ClassName(d.items[0]), "button");
    EXPECT_EQ(d.items[0].x, 61);
    EXPECT_EQ(d.items[0].y, 68);
    EXPECT_EQ(d.items[0].cx, 50);
    EXPECT_EQ(d.items[0].cy, 14);
    EXPECT_EQ(ToCp932(d.items[1].text), "Vistora Uploader");
    EXPECT_EQ(ClassName(d.items[1]), "static");
    EXPECT_EQ(d.items[1].x, 22);
    EXPECT_EQ(d.items[1].y, 15);
    EXPECT_EQ(d.items[1].cx, 136);
    EXPECT_EQ(d.items[1].cy, 39);
}

TEST_F(ProgramResources, LoginDialogTemplate) {
    Dialog d = ReadDialog(module_, IDD_LOGIN);
    EXPECT_EQ(d.style,
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(d.cx, 179);
    EXPECT_EQ(d.cy, 69);
    EXPECT_EQ(ToCp932(d.title), "Vistora\x82\xC9\x90\xDA\x91\xB1\x82\xB5\x82\xDC\x82\xB7\x81\x42");
    EXPECT_EQ(d.pointSize, 11);
    EXPECT_EQ(ToCp932(d.font), MsPGothic);
    ASSERT_EQ(d.items.size(), 6u);

    struct Expected {
        int id;
        const char* className;
        DWORD style;
        short x, y, cx, cy;
        const char* text;
    };
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const Expected expected[] = {
        {IDOK, "button", child | WS_TABSTOP | BS_DEFPUSHBUTTON, 131, 7, 41, 14, "OK"},
        {IDCANCEL, "button", child | WS_TABSTOP | BS_PUSHBUTTON, 131, 24, 41, 14,
         "\xB7\xAC\xDD\xBE\xD9"},
        {-1, "static", child | WS_GROUP | SS_LEFT, 7, 7, 115, 9,
         "Vistora\x82\xC9\x93\x6F\x98\x5E\x82\xB5\x82\xBD\x83\x81\x81\x5B\x83\x8B\x83\x41\x83"
         "\x68\x83\x8C\x83\x58"},
        {-1, "static", child | WS_GROUP | SS_LEFT, 7, 38, 57, 9,
         "\x83\x70\x83\x58\x83\x8F\x81\x5B\x83\x68"},
        {IDC_LOGIN_MAIL, "edit", child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 18, 117, 12,
         ""},
        {IDC_LOGIN_PASSWORD, "edit", child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD,
         7, 50, 117, 12, ""},
    };
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const DialogItem& item = d.items[i];
        EXPECT_EQ(item.id, expected[i].id);
        EXPECT_EQ(ClassName(item), expected[i].className);
        EXPECT_EQ(item.style, expected[i].style);
        EXPECT_EQ(item.x, expected[i].x);
        EXPECT_EQ(item.y, expected[i].y);
        EXPECT_EQ(item.cx, expected[i].cx);
        EXPECT_EQ(item.cy, expected[i].cy);
        EXPECT_EQ(ToCp932(item.text), expected[i].text);
    }
}

TEST_F(ProgramResources, SmallIconIsThere) {
    HICON icon =
        static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(IDI_SMALL), IMAGE_ICON, 16, 16, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, 16);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}
