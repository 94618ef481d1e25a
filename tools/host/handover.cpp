#include "handover.h"

#include "dde_client.h"
#include "json_text.h"
#include "unattended.h"
#include "util/win_handles.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr char Service[] = "VistoraUploadServer";
constexpr char WindowClass[] = "TAVIKVISTORAUPLOAD";

// Wine's DDEML server follows each data reply with a positive acknowledgement that no
// client expects. Left in the queue, it is taken for the answer to the conversation's
// next transaction, and every reply after it comes one transaction late; dispatched
// between transactions, it reaches the conversation's window, which drops it. The server
// posts it right after the data, so a short dispatch after each read takes it.
constexpr DWORD StrayAcknowledgementDispatch = 50;

enum ExitCode {
    AllDone = 0,
    FilesLeft = 1,
    UsageError = 2,
    ServiceMissing = 3,
    ConnectionRefused = 4,
    NotAcknowledged = 5,
    WaitTimedOut = 6,
};

struct Options {
    std::string exe;
    int count = -1; // -1: the number of files
    bool announceCount = true;
    std::string loginData;
    bool pokeLoginData = false;
    bool upload = true;
    double waitSeconds = -1;
    DWORD timeout = 10000;
    double startSeconds = 30;
    bool oneConversation = false;
    DWORD dispatch = StrayAcknowledgementDispatch;
    bool unattended = false;
    UnattendedAnswers answers;
    std::vector<std::string> files;
};

// Unattended, the wait has a bound even when none is given: some alerts come only after
// the service's time-outs, each of a minute and more.
constexpr double UnattendedWaitSeconds = 600;

// The uploader's process: for the wait at the end, and its id for the windows it shows.
struct UploaderProcess {
    UniqueHandle handle;
    DWORD id = 0;
};

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 't' || text[i + 1] == 'n')) {
            out += text[i + 1] == 't' ? '\t' : '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string DirectoryOf(const std::string& path) {
    std::string directory = path;
    size_t cut = 0;
    for (const char* p = directory.c_str(); *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/')
            cut = static_cast<size_t>(p - directory.c_str()) + 1;
    }
    directory.erase(cut);
    return directory;
}

std::string NameOf(const std::string& path) {
    return path.substr(DirectoryOf(path).size());
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--exe" && hasValue)
            options.exe = argv[++i];
        else if (arg == "--count" && hasValue)
            options.count = std::atoi(argv[++i]);
        else if (arg == "--no-count")
            options.announceCount = false;
        else if (arg == "--login-data" && hasValue) {
            options.loginData = Unescape(argv[++i]);
            options.pokeLoginData = true;
        } else if (arg == "--login-data-file" && hasValue) {
            std::ifstream in(argv[++i], std::ios::binary);
            if (!in)
                return false;
            options.loginData.assign(std::istreambuf_iterator<char>(in), {});
            options.pokeLoginData = true;
        } else if (arg == "--no-upload")
            options.upload = false;
        else if (arg == "--wait" && hasValue)
            options.waitSeconds = std::atof(argv[++i]);
        else if (arg == "--timeout" && hasValue)
            options.timeout = static_cast<DWORD>(std::atol(argv[++i]));
        else if (arg == "--start-timeout" && hasValue)
            options.startSeconds = std::atof(argv[++i]);
        else if (arg == "--one-conversation")
            options.oneConversation = true;
        else if (arg == "--dispatch" && hasValue)
            options.dispatch = static_cast<DWORD>(std::atol(argv[++i]));
        else if (arg == "--unattended")
            options.unattended = true;
        else if (arg == "--close-after" && hasValue)
            options.answers.closeAfter = std::atof(argv[++i]);
        else if (arg == "--close-answer" && hasValue) {
            const std::string answer = argv[++i];
            if (answer != "yes" && answer != "no")
                return false;
            options.answers.closeQuestion = answer == "yes" ? IDYES : IDNO;
        } else if (arg.compare(0, 2, "--") == 0)
            return false;
        else
            options.files.push_back(arg);
    }
    if (options.unattended && options.waitSeconds < 0)
        options.waitSeconds = UnattendedWaitSeconds;
    if (options.exe.empty()) {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        options.exe = DirectoryOf(self) + "VistoraUploader.exe";
    }
    return true;
}

