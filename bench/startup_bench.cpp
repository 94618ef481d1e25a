// Benchmark helper: how long the uploader takes from its start until its DDE service
// answers a connection, against how long a trivial console program takes to start, all
// started from this one process under the same warm Wine.
//
//   StartupBench ROUNDS FALLBACK-MS AFTER-MS CONSOLE.EXE UPLOADER.EXE [GUI.EXE [DESIGN.EXE]]
//
// The console program is started with the name of an event it sets first thing; its start
// ends when the event is set (its exit is reported too). The uploader is started as a host
// starts it (with a count of 1, in its own folder); its start ends at the first DdeConnect
// to service VistoraUploadServer, topic System, that gives a conversation. An unanswered
// DdeConnect costs milliseconds under Wine, so polling all along would blur the figure and
// take CPU from the program being measured: a connection is tried every FALLBACK-MS until
// DDEML reports the service's registration (XTYP_REGISTER, which this process receives
// without asking anyone), then at once and every AFTER-MS (the program registers its
// service before its message loop runs, and answers only from there). Each start reports
// when the last unanswered attempt began and ended: the service began to answer after
// that attempt began, and answer_ms is at most AFTER-MS and one attempt after its end.
// Then the conversation is dropped,
// the main window gets WM_CLOSE and the round waits for the process to end. GUI.EXE, if
// given, is a minimal window with a DDE service of its own (GuiReady), measured the same
// way: what any GUI program with a DDE service costs to start here. DESIGN.EXE, if given,
// is the least program that does what the uploader's design asks before its message loop
// (DesignReady), measured the same way: the uploader's floor. The programs take turns, the
// one that begins a round rotating, each started after a pause: without it, what Wine still
// did after the program before had ended fell into the next start, some 25 ms of it (the
// uploader, mostly started right after the console program, paid it most).
// One JSON line per start, and a first line with what one unanswered DdeConnect costs.
//
//   StartupBench registered ROUNDS FALLBACK-MS AFTER-MS CONSOLE.EXE UPLOADER.EXE
//
// ends each uploader start at its service's registration instead: for a copy that takes
// the NT branch, whose context test refuses every client under Wine.

#include "dde_client.h"

#include "bench_clock.h"

#include <windows.h>
#include <ddeml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char Service[] = "VistoraUploadServer";
constexpr char WindowClass[] = "TAVIKVISTORAUPLOAD";
constexpr char GuiService[] = "VistoraBenchGui";
constexpr char GuiWindowClass[] = "VistoraBenchGuiWindow";
// The pause before each start.
constexpr DWORD SettleMs = 200;
constexpr char DesignService[] = "VistoraBenchDesign";
constexpr char DesignWindowClass[] = "VistoraBenchDesignWindow";

// The service whose registration is awaited, and whether DDEML has reported it.
HSZ WatchedService = nullptr;
volatile bool Registered = false;

HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ service, HSZ, HDDEDATA, ULONG_PTR,
                           ULONG_PTR) {
    // XTYP_REGISTER: the first string is the service's name, the second the instance's.
    if (type == XTYP_REGISTER && WatchedService != nullptr &&
        DdeCmpStringHandles(service, WatchedService) == 0)
        Registered = true;
    return nullptr;
}

std::string FolderOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool Start(const std::string& exe, const std::string& arguments, PROCESS_INFORMATION& process,
           DWORD flags) {
    std::string line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    const std::string folder = FolderOf(exe);
    return CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, flags, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process) != 0;
}

struct Dde {
    DWORD instance = 0;
    HSZ topic = nullptr;
    CONVCONTEXT context = ServiceConversationContext();

