// Reads the resources of the real program file as Windows loads them. The Japanese texts
// below are compiled to code page 932 like every literal of the program, so each check
// compares the resource compiler's conversion with the C++ compiler's. The ids are the
// ones the code and the resource script share.
#include "resources/resource_ids.h"
#include "version.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
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

struct DialogItem {
    int id;
    std::string text;
    DWORD style;
};

struct Dialog {
    std::string caption;
    std::vector<DialogItem> items;

    // Id and text of each item, in the template's order.
    std::vector<std::pair<int, std::string>> IdsAndTexts() const {
        std::vector<std::pair<int, std::string>> pairs;
        for (const DialogItem& item : items)
            pairs.emplace_back(item.id, item.text);
        return pairs;
    }
};

// Walks a DIALOG template: a header, then one item after the other, each dword-aligned.
class TemplateReader {
  public:
    explicit TemplateReader(const BYTE* data) : base_(data), p_(data) {}
    WORD Word() {
        WORD w;
        std::memcpy(&w, p_, 2);
        p_ += 2;
        return w;
    }
    DWORD Dword() {
        DWORD d;
        std::memcpy(&d, p_, 4);
        p_ += 4;
        return d;
    }
    void Skip(std::size_t bytes) { p_ += bytes; }
    void AlignDword() {
        while ((p_ - base_) % 4 != 0)
            ++p_;
    }
    // A zero-terminated UTF-16 text, as code page 932 bytes.
    std::string Text() {
        std::wstring wide;
        for (WORD c = Word(); c != 0; c = Word())
            wide += static_cast<wchar_t>(c);
        char buffer[1024] = {};
        const int n = WideCharToMultiByte(932, 0, wide.c_str(), static_cast<int>(wide.size()),
                                          buffer, sizeof buffer, nullptr, nullptr);
        return std::string(buffer, n);
    }
    // A text, or an ordinal (0xFFFF and a number), which reads as empty.
    std::string TextOrOrdinal() {
        if (Word() == 0xFFFF) {
            Word();
            return std::string();
        }
        p_ -= 2;
        return Text();
    }

  private:
    const BYTE* base_;
    const BYTE* p_;
};

Dialog ReadDialog(HMODULE module, int id) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    TemplateReader r(static_cast<const BYTE*>(LockResource(LoadResource(module, found))));
    Dialog d;
    const DWORD style = r.Dword();
    r.Dword(); // extended style
    const WORD count = r.Word();
    r.Skip(8);         // x, y, cx, cy
    r.TextOrOrdinal(); // menu
    r.TextOrOrdinal(); // class
    d.caption = r.Text();
    if (style & DS_SETFONT) {
        r.Word(); // point size
        r.Text(); // face name
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        DialogItem item;
        item.style = r.Dword();
        r.Dword(); // extended style
        r.Skip(8); // x, y, cx, cy
        item.id = static_cast<short>(r.Word());
        r.TextOrOrdinal(); // class
        item.text = r.TextOrOrdinal();
        r.Skip(r.Word()); // creation data
        d.items.push_back(item);
    }
    return d;
}

std::string MenuText(HMENU menu, UINT position) {
    char buffer[256] = {};
    GetMenuStringA(menu, position, buffer, sizeof buffer, MF_BYPOSITION);
    return buffer;
}

} // namespace

TEST_F(ProgramResources, StringTableHoldsTitleAndClassName) {
    char text[100] = {};
    ASSERT_GT(LoadStringA(module_, IDS_APP_TITLE, text, sizeof text), 0);
    EXPECT_STREQ(text, "TavikVistoraUploader");
    ASSERT_GT(LoadStringA(module_, IDS_WINDOW_CLASS, text, sizeof text), 0);
    EXPECT_STREQ(text, "TAVIKVISTORAUPLOAD");
}

