// The main window: its procedure, then one handler per message, top to bottom.
#include "app/main_window.h"

#include "app/app_state.h"
#include "app/job_teardowns.h"
#include "app/scaled_layout.h"
#include "app/session_controller.h"
#include "app/window_dpi.h"
#include "dde/dde_service.h"
#include "login/login_job.h"
#include "queue/queue_paint.h"
#include "queue/queue_snapshot.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "upload/upload_job.h"
#include "util/wide_text.h"
#include "util/win_handles.h"

#include <commctrl.h>

#include <string>
#include <utility>

namespace {

constexpr COLORREF OverallBarColour = 0x0000FF00;
// WM_DESTROY's pause after the jobs' teardowns, before the quit message: a job that a
// teardown had to set aside (WinINet still held its request) gets a last second for its
// closing notifications before the process, and WinINet with it, goes away.
constexpr DWORD DestroyPause = 1000;

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window, lParam);
    case WM_SIZE:
        OnSize(window, wParam, lParam);
        return 0;
    case WM_CLOSE:
        OnClose(window);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam), HIWORD(wParam), lParam);
    case WM_LOGIN_DONE:
        OnLoginDone(window, wParam);
        return 0;
    case WM_UPLOAD_DONE:
        OnUploadDone(window, wParam, static_cast<int>(lParam));
        return 0;
    case WM_RUN_STEP:
        OnRunStep(window);
        return 0;
    case WM_TIMER:
        OnTimer(window, wParam);
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(window, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_NCDESTROY:
        OnNcDestroy(window);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
        OnMenuLoop(window, message == WM_ENTERMENULOOP);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// --- WM_CREATE ----------------------------------------------------------------------

namespace {

// The scale the controls are laid out at: the window's DPI, from its creation on, then as
// WM_DPICHANGED tells it.
UINT layoutDpi = DesignDpi;

// The label's and the list's fonts for dpi (WM_DPICHANGED's section below).
void UseFontsFor(UINT dpi);

// Positions and sizes of the 96-DPI design at the window's scale.
int Scaled(int designPixels) {
    return ScaleToDpi(designPixels, static_cast<int>(layoutDpi));
}

HWND CreateChild(HWND parent, HINSTANCE instance, const wchar_t* className, int id, DWORD style,
                 int x, int y, int width, int height, const char* text) {
    return CreateWindowExW(0, className, WideText(text).c_str(), style, Scaled(x), Scaled(y),
                           Scaled(width), Scaled(height), parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

void InsertColumn(HWND list, int index, const char* heading, int width, int format, int subItem) {
    const std::wstring text = WideText(heading);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = Scaled(width);
    column.pszText = const_cast<wchar_t*>(text.c_str());
    column.iSubItem = subItem;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

void CreateControls(HWND window, HINSTANCE instance) {
    Backdrop = StatusLabel = OverallBar = TransferBar = QueueList = UploadButton = nullptr;

    const DWORD visibleChild = WS_CHILD | WS_VISIBLE;
    Backdrop = CreateChild(window, instance, L"STATIC", 1002, visibleChild, 0, 0, 80, 30, "");
    StatusLabel =
        CreateChild(window, instance, L"STATIC", 1004, visibleChild, 0, 0, 40, 30, "未ログイン");
    OverallBar = CreateChild(window, instance, PROGRESS_CLASSW, 1005, visibleChild | PBS_SMOOTH, 40,
                             0, 300, 30, "");
    TransferBar = CreateChild(window, instance, PROGRESS_CLASSW, 1003, visibleChild | PBS_SMOOTH,
                              40, 15, 300, 30, "");
    // Shares the id 1003 with TransferBar; nothing looks a control up by id.
    QueueList = CreateChild(window, instance, WC_LISTVIEWW, 1003, visibleChild | LVS_REPORT, 0, 0,
                            100, 100, "");
    InsertColumn(QueueList, 0, "状態", StatusColumnDesignWidth, LVCFMT_CENTER, 0);
    InsertColumn(QueueList, 2, "ファイル名", NameColumnDesignWidth, LVCFMT_LEFT, 1);
    UploadButton = CreateChild(window, instance, L"BUTTON", UploadCommandId, visibleChild, 100, 20,
                               100, 30, "アップロード");
}

} // namespace

LRESULT OnCreate(HWND window, LPARAM lParam) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    layoutDpi = DpiOfWindow(window);
    CreateControls(window, creation->hInstance);
    UseFontsFor(layoutDpi);
    DefWindowProcW(window, WM_CREATE, 0, lParam);
    LoadSettings();
    LoginDataPending = 0;
    LoggedIn = 0;
    if (!StartDdeService(window, QueueList)) {
        ShowAlert("DDEの初期化に失敗しました。");
        return -1;
    }
    return 0;
}

// --- WM_SIZE ------------------------------------------------------------------------

namespace {

void Place(HWND control, const Placement& placement) {
    MoveWindow(control, placement.x, placement.y, placement.width, placement.height, TRUE);
}

void LayOutControls(int width, int height) {
    const int dpi = static_cast<int>(layoutDpi);
    const MainLayout layout = LayOutMainWindow(width, height, MenuHeightAt(layoutDpi), dpi);
    Place(Backdrop, layout.backdrop);
    Place(StatusLabel, layout.statusLabel);
    Place(TransferBar, layout.transferBar);
    Place(OverallBar, layout.overallBar);
    SendMessageW(OverallBar, PBM_SETBARCOLOR, 0, OverallBarColour);
    // A window lower than the row gives the list a negative height; MoveWindow takes it.
    Place(QueueList, layout.queueList);
    Place(UploadButton, layout.uploadButton);
}

} // namespace

void OnSize(HWND window, WPARAM wParam, LPARAM lParam) {
    const int width = static_cast<short>(LOWORD(lParam));
    const int height = static_cast<short>(HIWORD(lParam));
    DefWindowProcW(window, WM_SIZE, wParam, MAKELPARAM(width, height));
    LayOutControls(width, height);
}

// --- WM_DPICHANGED, WM_NCDESTROY ----------------------------------------------------

namespace {

// Fonts made for the window's scale where the controls' own would not fit it. The list's
// own (the icon title font) is made for the system's scale. The label's (the system font)
// is too, but with the width its glyphs have at 100 %, which squeezes them at any other
// scale (Wine keeps 8 pixels at 150 %): it is right only on a system at 100 %.
UniqueFont labelFont;
UniqueFont listFont;

// Keeps the widths the user may have given the columns, at the new scale.
void ScaleColumns(UINT from, UINT to) {
    for (int column = 0; column < 2; ++column) {
        const int width = static_cast<int>(SendMessageW(QueueList, LVM_GETCOLUMNWIDTH, column, 0));
        SendMessageW(QueueList, LVM_SETCOLUMNWIDTH, column,
                     MulDiv(width, static_cast<int>(to), static_cast<int>(from)));
    }
}

void UseFontsFor(UINT dpi) {
    UniqueFont label, list;
    if (dpi != DesignDpi || SystemDpi() != DesignDpi)
        label.Reset(CreateSystemFontAt(dpi));
    if (dpi != SystemDpi())
        list.Reset(CreateIconTitleFontAt(dpi));
    // Nothing to make and nothing made before: the start at 100 %.
    if (!label && !list && !labelFont && !listFont)
        return;
    // A null font gives each control its default back; the old ones go once replaced.
    SendMessageW(StatusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(label.Get()), TRUE);
    SendMessageW(QueueList, WM_SETFONT, reinterpret_cast<WPARAM>(list.Get()), TRUE);
    labelFont = std::move(label);
    listFont = std::move(list);
}

} // namespace

void OnDpiChanged(HWND window, UINT dpi, const RECT& suggested) {
    if (dpi != 0 && dpi != layoutDpi) {
        ScaleColumns(layoutDpi, dpi);
        layoutDpi = dpi;
        UseFontsFor(dpi);
    }
    // Windows suggests the place and size at the new scale; a size that stays the same
    // brings no WM_SIZE, so the controls are laid out here in any case.
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client = {};
    GetClientRect(window, &client);
    LayOutControls(client.right, client.bottom);
}

void OnNcDestroy(HWND) {
    labelFont.Reset();
    listFont.Reset();
}

// --- WM_CLOSE -----------------------------------------------------------------------

namespace {

bool RunStillHasWork() {
    QueueSnapshot snapshot(QueueList);
    snapshot.Collect();
    return !snapshot.waiting.empty() || snapshot.firstUploading != -1;
}

constexpr char CloseQuestionCaption[] = "注意";
// The question has no owner, so the window stays enabled behind it and a second close
// reaches it while it is open. Asked again, the second question would run inside the
// first one's loop, and the first answer could take effect only once the second was given.
bool closeQuestionOpen = false;
// A close (the host's, say) that came while the question was open: remembered, and asked
// once the question's box has gone. The question may stand answered and still not have
// returned, under another box opened meanwhile from the still enabled window (the About
// box), whose loop runs inside the question's: the answer given did not cover it.
bool closeAfterAnswer = false;

// The open question is this thread's visible box with the question's caption; one answered
// a moment ago may linger hidden. False when none is visible: it has been answered.
bool BringCloseQuestionForward() {
    HWND box = nullptr;
    const std::wstring caption = WideText(CloseQuestionCaption);
    while ((box = FindWindowExW(nullptr, box, L"#32770", caption.c_str())) != nullptr) {
        if (GetWindowThreadProcessId(box, nullptr) == GetCurrentThreadId() &&
            IsWindowVisible(box)) {
            SetForegroundWindow(box);
            return true;
        }
    }
    return false;
}

int AskWhetherToStop() {
    closeQuestionOpen = true;
    const int answer = MessageBoxW(
        nullptr, WideText("まだ待機ファイルが残っています。アップロードを中断しますか？").c_str(),
        WideText(CloseQuestionCaption).c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    closeQuestionOpen = false;
    return answer;
}

} // namespace

bool CloseQuestionOpen() {
    return closeQuestionOpen;
}

void OnClose(HWND window) {
    if (closeQuestionOpen) {
        closeAfterAnswer = true;
        if (BringCloseQuestionForward())
            OutputDebugStringA("close question already open\n");
        else
            OutputDebugStringA("close remembered: the question was answered meanwhile\n");
        return;
    }
    // A close remembered while the question's answer was held up is asked once its box
    // has gone: after "はい" the window goes, after "いいえ" the question comes again.
    do {
        closeAfterAnswer = false;
        if (!RunStillHasWork() || AskWhetherToStop() == IDYES) {
            DestroyWindow(window);
            break;
        }
    } while (closeAfterAnswer && IsWindow(window));
    closeAfterAnswer = false;
    // After "いいえ" the run takes the step it held back while the question was open; after
    // "はい" the window is gone, and the step with it.
    ResumeHeldStep(window);
}

// --- WM_ENTERMENULOOP, WM_EXITMENULOOP ----------------------------------------------

void OnMenuLoop(HWND window, bool entering) {
    // The held step goes behind the command the menu posts, so that 終了 ends the run
    // before it starts anything. A step held for another reason (the close question) is
    // held again when its timer finds that reason still there.
    if (!entering)
        ResumeHeldStepLater(window);
}

bool MenuOpen() {
    // Asked of the thread's own state, not kept from WM_ENTERMENULOOP: any program can post
    // that message with no menu behind it, and a flag it set would hold every later step.
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    return GetGUIThreadInfo(GetCurrentThreadId(), &thread) &&
           (thread.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE)) != 0;
}

// --- WM_TIMER -----------------------------------------------------------------------

void OnTimer(HWND window, UINT_PTR id) {
    if (id == RunStepTimer)
        OnRunStepTimer(window);
}

// --- WM_DESTROY ---------------------------------------------------------------------

namespace {

// The window goes when the user quits or the run has ended: from here on no job may send
// a request, and a body whose end has not gone to WinINet is given up (never arrives
// whole). The teardowns below stop their jobs only after pauses of their own (the upload's
// after FinishLogin's and its first), time enough for a job that has not yet handed its
// request to WinINet to do so; told now, it never does. A request already sent is still
// awaited in those pauses: stopped at once, its job would leave it open, and the teardown
// would wait the longer for WinINet to let go of it.
void RefuseNewRequests() {
    if (CurrentLoginJob != nullptr)
        CurrentLoginJob->RefuseNewRequests();
    if (CurrentUploadJob != nullptr)
        CurrentUploadJob->RefuseNewRequests();
}

} // namespace

void OnDestroy(HWND) {
    DropRunSteps();
    RefuseNewRequests();
    StopDdeService();
    DropQueuePaintHold(QueueList);
    FinishLogin();
    FinishUpload(Interrupted);
    Sleep(DestroyPause);
    PostQuitMessage(0);
}

// --- WM_COMMAND ---------------------------------------------------------------------

void StartUploadRun(HWND window) {
    // The disabled button is the mark of a run in progress.
    if (!IsWindowEnabled(UploadButton))
        return;
    EnableWindow(UploadButton, FALSE);
    StartRun(window);
}

LRESULT OnCommand(HWND window, int id, int code, LPARAM lParam) {
    switch (id) {
    case UploadCommandId:
    case IDM_UPLOAD:
        StartUploadRun(window);
        return 0;
    case IDM_EXIT:
        DestroyWindow(window);
        return 0;
    case IDM_ABOUT:
        ShowAboutBox(window);
        return 0;
    case IDM_SAVE_LOGIN:
        SaveSettings();
        return 0;
    default:
        return DefWindowProcW(window, WM_COMMAND, MAKEWPARAM(id, code), lParam);
    }
}

// --- The shell's alert --------------------------------------------------------------

void ShowAlert(const char* text) {
    MessageBoxW(nullptr, WideText(text).c_str(), WideText("警告").c_str(), MB_OK);
}
