// Benchmark helper: the least program that does, file after file, what the uploader's
// design does for each file of a run, and nothing else: the overall bar, the status line
// and the row on the window's thread; a job thread per file with its own asynchronous
// WinINet session, the body built by the client's own code (an open for the size and
// 1024-byte reads) and sent with its headers, the answer read, the transfer bar moved by
// SendMessage at the design's steps and the handles closed with their closings awaited;
// then the file deleted, the row done and the design's two pauses of the teardown. No
// settings, no DDE, no login, no debugger lines. The overhead case runs it beside the
// uploader: what the design's own steps cost per file on this machine.
//
//   DesignCycle HOST PORT PATH FILE...
//       Posts each FILE in turn to http://HOST:PORT/PATH as the uploader's form does and
//       deletes it once the answer was "success". One JSON line per file: its deletion's
//       time (QueryPerformanceCounter, ms); exit code 0 when every file went.

#include <windows.h>
#include <commctrl.h>
#include <wininet.h>

#include "http/http_client.h"
#include "app/job_teardowns.h"
#include "upload/upload_job.h"

#include "bench_clock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A job that does not end within this is a failed run, not a slow one.
constexpr DWORD JobLimit = 60000;
constexpr UINT WM_NEXT_FILE = WM_APP + 1;
constexpr UINT WM_FILE_DONE = WM_APP + 2;
constexpr DWORD AnswerRoom = 64;

struct Run {
    std::string host;
    INTERNET_PORT port = 0;
    std::string path;
    std::vector<std::string> files;
    std::size_t next = 0;
    int failures = 0;
    HWND overallBar = nullptr;
    HWND transferBar = nullptr;
    HWND label = nullptr;
    HWND list = nullptr;
    HANDLE thread = nullptr;
} Plan;

struct Job {
    std::string file;
    HANDLE completion = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    volatile LONG closings = 0;
    LONG handles = 0;
    DWORD error = 0;
};

void CALLBACK Status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    Job* job = reinterpret_cast<Job*>(context);
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
        job->error = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwError;
        SetEvent(job->completion);
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        if (InterlockedIncrement(&job->closings) >= job->handles)
            SetEvent(job->closed);
    }
}

bool Wait(Job& job) {
    return WaitForSingleObject(job.completion, JobLimit) == WAIT_OBJECT_0 && job.error == 0;
}

void Bar(UINT message, int value) {
    SendMessageA(Plan.transferBar, message, static_cast<WPARAM>(value), 0);
}

bool Send(Job& job, HINTERNET connection) {
    HINTERNET request = HttpOpenRequestA(
        connection, "POST", Plan.path.c_str(), nullptr, nullptr, nullptr,
        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT,
        reinterpret_cast<DWORD_PTR>(&job));
    if (request == nullptr)
        return false;
    ++job.handles;
    // The body as the design builds it (an open for the size, then 1024-byte reads), by
    // the client's own code, so that both programs send the same bytes.
    HttpClient builder;
    builder.AddFormField("file", job.file.c_str(), true);
    char* body = nullptr;
    const std::uint32_t bodyLength = builder.BuildMultipartBody(&body, UploadBoundary);
    const std::string headers = std::string("Accept: */*\r\n") + UploadContentType +
                                "Content-Length: " + std::to_string(bodyLength) + "\r\n";
    HttpAddRequestHeadersA(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                           HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    INTERNET_BUFFERSA record = {};
    record.dwStructSize = sizeof record;
    record.lpvBuffer = body;
    record.dwBufferLength = bodyLength;
    record.dwBufferTotal = bodyLength;
    bool ok = bodyLength != 0 &&
              (HttpSendRequestExA(request, &record, nullptr, HSR_INITIATE,
                                  reinterpret_cast<DWORD_PTR>(&job)) ||
               GetLastError() == ERROR_IO_PENDING) &&
              Wait(job);
    ok = ok && (HttpEndRequestA(request, nullptr, HSR_ASYNC | HSR_INITIATE,
                                reinterpret_cast<DWORD_PTR>(&job)) ||
                GetLastError() == ERROR_IO_PENDING);
    Bar(PBM_DELTAPOS, 20);
    ok = ok && Wait(job);
    Bar(PBM_DELTAPOS, 20);
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    ok = ok &&
         HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &statusSize, nullptr) &&
         status == HTTP_STATUS_OK;
    char answer[AnswerRoom] = {};
    DWORD length = 0;
    // A read that pends writes its count when it completes: got outlives the wait.
    DWORD got = 0;
    while (ok && length < 4) {
        got = 0;
        if (!InternetReadFile(request, answer + length, AnswerRoom - 1 - length, &got))
            ok = GetLastError() == ERROR_IO_PENDING && Wait(job);
        Bar(PBM_DELTAPOS, 5);
        if (got == 0)
            break;
        length += got;
    }
    InternetCloseHandle(request);
    if (body != nullptr)
        builder.FreeMultipartBody(body);
    return ok && std::strncmp(answer, "success", 7) == 0;
}