TEST_F(ProgramResources, MenuItemsSendTheCommandsTheWindowHandles) {
    HMENU menu = LoadMenuA(module_, MAKEINTRESOURCEA(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuText(menu, 0), "ファイル(&F)");
    EXPECT_EQ(MenuText(menu, 1), "ヘルプ(&H)");
    HMENU file = GetSubMenu(menu, 0);
    HMENU help = GetSubMenu(menu, 1);
    struct Item {
        HMENU popup;
        int position;
        UINT id;
        const char* text;
    };
    const Item items[] = {
        {file, 0, IDM_UPLOAD, "アップロード(&U)"},
        {file, 1, IDM_SAVE_LOGIN, "ログイン情報の保存(&S)"},
        {file, 2, IDM_EXIT, "終了(&X)"},
        {help, 0, IDM_ABOUT, "About..."},
    };
    for (const Item& item : items) {
        SCOPED_TRACE(item.text);
        EXPECT_EQ(GetMenuItemID(item.popup, item.position), item.id);
        EXPECT_EQ(MenuText(item.popup, item.position), item.text);
    }
    DestroyMenu(menu);
}

TEST_F(ProgramResources, AcceleratorsSendTheAboutCommand) {
    HACCEL table = LoadAcceleratorsA(module_, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    ACCEL entries[8];
    const int n = CopyAcceleratorTableA(table, entries, 8);
    ASSERT_GT(n, 0);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(entries[i].cmd, IDM_ABOUT);
}

TEST_F(ProgramResources, AboutBoxEndsWithOk) {
    const Dialog d = ReadDialog(module_, IDD_ABOUTBOX);
    EXPECT_EQ(d.IdsAndTexts(),
              (std::vector<std::pair<int, std::string>>{{IDOK, "OK"}, {-1, "Vistora Uploader"}}));
}

TEST_F(ProgramResources, LoginDialogHasTheEditsAndButtonsTheCodeUses) {
    const Dialog d = ReadDialog(module_, IDD_LOGIN);
    EXPECT_EQ(d.caption, "Vistoraに接続します。");
    EXPECT_EQ(d.IdsAndTexts(), (std::vector<std::pair<int, std::string>>{
                                   {IDOK, "OK"},
                                   {IDCANCEL, "ｷｬﾝｾﾙ"},
                                   {-1, "Vistoraに登録したメールアドレス"},
                                   {-1, "パスワード"},
                                   {IDC_LOGIN_MAIL, ""},
                                   {IDC_LOGIN_PASSWORD, ""},
                               }));
    // Only the password is masked.
    for (const DialogItem& item : d.items) {
        if (item.id == IDC_LOGIN_MAIL || item.id == IDC_LOGIN_PASSWORD) {
            EXPECT_EQ((item.style & ES_PASSWORD) != 0, item.id == IDC_LOGIN_PASSWORD) << item.id;
        }
    }
}

TEST_F(ProgramResources, TheSmallIconLoads) {
    HICON icon =
        static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(IDI_SMALL), IMAGE_ICON, 16, 16, 0));
    ASSERT_NE(icon, nullptr);
    DestroyIcon(icon);
}

namespace {

// The version resource of each shipped program: what Explorer's properties show.
struct VersionStrings {
    std::string company, description, product, fileVersion, productVersion;
    WORD major = 0, minor = 0, patch = 0;
};

VersionStrings ReadVersion(const char* program) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string file(path);
    file.replace(file.rfind('\\') + 1, std::string::npos, program);
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(file.c_str(), &ignored));
    VersionStrings found;
    if (block.empty() || !GetFileVersionInfoA(file.c_str(), 0, block.size(), block.data()))
        return found;
    auto text = [&block](const char* name) {
        const std::string key = std::string("\\StringFileInfo\\041103a4\\") + name;
        char* value = nullptr;
        UINT length = 0;
        return VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value),
                              &length) &&
                       value != nullptr
                   ? std::string(value)
                   : std::string();
    };
    found.company = text("CompanyName");
    found.description = text("FileDescription");
    found.product = text("ProductName");
    found.fileVersion = text("FileVersion");
    found.productVersion = text("ProductVersion");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &size) && fixed) {
        found.major = HIWORD(fixed->dwFileVersionMS);
        found.minor = LOWORD(fixed->dwFileVersionMS);
        found.patch = HIWORD(fixed->dwFileVersionLS);
    }
    return found;
}

} // namespace

