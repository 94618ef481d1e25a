// The running service inside the test process: the callback and the item handlers are
// called as DDEML calls them, with real string and data handles.
#include "app/app_state.h"
#include "app/main_window.h"
#include "app/session_controller.h"
#include "dde/dde_callback.h"
#include "dde/dde_service.h"
#include "queue/upload_queue.h"
#include "settings/settings.h"
#include "support/main_window_fixture.h"
#include "support/platform_override.h"
#include "support/queue_list.h"
#include "support/wait_until.h"
#include "util/bounded_text.h"
#include "util/paths.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class DdeServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform.calls().GetVersion = Windows98GetVersion;
        window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
        QueueList = CreateQueueList();
        ASSERT_EQ(StartDdeService(window, QueueList), 1);
        std::memset(&StagedLoginData, 0, sizeof StagedLoginData);
        LoginDataPending = 0;
    }
    void TearDown() override {
        StopDdeService();
        DestroyWindow(QueueList);
        QueueList = nullptr;
        DestroyWindow(window);
    }

    HSZ Handle(const char* text) {
        HSZ handle = DdeCreateStringHandleA(DdeInstance, text, CP_WINANSI);
        handles_.push_back(handle);
        return handle;
    }
    HDDEDATA Data(const std::string& bytes) {
        return DdeCreateDataHandle(DdeInstance,
                                   reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data())),
                                   static_cast<DWORD>(bytes.size()), 0, nullptr, CF_TEXT, 0);
    }
    std::string Bytes(HDDEDATA data) {
        if (data == nullptr)
            return "<no data>";
        DWORD size = DdeGetData(data, nullptr, 0, 0);
        std::string bytes(size, '\0');
        DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), size, 0);
        DdeFreeDataHandle(data);
        return bytes;
    }
    HDDEDATA Call(UINT type, const char* topic, const char* item, HDDEDATA data = nullptr,
                  UINT format = CF_TEXT, const CONVCONTEXT* context = nullptr) {
        return DdeCallback(type, format, nullptr, topic ? Handle(topic) : nullptr,
                           item ? Handle(item) : nullptr, data,
                           reinterpret_cast<ULONG_PTR>(context), 0);
    }
    bool UploadCommandPosted() {
        MSG message;
        bool posted = false;
        while (PeekMessageA(&message, window, WM_COMMAND, WM_COMMAND, PM_REMOVE))
            posted = posted || message.wParam == static_cast<WPARAM>(UploadCommandId);
        return posted;
    }

    PlatformOverride platform;
    QueueFiles files{"dde"};
    HWND window = nullptr;

  private:
    std::vector<HSZ> handles_;
};

const HDDEDATA Fack = reinterpret_cast<HDDEDATA>(DDE_FACK);

// How many rows the list held when it last painted itself, watched from inside its window
// procedure.
WNDPROC listProcedure = nullptr;
LRESULT rowsAtLastPaint = -1;

LRESULT CALLBACK WatchPaints(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT)
        rowsAtLastPaint = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    return CallWindowProcA(listProcedure, list, message, wParam, lParam);
}

} // namespace

TEST_F(DdeServiceTest, DescriptiveItemsAnswerWithTabSeparatedNames) {
    EXPECT_EQ(Bytes(Call(XTYP_REQUEST, "System", "Topics")), std::string("System\tUpload\0", 14));
    EXPECT_EQ(Bytes(Call(XTYP_REQUEST, "System", "SysItems")),
              std::string("Topics\tSysItems\tFormats\tHelp\0", 29));
    EXPECT_EQ(Bytes(Call(XTYP_ADVREQ, "upload", "sysitems")),
              std::string("Filename\tSysItems\tLoginData\tExitCondition\0", 42));
    EXPECT_EQ(Bytes(Call(XTYP_REQUEST, "System", "Formats")), std::string("CF_TEXT\0", 8));
    // The help text byte for byte, in code page 932 like every literal here.
    const char help[] =
        "DDEML Vistora Uploader help:\r\n\n"
        "'VistoraUploadServer' の構成内容\r\n\n"
        "topicとしては、'Upload' と 'System' が有効です。\r\n"
        "'Upload' のitemは、'Filename' があります。\r\n"
        "Upload/Filenameに対して、POKEでファイル(フルパス)をセットしてください。\r\n"
        "ファイルが一個ListViewに増えます。\r\n"
        "'System'に対して、EXECが有効です。\r\n"
        "コマンドには、'upload'があります。\r\n"
        "uploadを開始します。すでにアップロードが開始していたら無視されます。\r\n";
    EXPECT_EQ(Bytes(Call(XTYP_REQUEST, "System", "Help")), std::string(help, sizeof help));
    EXPECT_EQ(Call(XTYP_ADVSTART, "System", "Help"), reinterpret_cast<HDDEDATA>(TRUE));
}