UploaderProcess StartUploader(const Options& options) {
    std::string commandLine = "\"" + options.exe + "\"";
    if (options.announceCount) {
        int count = options.count >= 0 ? options.count : static_cast<int>(options.files.size());
        commandLine += " " + std::to_string(count);
    }
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    // The uploader gets none of our standard handles: it outlives this tool.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process = {};
    const std::string directory = DirectoryOf(options.exe);
    if (!CreateProcessA(options.exe.c_str(), mutableLine.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS, nullptr, directory.empty() ? nullptr : directory.c_str(),
                        &startup, &process)) {
        std::fprintf(stderr, "VistoraHost: cannot start %s (error %lu)\n", options.exe.c_str(),
                     GetLastError());
        return UploaderProcess();
    }
    CloseHandle(process.hThread);
    return UploaderProcess{UniqueHandle(process.hProcess), process.dwProcessId};
}

UploaderProcess OpenRunningUploader() {
    HWND window = FindWindowA(WindowClass, nullptr);
    if (window == nullptr)
        return UploaderProcess();
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return UploaderProcess{UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, pid)), pid};
}

bool ConnectWithin(DdeClient& client, const char* topic, const CONVCONTEXT& context,
                   double seconds) {
    DWORD start = GetTickCount();
    for (;;) {
        if (client.Connect(Service, topic, &context))
            return true;
        if (GetTickCount() - start >= seconds * 1000)
            return false;
        Sleep(200);
    }
}

bool CopyIntoTemp(const std::string& file, const std::string& temp) {
    CreateDirectoryA(temp.c_str(), nullptr);
    const std::string target = temp + NameOf(file);
    if (lstrcmpiA(file.c_str(), target.c_str()) == 0)
        return true;
    if (!CopyFileA(file.c_str(), target.c_str(), FALSE)) {
        std::fprintf(stderr, "VistoraHost: cannot copy %s to %s (error %lu)\n", file.c_str(),
                     target.c_str(), GetLastError());
        return false;
    }
    return true;
}

int ReportLeftovers(const std::vector<std::string>& names, const std::string& temp) {
    int left = 0;
    for (const std::string& name : names) {
        bool present = GetFileAttributesA((temp + name).c_str()) != INVALID_FILE_ATTRIBUTES;
        std::printf("%s %s\n", present ? "still in temp:" : "delivered:", name.c_str());
        left += present ? 1 : 0;
    }
    return left == 0 ? AllDone : FilesLeft;
}

// Dispatches this thread's messages for the given time; none for 0.
void DispatchMessagesFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < milliseconds; elapsed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
}

// Connects to System, starting the uploader when nobody answers; the process is the
// uploader's, for the wait at the end.
int ReachUploader(DdeClient& client, const Options& options, const CONVCONTEXT& context,
                  UploaderProcess& process) {
    if (!client.Connect(Service, "System", &context)) {
        if (FindWindowA(WindowClass, nullptr) != nullptr) {
            std::fprintf(stderr, "VistoraHost: the uploader runs but refused the connection\n");
            return ConnectionRefused;
        }
        process = StartUploader(options);
        if (!process.handle)
            return ServiceMissing;
        if (!ConnectWithin(client, "System", context, options.startSeconds)) {
            std::fprintf(stderr,
                         "VistoraHost: the uploader's DDE service did not answer within "
                         "%.0f s\n",
                         options.startSeconds);
            return ServiceMissing;
        }
    }
    if (!process.handle)
        process = OpenRunningUploader();
    return AllDone;
}

int ConnectTopic(DdeClient& client, const char* topic, const CONVCONTEXT& context) {
    if (client.Connect(Service, topic, &context))
        return AllDone;
    std::fprintf(stderr, "VistoraHost: the service refused the topic %s\n", topic);
    return ConnectionRefused;
}

int PokeText(DdeClient& client, const char* item, const std::string& text, const Options& options) {
    std::vector<char> data(text.begin(), text.end());
    data.push_back('\0');
    TransactionResult result = client.Poke(item, data, CF_TEXT, options.timeout);
    if (result == TransactionResult::Acknowledged)
        return AllDone;
    std::fprintf(stderr, "VistoraHost: poke of %s to %s: %s\n", text.c_str(), item,
                 ResultName(result));
    return NotAcknowledged;
}

int PokeNames(DdeClient& client, const std::vector<std::string>& names, const Options& options) {
    for (const std::string& name : names) {
        if (PokeText(client, "Filename", name, options) != AllDone)
            return NotAcknowledged;
    }
    if (options.pokeLoginData)
        return PokeText(client, "LoginData", options.loginData, options);
    return AllDone;
}