TEST(ProgramVersion, BothProgramsCarryTheProjectsVersionAndMaker) {
    const std::pair<const char*, const char*> programs[] = {
        {"VistoraUploader.exe", "Vistora アップローダー"},
        {"VistoraHost.exe", "Vistora ホストツール"},
    };
    for (const auto& [program, description] : programs) {
        SCOPED_TRACE(program);
        const VersionStrings version = ReadVersion(program);
        EXPECT_EQ(version.company, "Tavik");
        EXPECT_EQ(version.description, description);
        EXPECT_EQ(version.product, "Vistora Uploader");
        EXPECT_EQ(version.fileVersion, VISTORA_VERSION_TEXT);
        EXPECT_EQ(version.productVersion, VISTORA_VERSION_TEXT);
        EXPECT_EQ(version.major, VISTORA_VERSION_MAJOR);
        EXPECT_EQ(version.minor, VISTORA_VERSION_MINOR);
        EXPECT_EQ(version.patch, VISTORA_VERSION_PATCH);
    }
}

namespace {

// The application manifest of a program beside the tests (RT_MANIFEST 1), as the loader
// reads it when it starts the program.
std::string ManifestOf(const char* program) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string file(path);
    file.replace(file.rfind('\\') + 1, std::string::npos, program);
    HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return std::string();
    std::string manifest;
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        manifest.assign(data, SizeofResource(module, found));
    }
    FreeLibrary(module);
    return manifest;
}

// Each opening tag of the element (the whole "<name ...>"), in document order.
std::vector<std::string> Tags(const std::string& xml, const std::string& element) {
    std::vector<std::string> tags;
    const std::string open = "<" + element;
    for (std::size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        const char next = xml[at + open.size()];
        if (next == ' ' || next == '>' || next == '/' || next == '\n' || next == '\r')
            tags.push_back(xml.substr(at, xml.find('>', at) + 1 - at));
    }
    return tags;
}

// The values of one attribute of each such element that has it.
std::vector<std::string> Attributes(const std::string& xml, const std::string& element,
                                    const std::string& attribute) {
    std::vector<std::string> values;
    for (const std::string& tag : Tags(xml, element)) {
        const std::string key = " " + attribute + "=\"";
        const std::size_t at = tag.find(key);
        if (at != std::string::npos)
            values.push_back(
                tag.substr(at + key.size(), tag.find('"', at + key.size()) - at - key.size()));
    }
    return values;
}

// The text inside each such element.
std::vector<std::string> Texts(const std::string& xml, const std::string& element) {
    std::vector<std::string> texts;
    for (const std::string& tag : Tags(xml, element)) {
        const std::size_t start = xml.find(tag) + tag.size();
        texts.push_back(xml.substr(start, xml.find('<', start) - start));
    }
    return texts;
}

const std::set<std::string> SupportedWindows = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
};

} // namespace

TEST(ProgramManifests, EachProgramNamesItsWindowsNeedsNoElevationAndSeesRealPixels) {
    // The tools too: the probe measures the uploader's windows, which Windows would tell a
    // program unaware of the scale in its own scaled units.
    for (const char* program : {"VistoraUploader.exe", "VistoraHost.exe", "UiProbe.exe"}) {
        SCOPED_TRACE(program);
        const std::string xml = ManifestOf(program);
        ASSERT_FALSE(xml.empty());
        const std::vector<std::string> ids = Attributes(xml, "supportedOS", "Id");
        EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), SupportedWindows);
        EXPECT_EQ(ids.size(), SupportedWindows.size());
        EXPECT_EQ(Attributes(xml, "requestedExecutionLevel", "level"),
                  std::vector<std::string>{"asInvoker"});
        // Per monitor (v2) where Windows 10 offers it, per monitor on 8.1, system-aware
        // below.
        EXPECT_EQ(Texts(xml, "dpiAware"), std::vector<std::string>{"true/pm"});
        EXPECT_EQ(Texts(xml, "dpiAwareness"), std::vector<std::string>{"PerMonitorV2, PerMonitor"});
    }
}

TEST(ProgramManifests, TheUploaderDependsOnCommonControls6) {
    const std::string xml = ManifestOf("VistoraUploader.exe");
    const std::vector<std::string> names = Attributes(xml, "assemblyIdentity", "name");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "Microsoft.Windows.Common-Controls");
    EXPECT_EQ(Attributes(xml, "assemblyIdentity", "version")[1], "6.0.0.0");
    EXPECT_EQ(Attributes(xml, "assemblyIdentity", "publicKeyToken"),
              std::vector<std::string>{"6595b64144ccf1df"});
    EXPECT_EQ(Tags(xml, "dependentAssembly").size(), 1u);
}
