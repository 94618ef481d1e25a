#include "app/app_state.h"
#include "app/main_window.h"
#include "app/session_controller.h"
#include "http/status_callback.h"
#include "queue/upload_queue.h"
#include "resources/resource_ids.h"
#include "support/debug_output_capture.h"
#include "support/dialog_answerer.h"
#include "support/main_window_fixture.h"
#include "upload/upload_job.h"

#include <commctrl.h>

#include <string>
#include <thread>

namespace {

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

struct Column {
    std::string heading;
    int width;
    int format;
    int subItem;
    bool exists;
};

Column ColumnAt(HWND list, int index) {
    char heading[64] = {};
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.pszText = heading;
    column.cchTextMax = sizeof heading;
    bool exists = SendMessageA(list, LVM_GETCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
    return {heading, column.cx, column.fmt & LVCFMT_JUSTIFYMASK, column.iSubItem, exists};
}

void ExpectPlaced(HWND control, int x, int y, int width, int height) {
    RECT r = ChildRect(control);
    EXPECT_EQ(r.left, x);
    EXPECT_EQ(r.top, y);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);
}

using MainWindowTest = MainWindowFixture;

// PBM_GETBARCOLOR, declared by the headers only for newer Windows versions.
constexpr UINT ProgressGetBarColour = WM_USER + 15;

} // namespace

TEST_F(MainWindowTest, CreatesTheSixControlsWithTheirClassesIdsAndTexts) {
    struct Expected {
        HWND control;
        const char* className;
        int id;
        DWORD style;
        const char* text;
    };
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const Expected expected[] = {
        {Backdrop, "Static", 1002, child, ""},
        {StatusLabel, "Static", 1004, child, "未ログイン"},
        {OverallBar, "msctls_progress32", 1005, child | PBS_SMOOTH, ""},
        {TransferBar, "msctls_progress32", 1003, child | PBS_SMOOTH, ""},
        {QueueList, "SysListView32", 1003, child | LVS_REPORT, ""},
        {UploadButton, "Button", 1001, child, "アップロード"},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.className);
        ASSERT_NE(e.control, nullptr);
        EXPECT_EQ(GetParent(e.control), window);
        EXPECT_STRCASEEQ(ClassOf(e.control).c_str(), e.className);
        EXPECT_EQ(GetDlgCtrlID(e.control), e.id);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(e.control, GWL_STYLE)) & e.style, e.style);
        EXPECT_EQ(TextOf(e.control), e.text);
    }
    EXPECT_TRUE(IsWindowEnabled(UploadButton));
}

TEST_F(MainWindowTest, ListShowsStatusAndFileNameColumns) {
    Column status = ColumnAt(QueueList, 0);
    ASSERT_TRUE(status.exists);
    EXPECT_EQ(status.heading, "状態");
    EXPECT_EQ(status.width, 60);
    EXPECT_EQ(status.subItem, 0);

    Column name = ColumnAt(QueueList, 1);
    ASSERT_TRUE(name.exists);
    EXPECT_EQ(name.heading, "ファイル名");
    EXPECT_EQ(name.width, 280);
    EXPECT_EQ(name.format, LVCFMT_LEFT);
    EXPECT_EQ(name.subItem, 1);

    EXPECT_FALSE(ColumnAt(QueueList, 2).exists);
}

TEST_F(MainWindowTest, ResizingLaysTheControlsOutAndPaintsTheOverallBarGreen) {
    for (SIZE size : {SIZE{400, 300}, SIZE{640, 480}, SIZE{250, 120}}) {
        SCOPED_TRACE(size.cx);
        SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        RECT client;
        GetClientRect(window, &client);
        const int w = client.right;
        const int h = client.bottom;
        const int m = GetSystemMetrics(SM_CYMENUSIZE);
        ExpectPlaced(Backdrop, 0, 0, w, h);
        ExpectPlaced(StatusLabel, 0, 0, 100, m);
        ExpectPlaced(TransferBar, 100, 0, 200, m / 2);
        ExpectPlaced(OverallBar, 100, m / 2, 200, m / 2);
        ExpectPlaced(QueueList, 0, m, w, h - m);
        ExpectPlaced(UploadButton, 0, h - m, 0, 0);
    }
    EXPECT_EQ(SendMessageA(OverallBar, ProgressGetBarColour, 0, 0), 0x0000FF00);
}

