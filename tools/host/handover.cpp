#include "handover.h"

#include "dde_client.h"
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
    std::vector<std::string> files;
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
        else if (arg.compare(0, 2, "--") == 0)
            return false;
        else
            options.files.push_back(arg);
    }
    if (options.exe.empty()) {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        options.exe = DirectoryOf(self) + "VistoraUploader.exe";
    }
    return true;
}

UniqueHandle StartUploader(const Options& options) {
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
        return UniqueHandle();
    }
    CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
}

UniqueHandle OpenRunningUploader() {
    HWND window = FindWindowA(WindowClass, nullptr);
    if (window == nullptr)
        return UniqueHandle();
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, pid));
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
    UniqueHandle process;
    if (!client.Connect(Service, "System", &context)) {
        if (FindWindowA(WindowClass, nullptr) != nullptr) {
            std::fprintf(stderr, "VistoraHost: the uploader runs but refused the connection\n");
            return ConnectionRefused;
        }
        process = StartUploader(options);
        if (!process)
            return ServiceMissing;
        if (!ConnectWithin(client, "System", context, options.startSeconds)) {
            std::fprintf(stderr,
                         "VistoraHost: the uploader's DDE service did not answer within "
                         "%.0f s\n",
                         options.startSeconds);
            return ServiceMissing;
        }
    }
    if (!process)
        process = OpenRunningUploader();

    if (!client.Connect(Service, "Upload", &context)) {
        std::fprintf(stderr, "VistoraHost: the service refused the topic Upload\n");
        return ConnectionRefused;
    }
    for (const std::string& name : names) {
        std::vector<char> data(name.begin(), name.end());
        data.push_back('\0');
        TransactionResult result = client.Poke("Filename", data, CF_TEXT, options.timeout);
        if (result != TransactionResult::Acknowledged) {
            std::fprintf(stderr, "VistoraHost: poke of %s: %s\n", name.c_str(), ResultName(result));
            return NotAcknowledged;
        }
    }
    if (options.pokeLoginData) {
        std::vector<char> data(options.loginData.begin(), options.loginData.end());
        data.push_back('\0');
        TransactionResult result = client.Poke("LoginData", data, CF_TEXT, options.timeout);
        if (result != TransactionResult::Acknowledged) {
            std::fprintf(stderr, "VistoraHost: LoginData poke: %s\n", ResultName(result));
            return NotAcknowledged;
        }
    }
    if (options.upload) {
        if (!client.Connect(Service, "System", &context)) {
            std::fprintf(stderr, "VistoraHost: the service refused the topic System\n");
            return ConnectionRefused;
        }
        const char command[] = "upload";
        TransactionResult result = client.Execute(
            std::vector<char>(command, command + sizeof command), 0, options.timeout);
        if (result != TransactionResult::Acknowledged) {
            std::fprintf(stderr, "VistoraHost: execute upload: %s\n", ResultName(result));
            return NotAcknowledged;
        }
    }
    client.Disconnect();
    std::printf("handed over %u file(s)\n", static_cast<unsigned>(names.size()));

    if (options.waitSeconds < 0)
        return AllDone;
    if (process) {
        DWORD waited =
            WaitForSingleObject(process.Get(), static_cast<DWORD>(options.waitSeconds * 1000));
        if (waited != WAIT_OBJECT_0) {
            std::fprintf(stderr, "VistoraHost: the uploader did not end within %.0f s\n",
                         options.waitSeconds);
            ReportLeftovers(names, temp);
            return WaitTimedOut;
        }
    }
    return ReportLeftovers(names, temp);
}