TEST_F(DdeServiceTest, UnknownTopicItemOrFormatGetsNothing) {
    EXPECT_EQ(Call(XTYP_REQUEST, "Nothing", "Topics"), nullptr);
    EXPECT_EQ(Call(XTYP_REQUEST, "System", "Filename"), nullptr);
    EXPECT_EQ(Call(XTYP_REQUEST, "System", "Topics", nullptr, CF_BITMAP), nullptr);
    EXPECT_EQ(Call(XTYP_CONNECT, "Nothing", "VistoraUploadServer"), nullptr);
    EXPECT_EQ(Call(XTYP_CONNECT, "upload", "VistoraUploadServer"),
              reinterpret_cast<HDDEDATA>(TRUE));
}

TEST_F(DdeServiceTest, UploadExecuteOnlyOnSystemAndOnlyForTheWordUpload) {
    EXPECT_EQ(Call(XTYP_EXECUTE, "Upload", nullptr, Data(std::string("upload", 7)), 0), nullptr);
    EXPECT_FALSE(UploadCommandPosted());

    EXPECT_EQ(Call(XTYP_EXECUTE, "System", nullptr, Data(std::string("upload", 7)), 0), Fack);
    EXPECT_TRUE(UploadCommandPosted());
    // An empty command must not find the previous one in the buffer.
    EXPECT_EQ(Call(XTYP_EXECUTE, "System", nullptr, Data(std::string()), 0), Fack);
    EXPECT_FALSE(UploadCommandPosted());
    EXPECT_EQ(Call(XTYP_EXECUTE, "System", nullptr, Data("upload all of them"), 0), Fack);
    EXPECT_TRUE(UploadCommandPosted());
    for (const char* other : {"Upload", "[upload]", "uplo", "UPLOAD"}) {
        EXPECT_EQ(Call(XTYP_EXECUTE, "System", nullptr, Data(other), 0), Fack);
        EXPECT_FALSE(UploadCommandPosted()) << other;
    }
    EXPECT_EQ(Call(XTYP_EXECUTE, "System", nullptr, Data(std::string(100, 'u')), 0), Fack);
    EXPECT_FALSE(UploadCommandPosted());
}

TEST_F(DdeServiceTest, WildConnectOffersTheTopicsOrTheOneAskedFor) {
    auto pairs = [this](HDDEDATA data) {
        std::string bytes = Bytes(data);
        std::vector<HSZPAIR> list(bytes.size() / sizeof(HSZPAIR));
        std::memcpy(list.data(), bytes.data(), list.size() * sizeof(HSZPAIR));
        return list;
    };
    std::vector<HSZPAIR> all = pairs(Call(XTYP_WILDCONNECT, nullptr, "VistoraUploadServer"));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].hszTopic, DdeTopics[SystemTopicIndex].handle);
    EXPECT_EQ(all[1].hszTopic, DdeTopics[UploadTopicIndex].handle);
    EXPECT_EQ(all[0].hszSvc, ServiceName);
    EXPECT_EQ(all[2].hszSvc, nullptr);
    EXPECT_EQ(all[2].hszTopic, nullptr);
    EXPECT_EQ(pairs(Call(XTYP_WILDCONNECT, nullptr, nullptr)).size(), 3u);

    std::vector<HSZPAIR> one = pairs(Call(XTYP_WILDCONNECT, "upload", nullptr));
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(DdeCmpStringHandles(one[0].hszTopic, DdeTopics[UploadTopicIndex].handle), 0);
    // A named topic is answered with its own pair; the connect that follows decides.
    std::vector<HSZPAIR> named = pairs(Call(XTYP_WILDCONNECT, "Printing", nullptr));
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[0].hszSvc, ServiceName);
    EXPECT_EQ(named[0].hszTopic, Handle("Printing"));
    EXPECT_EQ(Call(XTYP_CONNECT, "Printing", nullptr), nullptr);

    EXPECT_EQ(Call(XTYP_WILDCONNECT, nullptr, "SomeOtherServer"), nullptr);
    CONVCONTEXT wrongCodePage = ServiceContext;
    wrongCodePage.iCodePage = 932;
    EXPECT_EQ(Call(XTYP_WILDCONNECT, nullptr, nullptr, nullptr, CF_TEXT, &wrongCodePage), nullptr);
}

TEST_F(DdeServiceTest, LoginDataPokeStagesFourTokens) {
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "LoginData", Data("http://h/l\thttp://h/u\tme@x.jp\tpw\n")),
              Fack);
    EXPECT_EQ(LoginDataPending, 1);
    EXPECT_STREQ(StagedLoginData.LoginUrl, "http://h/l");
    EXPECT_STREQ(StagedLoginData.UploadUrl, "http://h/u");
    EXPECT_STREQ(StagedLoginData.LoginName, "me@x.jp");
    EXPECT_STREQ(StagedLoginData.Password, "pw");
}

TEST_F(DdeServiceTest, LoginDataPokeWithAnEmptyFieldIsNotProcessedButStagesWhatItCarried) {
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "LoginData", Data("http://h/l\thttp://h/u\t\tpw")),
              reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED));
    EXPECT_EQ(LoginDataPending, 0);
    EXPECT_STREQ(StagedLoginData.LoginUrl, "http://h/l");
    EXPECT_STREQ(StagedLoginData.LoginName, "pw");
    EXPECT_STREQ(StagedLoginData.Password, "");
}