    Dde() {
        if (DdeInitializeA(&instance, Callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
            instance = 0;
            return;
        }
        topic = DdeCreateStringHandleA(instance, "System", CP_WINANSI);
    }
    ~Dde() {
        if (instance != 0) {
            DdeFreeStringHandle(instance, topic);
            DdeUninitialize(instance);
        }
    }
    HCONV Connect(HSZ service) {
        CONVCONTEXT copy = context;
        return DdeConnect(instance, service, topic, &copy);
    }
};

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool ConsoleRound(const std::string& exe, int round) {
    char name[64];
    std::snprintf(name, sizeof name, "VistoraBenchReady-%lu-%d", GetCurrentProcessId(), round);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, name);
    PROCESS_INFORMATION process = {};
    const double start = Now();
    if (!Start(exe, name, process, 0)) {
        std::printf("{\"kind\": \"console\", \"round\": %d, \"error\": \"start failed %lu\"}\n",
                    round, GetLastError());
        CloseHandle(ready);
        return false;
    }
    HANDLE both[] = {ready, process.hProcess};
    const DWORD first = WaitForMultipleObjects(2, both, FALSE, 30000);
    const double readyAt = Now();
    const DWORD ended = WaitForSingleObject(process.hProcess, 30000);
    const double exitAt = Now();
    const bool ok = first == WAIT_OBJECT_0 && ended == WAIT_OBJECT_0;
    std::printf("{\"kind\": \"console\", \"round\": %d, \"ready_ms\": %.3f, \"exit_ms\": %.3f, "
                "\"ok\": %s}\n",
                round, readyAt - start, exitAt - start, ok ? "true" : "false");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(ready);
    return ok;
}

// Starts a GUI program with a DDE service and measures until the service answers; then
// closes it through its window of class windowClass.
bool UntilRegistered = false;

