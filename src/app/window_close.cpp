#include "app/app_state.h"
#include "app/main_window.h"
#include "dde/dde_service.h"
#include "login/login_job.h"
#include "queue/queue_snapshot.h"
#include "upload/upload_job.h"

#include <vector>

namespace {

bool RunStillHasWork() {
    QueueSnapshot snapshot(QueueList);
    snapshot.Collect();
    return !snapshot.waiting.empty() || snapshot.firstUploading != -1;
}

} // namespace

void OnClose(HWND window) {
    if (RunStillHasWork()) {
        int answer =
            MessageBoxA(nullptr, "まだ待機ファイルが残っています。アップロードを中断しますか？",
                        "注意", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (answer != IDYES)
            return;
    }
    DestroyWindow(window);
}

void OnDestroy(HWND) {
    StopDdeService();
    FinishLogin();
    FinishUpload(1);
    Sleep(1000);
    PostQuitMessage(0);
}