int ExecuteUpload(DdeClient& client, const Options& options) {
    const char command[] = "upload";
    TransactionResult result =
        client.Execute(std::vector<char>(command, command + sizeof command), 0, options.timeout);
    if (result == TransactionResult::Acknowledged)
        return AllDone;
    std::fprintf(stderr, "VistoraHost: execute upload: %s\n", ResultName(result));
    return NotAcknowledged;
}

// A request on the open conversation, its reply printed as one JSON line; a read without
// data counts as not acknowledged.
int Read(DdeClient& client, const char* topic, const char* item, const Options& options) {
    std::vector<char> reply;
    TransactionResult result;
    const bool gotData = client.Request(item, CF_TEXT, options.timeout, reply, result);
    std::printf("{\"read\":\"%s/%s\",\"result\":\"%s\",\"size\":%u,\"hex\":\"%s\"}\n", topic, item,
                ResultName(result), static_cast<unsigned>(reply.size()), Hex(reply).c_str());
    std::fflush(stdout);
    DispatchMessagesFor(options.dispatch);
    return gotData ? AllDone : NotAcknowledged;
}

// The pokes on one conversation on Upload, the execute on one on System; nothing read.
int PokeAndExecute(DdeClient& client, const std::vector<std::string>& names, const Options& options,
                   const CONVCONTEXT& context) {
    int code = ConnectTopic(client, "Upload", context);
    if (code == AllDone)
        code = PokeNames(client, names, options);
    if (code == AllDone && options.upload) {
        code = ConnectTopic(client, "System", context);
        if (code == AllDone)
            code = ExecuteUpload(client, options);
    }
    return code;
}

// The same conversations with items read on them too, before and after the pokes and
// before the execute, as hosts do that keep one conversation per topic for everything.
int HandOverOnOneConversation(DdeClient& client, const std::vector<std::string>& names,
                              const Options& options, const CONVCONTEXT& context) {
    int code = ConnectTopic(client, "Upload", context);
    if (code == AllDone)
        code = Read(client, "Upload", "SysItems", options);
    if (code == AllDone)
        code = Read(client, "Upload", "LoginData", options);
    if (code == AllDone)
        code = PokeNames(client, names, options);
    if (code == AllDone)
        code = Read(client, "Upload", "Filename", options);
    if (code == AllDone && options.upload) {
        code = ConnectTopic(client, "System", context);
        if (code == AllDone)
            code = Read(client, "System", "Topics", options);
        if (code == AllDone)
            code = ExecuteUpload(client, options);
    }
    return code;
}

} // namespace

int RunHandover(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "VistoraHost handover: bad arguments (run without any for help)\n");
        return UsageError;
    }
    const std::string temp = DirectoryOf(options.exe) + "temp\\";
    std::vector<std::string> names;
    for (const std::string& file : options.files) {
        if (!CopyIntoTemp(file, temp))
            return UsageError;
        names.push_back(NameOf(file));
    }

    const CONVCONTEXT context = ServiceConversationContext();
    DdeClient client;
    if (!client.Initialized()) {
        std::fprintf(stderr, "VistoraHost: DDEML could not be initialised\n");
        return ServiceMissing;
    }
    // The uploader's process, for the wait at the end; closed on every way out.
    UploaderProcess process;
    int code = ReachUploader(client, options, context, process);
    if (code != AllDone)
        return code;
    code = options.oneConversation ? HandOverOnOneConversation(client, names, options, context)
                                   : PokeAndExecute(client, names, options, context);
    if (code != AllDone)
        return code;
    client.Disconnect();
    std::printf("handed over %u file(s)\n", static_cast<unsigned>(names.size()));

    if (options.waitSeconds < 0)
        return AllDone;
    if (process.handle) {
        const bool ended =
            options.unattended
                ? AwaitUploaderUnattended(process.handle.Get(), process.id, options.waitSeconds,
                                          options.answers)
                : WaitForSingleObject(process.handle.Get(),
                                      static_cast<DWORD>(options.waitSeconds * 1000)) ==
                      WAIT_OBJECT_0;
        if (!ended) {
            std::fprintf(stderr, "VistoraHost: the uploader did not end within %.0f s\n",
                         options.waitSeconds);
            ReportLeftovers(names, temp);
            return WaitTimedOut;
        }
    }
    return ReportLeftovers(names, temp);
}
