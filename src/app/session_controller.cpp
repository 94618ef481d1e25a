#include "app/session_controller.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/progress.h"
#include "login/login_job.h"
#include "queue/queue_snapshot.h"
#include "settings/settings.h"
#include "upload/upload_job.h"

#include <commctrl.h>

int LoggedIn = 0;
int LoginDataPending = 0;
int FailureCount = 0;
int UploadedCount = 0;
double ProgressStep = 0.0;
double ProgressValue = 0.0;

namespace {

void SetStatusText(const char* text) {
    SetWindowTextA(StatusLabel, text);
}

void ShowOverallProgress() {
    SendMessageA(OverallBar, PBM_SETPOS, ProgressPosition(ProgressValue), 0);
}

int CountWaitingRows() {
    QueueSnapshot snapshot(QueueList);
    snapshot.Collect();
    return static_cast<int>(snapshot.waiting.size());
}

// Counters and the bar for a new run; false when there is nothing to count.
bool BeginRun() {
    FailureCount = 0;
    UploadedCount = 0;
    int steps = ExpectedFileCount > 0 ? ExpectedFileCount : CountWaitingRows();
    if (steps == 0) {
        ShowAlert("待機ファイルがありません");
        return false;
    }
    if (!LoggedIn)
        steps += 1;
    ProgressValue = 0.0;
    ProgressStep = ProgressStepFor(steps);
    SendMessageA(OverallBar, PBM_SETPOS, 0, 0);
    return true;
}

int LogIn(HWND window) {
    SetStatusText("ログイン中");
    if (StartLogin(window, TransferBar) == 0)
        return AdvanceLoginStarted;
    ShowAlert("ログインに失敗しました");
    SetStatusText("未ログイン");
    // Ends the program without destroying the window and without saving the settings.
    PostQuitMessage(0);
    return AdvanceFailed;
}

int UploadNextFile(HWND window) {
    SetStatusText("ログイン済");
    QueueSnapshot snapshot(QueueList);
    snapshot.Collect();
    if (snapshot.waiting.empty()) {
        ProgressValue = 100.0;
        SendMessageA(OverallBar, PBM_SETPOS, 100, 0);
        return AdvanceIdle;
    }
    char path[MAX_PATH] = {};
    const int row = ResolveNextFile(snapshot, 0, path, sizeof path);
    if (StartUpload(window, TransferBar, QueueList, row, path) != 0) {
        ShowAlert("スレッドの作成に失敗しました");
        return AdvanceFailed;
    }
    return AdvanceUploadStarted;
}

void EndRun(HWND window, bool save) {
    if (save)
        SaveSettings();
    DestroyWindow(window);
}

} // namespace

int Advance(HWND window, bool start) {
    if (start && !BeginRun())
        return AdvanceIdle;
    if (LoginDataPending) {
        ApplyStagedLoginData();
        LoginDataPending = 0;
        if (LoggedIn) {
            SetStatusText("未ログイン");
            LoggedIn = 0;
        }
        return LogIn(window);
    }
    if (!LoggedIn)
        return LogIn(window);
    return UploadNextFile(window);
}

void OnLoginDone(HWND window, int result) {
    FinishLogin();
    if (result == 0) {
        ProgressValue += ProgressStep;
        LoggedIn = 1;
        ShowOverallProgress();
        if (Advance(window, false) < AdvanceLoginStarted)
            EnableWindow(UploadButton, TRUE);
    } else {
        ShowAlert("ログインに失敗しました");
        Settings.Password[0] = '\0';
        SetStatusText("未ログイン");
        EnableWindow(UploadButton, TRUE);
        PostQuitMessage(0);
    }
    InvalidateRect(window, nullptr, TRUE);
}

void OnUploadDone(HWND window, int result) {
    FinishUpload(result);
    if (result == 0) {
        ProgressValue += ProgressStep;
        ShowOverallProgress();
        if (UploadedCount == ExpectedFileCount) {
            EndRun(window, true);
        } else if (Advance(window, false) < AdvanceLoginStarted) {
            EnableWindow(UploadButton, TRUE);
            if (ExpectedFileCount == 0)
                EndRun(window, true);
        }
    } else if (FailureCount > 10) {
        EnableWindow(UploadButton, TRUE);
        EndRun(window, false);
    } else {
        Sleep(1000);
        if (Advance(window, false) < AdvanceLoginStarted) {
            EnableWindow(UploadButton, TRUE);
            EndRun(window, true);
        }
    }
    // The window may be gone by now; invalidating a destroyed window does nothing.
    InvalidateRect(window, nullptr, TRUE);
}