DWORD WINAPI JobThread(LPVOID parameter) {
    Job& job = *static_cast<Job*>(parameter);
    Bar(PBM_SETPOS, 0);
    bool ok = false;
    HINTERNET session = InternetOpenA(JobUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                      INTERNET_FLAG_ASYNC);
    if (session != nullptr) {
        InternetSetStatusCallbackA(session, Status);
        HINTERNET connection =
            InternetConnectA(session, Plan.host.c_str(), Plan.port, nullptr, nullptr,
                             INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(&job));
        if (connection != nullptr) {
            ++job.handles;
            Bar(PBM_DELTAPOS, 20);
            ok = Send(job, connection);
            Bar(PBM_SETPOS, 90);
            InternetCloseHandle(connection);
            WaitForSingleObject(job.closed, JobLimit);
        }
        InternetCloseHandle(session);
    }
    Bar(PBM_SETPOS, 100);
    PostMessageA(GetParent(Plan.transferBar), WM_FILE_DONE, ok ? 1 : 0,
                 reinterpret_cast<LPARAM>(&job));
    return 0;
}

void SetRow(int row, const char* state) {
    LVITEMA item = {};
    item.iSubItem = 0;
    item.pszText = const_cast<char*>(state);
    SendMessageA(Plan.list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

void OnNextFile(HWND window) {
    if (Plan.next >= Plan.files.size()) {
        DestroyWindow(window);
        return;
    }
    const int row = static_cast<int>(Plan.next);
    SendMessageA(Plan.overallBar, PBM_SETPOS,
                 static_cast<WPARAM>(row * 100 / static_cast<int>(Plan.files.size())), 0);
    SetWindowTextA(Plan.label, "ログイン済");
    SetRow(row, "送信中");
    SendMessageA(Plan.transferBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(Plan.transferBar, PBM_SETPOS, 0, 0);
    Job* job = new Job();
    job->file = Plan.files[Plan.next];
    Plan.thread = CreateThread(nullptr, 0, JobThread, job, 0, nullptr);
}

void OnFileDone(HWND window, bool ok, Job* job) {
    const int row = static_cast<int>(Plan.next);
    if (ok && DeleteFileA(job->file.c_str())) {
        std::printf("{\"file\": %d, \"deleted_ms\": %.3f}\n", row, Now());
        SetRow(row, "完了");
    } else {
        ++Plan.failures;
    }
    Sleep(UploadTeardownPause);
    WaitForSingleObject(Plan.thread, JobLimit);
    CloseHandle(Plan.thread);
    CloseHandle(job->completion);
    CloseHandle(job->closed);
    delete job;
    Sleep(UploadTeardownPause);
    ++Plan.next;
    PostMessageA(window, WM_NEXT_FILE, 0, 0);
}

HWND Child(HWND parent, const char* className, DWORD style, int x, int y, int width, int height) {
    return CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                           parent, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void Create(HWND window) {
    Plan.label = Child(window, "STATIC", 0, 0, 0, 100, 20);
    Plan.overallBar = Child(window, PROGRESS_CLASSA, PBS_SMOOTH, 100, 0, 200, 10);
    SendMessageA(Plan.overallBar, PBM_SETBARCOLOR, 0, 0x0000FF00);
    Plan.transferBar = Child(window, PROGRESS_CLASSA, PBS_SMOOTH, 100, 10, 200, 10);
    Plan.list = Child(window, WC_LISTVIEWA, LVS_REPORT, 0, 20, 400, 250);
    LVCOLUMNA column = {};
    column.mask = LVCF_WIDTH | LVCF_TEXT;
    column.cx = 60;
    column.pszText = const_cast<char*>("状態");
    SendMessageA(Plan.list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    column.cx = 280;
    column.pszText = const_cast<char*>("ファイル名");
    SendMessageA(Plan.list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
    for (std::size_t i = 0; i < Plan.files.size(); ++i) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<char*>("待機中");
        SendMessageA(Plan.list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 1;
        item.pszText = const_cast<char*>(Plan.files[i].c_str());
        SendMessageA(Plan.list, LVM_SETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        Create(window);
        return 0;
    case WM_NEXT_FILE:
        OnNextFile(window);
        return 0;
    case WM_FILE_DONE:
        OnFileDone(window, wParam != 0, reinterpret_cast<Job*>(lParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: DesignCycle HOST PORT PATH FILE...\n");
        return 2;
    }
    Plan.host = argv[1];
    Plan.port = static_cast<INTERNET_PORT>(std::atoi(argv[2]));
    Plan.path = argv[3];
    Plan.files.assign(argv + 4, argv + argc);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "VistoraBenchDesignCycle";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "VistoraBenchDesignCycle",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr)
        return 2;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    PostMessageA(window, WM_NEXT_FILE, 0, 0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    std::fflush(stdout);
    return Plan.failures == 0 ? 0 : 1;
}