namespace {

// The height of the font a control draws with (a static without one of its own draws with
// the system font).
int FontHeight(HWND control) {
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW logical = {};
    GetObjectW(font != nullptr ? font : GetStockObject(SYSTEM_FONT), sizeof logical, &logical);
    return logical.lfHeight < 0 ? -logical.lfHeight : logical.lfHeight;
}

struct Look {
    RECT label, transfer, overall;
    int statusColumn, nameColumn, labelFont, listFont;
};

Look LookOfTheControls() {
    return {ChildRect(StatusLabel),
            ChildRect(TransferBar),
            ChildRect(OverallBar),
            static_cast<int>(SendMessageW(QueueList, LVM_GETCOLUMNWIDTH, 0, 0)),
            static_cast<int>(SendMessageW(QueueList, LVM_GETCOLUMNWIDTH, 1, 0)),
            FontHeight(StatusLabel),
            FontHeight(QueueList)};
}

void ExpectHalfAgainAsLarge(const RECT& scaled, const RECT& design) {
    EXPECT_NEAR(scaled.left, design.left * 3 / 2.0, 1);
    EXPECT_NEAR(scaled.top, design.top * 3 / 2.0, 1);
    EXPECT_NEAR(scaled.right, design.right * 3 / 2.0, 1);
    EXPECT_NEAR(scaled.bottom, design.bottom * 3 / 2.0, 1);
}

} // namespace

// Wine gives every window the display's DPI and never sends WM_DPICHANGED, so the move to a
// monitor at 150 % and back is told to the window as Windows would tell it.
TEST_F(MainWindowTest, AMoveToAMonitorAtAnotherScaleLaysTheWindowOutAtIt) {
    const Look design = LookOfTheControls();
    RECT before;
    GetWindowRect(window, &before);

    RECT suggested = {30, 40, 30 + 598, 40 + 448};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT moved;
    GetWindowRect(window, &moved);
    EXPECT_TRUE(EqualRect(&moved, &suggested));
    const Look scaled = LookOfTheControls();
    ExpectHalfAgainAsLarge(scaled.label, design.label);
    ExpectHalfAgainAsLarge(scaled.transfer, design.transfer);
    ExpectHalfAgainAsLarge(scaled.overall, design.overall);
    EXPECT_EQ(scaled.statusColumn, design.statusColumn * 3 / 2);
    EXPECT_EQ(scaled.nameColumn, design.nameColumn * 3 / 2);
    EXPECT_NEAR(scaled.labelFont, design.labelFont * 3 / 2.0, 1);
    EXPECT_NEAR(scaled.listFont, design.listFont * 3 / 2.0, 1);
    RECT client;
    GetClientRect(window, &client);
    ExpectPlaced(QueueList, 0, scaled.label.bottom, client.right,
                 client.bottom - scaled.label.bottom);

    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&before));
    const Look back = LookOfTheControls();
    EXPECT_TRUE(EqualRect(&back.label, &design.label));
    EXPECT_TRUE(EqualRect(&back.transfer, &design.transfer));
    EXPECT_TRUE(EqualRect(&back.overall, &design.overall));
    EXPECT_EQ(back.statusColumn, design.statusColumn);
    EXPECT_EQ(back.nameColumn, design.nameColumn);
    EXPECT_EQ(back.labelFont, design.labelFont);
    EXPECT_EQ(back.listFont, design.listFont);
}

TEST_F(MainWindowTest, AWindowLowerThanTheMenuStillGetsAZeroSizedButton) {
    const int menu = GetSystemMetrics(SM_CYMENUSIZE);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(150, menu / 3));
    RECT button = ChildRect(UploadButton);
    EXPECT_EQ(button.right - button.left, 0);
    EXPECT_EQ(button.bottom - button.top, 0);
    EXPECT_EQ(button.top, menu / 3 - menu);
}

TEST_F(MainWindowTest, ClosingWithAnEmptyListDestroysWithoutAsking) {
    DialogAnswerer answerer("注意", IDNO);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(answerer.Answered());
}

TEST_F(MainWindowTest, ClosingWithOnlyFinishedRowsDestroysWithoutAsking) {
    AddFile(QueueList, "a.jpg");
    SetStatus(QueueList, 0, Done);
    DialogAnswerer answerer("注意", IDNO);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(answerer.Answered());
}

TEST_F(MainWindowTest, ClosingWithAWaitingRowAsksAndNoKeepsTheWindow) {
    AddFile(QueueList, "a.jpg");
    {
        DialogAnswerer answerer("注意", IDNO);
        SendMessageA(window, WM_CLOSE, 0, 0);
        ASSERT_TRUE(answerer.Answered());
        EXPECT_EQ(answerer.Text(), "まだ待機ファイルが残っています。アップロードを中断しますか？");
    }
    EXPECT_TRUE(IsWindow(window));
    DialogAnswerer answerer("注意", IDYES);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(answerer.Answered());
    EXPECT_FALSE(IsWindow(window));
}