TEST_F(DdeServiceTest, LoginDataPokeWithATokenLongerThanItsFieldIsRefusedWhole) {
    CopyText(StagedLoginData.LoginUrl, "http://h/old");
    const std::string url519 = "http://h/" + std::string(510, 'a');
    const std::string name260(260, 'n');
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "LoginData", Data(url519 + "\tu\t" + name260 + "\tpw")),
              reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED));
    EXPECT_EQ(LoginDataPending, 0);
    EXPECT_STREQ(StagedLoginData.LoginUrl, "http://h/old");
    EXPECT_STREQ(StagedLoginData.LoginName, "");

    const std::string name259(259, 'n');
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "LoginData", Data(url519 + "\tu\t" + name259 + "\tpw")),
              Fack);
    EXPECT_EQ(std::string(StagedLoginData.LoginUrl), url519);
    EXPECT_EQ(std::string(StagedLoginData.LoginName), name259);
}

TEST_F(DdeServiceTest, LoginDataAndExitConditionAnswerTheWholeTextHoweverLong) {
    const SettingsRecord saved = Settings;
    std::memset(Settings.LoginUrl, 'l', sizeof Settings.LoginUrl - 1);
    std::memset(Settings.UploadUrl, 'u', sizeof Settings.UploadUrl - 1);
    std::memset(Settings.LoginName, 'n', sizeof Settings.LoginName - 1);
    std::memset(Settings.Password, 'p', sizeof Settings.Password - 1);
    const std::string expected = std::string(519, 'l') + "\t" + std::string(519, 'u') + "\t" +
                                 std::string(259, 'n') + "\t" + std::string(259, 'p');
    EXPECT_EQ(Bytes(Call(XTYP_REQUEST, "Upload", "LoginData")), expected);
    EXPECT_EQ(Bytes(Call(XTYP_REQUEST, "Upload", "ExitCondition")), expected);
    Settings = saved;
}

TEST_F(DdeServiceTest, FilenamePokeQueuesOnlyNamesOfOneFileInTempWhosePathFits) {
    const HDDEDATA refused = reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
    // The longest name whose path, the program's folder and "temp\\" before it, fits the
    // 260-byte buffer the queue resolves rows into.
    const std::string longest(NameSize - 1 - std::strlen(ModuleDirectory) - 5, 'a');
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data(longest)), Fack);
    EXPECT_EQ(QueueCell(QueueList, 0, 1), longest);
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data(longest + "a")), refused);
    // Only 259 bytes of a longer poke would be kept, and they never fit.
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data(std::string(300, 'a'))), refused);
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data("sub\\a.jpg")), Fack);
    for (const std::string& name : {std::string("", 1), std::string("\\"), std::string("sub\\"),
                                    std::string("*"), std::string("a?.jpg")})
        EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data(name)), refused) << name;
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data(std::string())), refused);
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data("..\\Vistora.ini")), refused);
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data("com1")), refused);
    EXPECT_EQ(SendMessageA(QueueList, LVM_GETITEMCOUNT, 0, 0), 2);

    // Without the program's folder, "temp\\a.jpg" would be wherever the current directory is.
    const std::string folder = ModuleDirectory;
    ModuleDirectory[0] = '\0';
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data("a.jpg")), refused);
    CopyText(ModuleDirectory, folder.c_str());
    EXPECT_EQ(SendMessageA(QueueList, LVM_GETITEMCOUNT, 0, 0), 2);
}

TEST_F(DdeServiceTest, ABurstOfFilenamePokesShowsEveryRowInOrder) {
    ShowWindow(QueueList, SW_SHOWNOACTIVATE);
    UpdateWindow(QueueList);
    listProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(QueueList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchPaints)));
    rowsAtLastPaint = -1;
    // As a host pokes a folder's names: one after another, nothing dispatched between them.
    const int burst = 40;
    for (int i = 0; i < burst; ++i)
        EXPECT_EQ(Call(XTYP_POKE, "Upload", "Filename", Data("p" + std::to_string(i) + ".jpg")),
                  Fack);
    // A paint held off while the rows came must be let go: the list paints itself with all
    // of them once the burst is over.
    const bool shown = WaitUntil([] {
        DrainMessages();
        return rowsAtLastPaint == burst;
    });
    EXPECT_TRUE(shown) << "the list last painted with " << rowsAtLastPaint << " rows";
    ASSERT_EQ(SendMessageA(QueueList, LVM_GETITEMCOUNT, 0, 0), burst);
    for (int i = 0; i < burst; ++i)
        EXPECT_EQ(QueueCell(QueueList, i, 1), "p" + std::to_string(i) + ".jpg");
    SetWindowLongPtrA(QueueList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProcedure));
}

TEST_F(DdeServiceTest, ExitConditionPokeIsAcknowledgedAndIgnored) {
    const SettingsRecord before = Settings;
    EXPECT_EQ(Call(XTYP_POKE, "Upload", "ExitCondition", Data("anything")), Fack);
    EXPECT_EQ(std::memcmp(&before, &Settings, sizeof Settings), 0);
    EXPECT_EQ(Call(XTYP_POKE, "System", "Topics", Data("x")),
              reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED));
}