bool DdeRound(const char* kind, const std::string& exe, const char* arguments, const char* service,
              const char* windowClass, Dde& dde, int round, DWORD fallbackMs, DWORD afterMs) {
    HSZ serviceName = DdeCreateStringHandleA(dde.instance, service, CP_WINANSI);
    WatchedService = serviceName;
    Registered = false;
    PROCESS_INFORMATION process = {};
    const double start = Now();
    if (!Start(exe, arguments, process, 0)) {
        std::printf("{\"kind\": \"%s\", \"round\": %d, \"error\": \"start failed %lu\"}\n", kind,
                    round, GetLastError());
        DdeFreeStringHandle(dde.instance, serviceName);
        return false;
    }
    HCONV conversation = nullptr;
    int attempts = 0, registrations = 0;
    double answeredAt = 0, registeredAt = 0, lastMiss = 0, lastMissEnd = 0;
    double nextTry = start + fallbackMs;
    for (;;) {
        PumpMessages();
        const double now = Now();
        const bool announced = Registered;
        if (announced) {
            Registered = false;
            ++registrations;
            if (registeredAt == 0)
                registeredAt = now;
            if (UntilRegistered)
                break;
        }
        if (announced || now >= nextTry) {
            ++attempts;
            const double tried = Now();
            conversation = dde.Connect(serviceName);
            if (conversation != nullptr) {
                answeredAt = Now();
                break;
            }
            lastMiss = tried;
            lastMissEnd = Now();
            nextTry = Now() + (registrations > 0 ? afterMs : fallbackMs);
        }
        if (Now() - start > 30000 || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
            break;
        const double left = nextTry - Now();
        MsgWaitForMultipleObjects(1, &process.hProcess, FALSE,
                                  left > 0 ? static_cast<DWORD>(left) + 1 : 0, QS_ALLINPUT);
    }
    WatchedService = nullptr;
    const bool answered = conversation != nullptr;
    const bool reached = UntilRegistered ? registeredAt > 0 : answered;
    if (answered)
        DdeDisconnect(conversation);
    DdeFreeStringHandle(dde.instance, serviceName);
    // Idle, with nothing queued, the uploader closes at once on WM_CLOSE.
    HWND window = nullptr;
    for (int i = 0; i < 200 && window == nullptr; ++i) {
        window = FindWindowA(windowClass, nullptr);
        if (window == nullptr)
            Sleep(10);
    }
    if (window != nullptr)
        PostMessageA(window, WM_CLOSE, 0, 0);
    const double closeAt = Now();
    DWORD ended = WaitForSingleObject(process.hProcess, 20000);
    const double endAt = Now();
    if (ended != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    std::printf("{\"kind\": \"%s\", \"round\": %d, \"answer_ms\": %.3f, "
                "\"registered_ms\": %.3f, \"last_miss_ms\": %.3f, "
                "\"last_miss_end_ms\": %.3f, \"attempts\": %d, "
                "\"registrations\": %d, \"close_ms\": %.3f, \"ok\": %s}\n",
                kind, round, answered ? answeredAt - start : -1.0,
                registeredAt > 0 ? registeredAt - start : -1.0,
                lastMiss > 0 ? lastMiss - start : -1.0,
                lastMissEnd > 0 ? lastMissEnd - start : -1.0, attempts, registrations,
                endAt - closeAt, reached && ended == WAIT_OBJECT_0 ? "true" : "false");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return reached && ended == WAIT_OBJECT_0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "registered") == 0) {
        UntilRegistered = true;
        --argc;
        ++argv;
    }
    if (argc < 6 || argc > 8) {
        std::fprintf(stderr, "usage: StartupBench [registered] ROUNDS FALLBACK-MS AFTER-MS "
                             "CONSOLE.EXE UPLOADER.EXE [GUI.EXE [DESIGN.EXE]]\n");
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    const DWORD fallbackMs = static_cast<DWORD>(std::atoi(argv[2]));
    const DWORD afterMs = static_cast<DWORD>(std::atoi(argv[3]));
    const std::string console = argv[4];
    const std::string uploader = argv[5];
    const std::string gui = argc >= 7 ? argv[6] : "";
    const std::string design = argc == 8 ? argv[7] : "";
    const int programs = 2 + (gui.empty() ? 0 : 1) + (design.empty() ? 0 : 1);
    if (FindWindowA(WindowClass, nullptr) != nullptr) {
        std::fprintf(stderr, "StartupBench: an uploader already runs\n");
        return 2;
    }
    Dde dde;
    if (dde.instance == 0) {
        std::fprintf(stderr, "StartupBench: DDEML could not be initialised\n");
        return 2;
    }
    // What one unanswered connection attempt costs, with no uploader running.
    HSZ service = DdeCreateStringHandleA(dde.instance, Service, CP_WINANSI);
    const int probes = 20;
    const double probeStart = Now();
    for (int i = 0; i < probes; ++i) {
        HCONV stray = dde.Connect(service);
        if (stray != nullptr)
            DdeDisconnect(stray);
    }
    std::printf("{\"kind\": \"poll\", \"connect_ms\": %.4f, \"probes\": %d}\n",
                (Now() - probeStart) / probes, probes);
    DdeFreeStringHandle(dde.instance, service);
    std::fflush(stdout);

    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        // Rotating which goes first keeps a drift of the machine from favouring one.
        for (int turn = 0; turn < programs; ++turn) {
            // What Wine does after the last program has ended stays out of the next start.
            Sleep(SettleMs);
            switch ((round + turn) % programs) {
            case 0:
                ok = ConsoleRound(console, round) && ok;
                break;
            case 1:
                ok = DdeRound("uploader", uploader, "1", Service, WindowClass, dde, round,
                              fallbackMs, afterMs) &&
                     ok;
                break;
            case 2:
                ok = DdeRound("gui", gui, "", GuiService, GuiWindowClass, dde, round, fallbackMs,
                              afterMs) &&
                     ok;
                break;
            default:
                ok = DdeRound("design", design, "", DesignService, DesignWindowClass, dde, round,
                              fallbackMs, afterMs) &&
                     ok;
                break;
            }
            std::fflush(stdout);
        }
    }
    return ok ? 0 : 1;
}