// A close that comes while the question is open (the host's, say) is not answered by the
// user's "いいえ" to it: the question comes again once its box has gone. Also when the
// question stands answered under the About box the user opened meanwhile from the still
// enabled window, whose loop runs inside the question's and holds its answer back.
TEST_F(MainWindowTest, ACloseWhileTheQuestionIsOpenIsAskedOnceItsBoxHasGone) {
    for (bool underAbout : {false, true}) {
        SCOPED_TRACE(underAbout);
        if (!IsWindow(window))
            SetUp();
        AddFile(QueueList, "a.jpg");
        bool askedAgain = false;
        std::thread user([&] {
            HWND question = WaitForDialog("注意");
            if (question == nullptr)
                return;
            HWND about = nullptr;
            if (underAbout) {
                PostMessageA(window, WM_COMMAND, IDM_ABOUT, 0);
                about = WaitForDialog("About");
                PressDialogButton(question, IDNO);
            }
            PostMessageA(window, WM_CLOSE, 0, 0);
            Sleep(300);
            if (about != nullptr)
                PressDialogButton(about, IDOK);
            else
                PressDialogButton(question, IDNO);
            // The next visible question is a new one, or the same box shown again.
            WaitUntil([&] { return !IsWindowVisible(question) || !IsWindow(question); });
            HWND again = WaitForDialog("注意", 0, 5000);
            askedAgain = again != nullptr;
            if (again != nullptr)
                PressDialogButton(again, IDYES);
        });
        SendMessageA(window, WM_CLOSE, 0, 0);
        user.join();
        EXPECT_TRUE(askedAgain);
        EXPECT_FALSE(IsWindow(window));
        DrainMessages();
    }
}

TEST_F(MainWindowTest, ClosingWhileARowUploadsAsksEvenWithoutWaitingRows) {
    AddFile(QueueList, "a.jpg");
    SetStatus(QueueList, 0, Uploading);
    DialogAnswerer answerer("注意", IDNO);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(answerer.Answered());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(MainWindowTest, ExitCommandDestroysAtOnceWithoutTheQuestion) {
    AddFile(QueueList, "a.jpg");
    DialogAnswerer answerer("注意", IDNO);
    SendMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(answerer.Answered());
}

TEST_F(MainWindowTest, DestroyingPostsTheQuitMessageAfterItsPause) {
    DWORD start = GetTickCount();
    DestroyWindow(window);
    EXPECT_GE(GetTickCount() - start, 900u);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
}

TEST_F(MainWindowTest, DestroyingBarsTheUploadsRequestBeforeItsTeardownWaits) {
    // After ten failures in a row the upload's teardown shows its alert where it would
    // otherwise pause, still before it stops the job: there the job, not yet stopped,
    // tries to hand a request to WinINet.
    constexpr char NobodyServes[] = "http://127.0.0.1:9/u";
    auto* job = new UploadJob();
    job->Configure(NobodyServes, "/u", "me@example.jp", "token", "a.jpg");
    CurrentUploadJob = job;
    FailureCount = FailureLimit;
    DebugOutputCapture capture;
    int stopSeen = -1;
    std::thread watcher([&] {
        HWND alert = WaitForDialog("警告");
        if (alert == nullptr)
            return;
        stopSeen = job->StopRequested;
        const auto context = reinterpret_cast<DWORD_PTR>(job);
        if (job->Open(NobodyServes, StatusCallback<UploadJob>, context, nullptr, nullptr,
                      JobUserAgent)) {
            job->AddFormField("note", "x", false);
            job->SendRequest(context, "/u", RequestKind::FormRequest, nullptr);
        }
        PressDialogButton(alert, IDOK);
    });
    DestroyWindow(window);
    watcher.join();
    FailureCount = 0;
    EXPECT_EQ(stopSeen, 0);
    EXPECT_TRUE(capture.Contains("SendRequest: not sent"));
    EXPECT_EQ(CurrentUploadJob, nullptr);
}

TEST_F(MainWindowTest, AboutCommandRunsTheAboutBoxModally) {
    DialogAnswerer answerer("About", IDOK);
    SendMessageA(window, WM_COMMAND, IDM_ABOUT, 0);
    EXPECT_TRUE(answerer.Answered());
    EXPECT_TRUE(IsWindow(window));
}
