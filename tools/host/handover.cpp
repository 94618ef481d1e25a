#include "handover.h"

#include "command_limit.h"
#include "dde_client.h"
#include "exit_status.h"
#include "json_text.h"
#include "report.h"
#include "temp_folder.h"
#include "unattended.h"
#include "uploader.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Wine's DDEML server follows each data reply with a positive acknowledgement that no
// client expects. Left in the queue, it is taken for the answer to the conversation's
// next transaction, and every reply after it comes one transaction late; dispatched
// between transactions, it reaches the conversation's window, which drops it. The server
// posts it right after the data, so a short dispatch after each read takes it.
constexpr DWORD StrayAcknowledgementDispatch = 50;

// Unattended, the wait has a bound even when none is given: some alerts come only after
// the service's time-outs, each of a minute and more.
constexpr double UnattendedWaitSeconds = 600;

// What the hand-over itself may take beyond the uploader's start and the wait for its end
// (the copies, the pokes, the execute, the look at temp): the default limit on the whole
// command is their sum.
constexpr double HandOverAllowance = 60;

// A photo as the caller names it: SOURCE, or SOURCE=NAME for another name in temp.
struct Photo {
    std::string source;
    std::string name;
};

struct Options {
    std::string exe;
    int count = -1; // -1: the number of files handed over
    bool announceCount = true;
    std::string loginData;
    bool pokeLoginData = false;
    bool upload = true;
    double waitSeconds = -1;
    DWORD timeout = 10000;
    double startSeconds = 30;
    double limitSeconds = -1; // -1: the start, the wait and HandOverAllowance
    bool oneConversation = false;
    DWORD dispatch = StrayAcknowledgementDispatch;
    bool unattended = false;
    UnattendedAnswers answers;
    bool replace = false;
    bool leftovers = false;
    std::string reportPath;
    std::vector<Photo> photos;
};

// What the limit's thread needs to say how the hand-over stood when it ran out.
struct Run {
    Report report;
    std::string reportPath;
    std::string temp;
    bool waiting = false;
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

// SOURCE or SOURCE=NAME; the last "=" parts them ("=" is no byte of a double-byte
// character in code page 932), so a source whose own name holds one is given with =NAME.
Photo ParsePhoto(const std::string& argument) {
    const size_t equals = argument.rfind('=');
    if (equals == std::string::npos)
        return Photo{argument, LastPartOf(argument)};
    return Photo{argument.substr(0, equals), TempName(argument.substr(equals + 1))};
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
        else if (arg == "--limit" && hasValue)
            options.limitSeconds = std::atof(argv[++i]);
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
        } else if (arg == "--replace")
            options.replace = true;
        else if (arg == "--leftovers")
            options.leftovers = true;
        else if (arg == "--report" && hasValue)
            options.reportPath = argv[++i];
        else if (arg.compare(0, 2, "--") == 0)
            return false;
        else
            options.photos.push_back(ParsePhoto(arg));
    }
    if (options.unattended && options.waitSeconds < 0)
        options.waitSeconds = UnattendedWaitSeconds;
    if (options.limitSeconds < 0)
        options.limitSeconds = options.startSeconds +
                               (options.waitSeconds > 0 ? options.waitSeconds : 0) +
                               HandOverAllowance;
    if (options.exe.empty()) {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        options.exe = FolderOf(self) + "VistoraUploader.exe";
    }
    return true;
}

// The photos handed over and waited for: delivered once they have left temp, kept while
// they are still there.
void SettleFates(Report& report, const std::string& temp) {
    for (const std::string& name : report.NamesWithFate(Fate::HandedOver))
        report.SetFate(name, WaitsInTemp(temp, name) ? Fate::Kept : Fate::Delivered);
}

void ExpireHandOver(void* context) {
    Run& run = *static_cast<Run*>(context);
    std::fprintf(stderr, "VistoraHost: the hand-over did not end within its limit\n");
    if (run.waiting)
        SettleFates(run.report, run.temp);
    run.report.Write(run.reportPath, TimedOut);
}

int ReportLeftovers(const std::vector<std::string>& names, const std::string& temp) {
    int left = 0;
    for (const std::string& name : names) {
        bool present = WaitsInTemp(temp, name);
        std::printf("%s %s\n", present ? "still in temp:" : "delivered:", name.c_str());
        left += present ? 1 : 0;
    }
    return left == 0 ? AllDone : FilesLeft;
}

// The names to poke: with --leftovers every file that waits in temp first, then tonight's
// photos, each copied in unless its name already waits there. True when a name of
// tonight's was refused; false in copied when a copy failed.
bool PlaceNames(const Options& options, const std::string& temp, Report& report,
                std::vector<std::string>& names, bool& copied) {
    copied = true;
    const std::vector<std::string> waiting =
        options.leftovers ? FilesWaitingIn(temp) : std::vector<std::string>();
    for (const std::string& leftover : waiting) {
        bool replaced = false;
        for (const Photo& photo : options.photos)
            replaced = replaced || (options.replace && SameTempName(photo.name, leftover));
        if (replaced)
            continue;
        report.AddPhoto(leftover, temp + leftover, true);
        names.push_back(leftover);
    }
    bool refused = false;
    for (const Photo& photo : options.photos) {
        bool waitingAlready = false;
        for (const std::string& leftover : waiting)
            waitingAlready = waitingAlready || SameTempName(photo.name, leftover);
        const PlaceResult placed = PlaceInTemp(photo.source, temp, photo.name, options.replace);
        if (placed == PlaceResult::AlreadyThere && waitingAlready)
            continue; // handed over as a leftover already
        report.AddPhoto(photo.name, photo.source, false);
        if (placed == PlaceResult::NameWaits) {
            std::fprintf(stderr,
                         "VistoraHost: %s already waits in temp: %s was not copied or handed "
                         "over (hand the waiting one over first, with --leftovers, or give "
                         "another name, SOURCE=NAME; --replace writes over it)\n",
                         photo.name.c_str(), photo.source.c_str());
            report.SetFate(photo.name, Fate::NameWaits);
            refused = true;
            continue;
        }
        if (placed == PlaceResult::Failed) {
            copied = false;
            return refused;
        }
        names.push_back(photo.name);
    }
    return refused;
}

UploaderProcess StartUploader(const Options& options, int handedOver) {
    std::string commandLine = "\"" + options.exe + "\"";
    if (options.announceCount)
        commandLine += " " + std::to_string(options.count >= 0 ? options.count : handedOver);
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    // The uploader gets none of our standard handles: it outlives this tool.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process = {};
    const std::string directory = FolderOf(options.exe);
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

// Connects to System, starting the uploader when nobody answers; the process is the
// uploader's, for the wait at the end.
int ReachUploader(DdeClient& client, const Options& options, int handedOver,
                  const CONVCONTEXT& context, UploaderProcess& process) {
    if (!client.Connect(UploaderService, "System", &context)) {
        if (UploaderWindowUp()) {
            std::fprintf(stderr, "VistoraHost: the uploader runs but refused the connection\n");
            return ConnectionRefused;
        }
        process = StartUploader(options, handedOver);
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
    if (client.Connect(UploaderService, topic, &context))
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

int PokeNames(DdeClient& client, const std::vector<std::string>& names, const Options& options,
              Report& report) {
    for (const std::string& name : names) {
        if (PokeText(client, "Filename", name, options) != AllDone)
            return NotAcknowledged;
        report.SetFate(name, Fate::HandedOver);
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
                   const CONVCONTEXT& context, Report& report) {
    int code = ConnectTopic(client, "Upload", context);
    if (code == AllDone)
        code = PokeNames(client, names, options, report);
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
                              const Options& options, const CONVCONTEXT& context, Report& report) {
    int code = ConnectTopic(client, "Upload", context);
    if (code == AllDone)
        code = Read(client, "Upload", "SysItems", options);
    if (code == AllDone)
        code = Read(client, "Upload", "LoginData", options);
    if (code == AllDone)
        code = PokeNames(client, names, options, report);
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

// From the uploader's start to its end (or the wait's): the hand-over proper.
int HandOver(const Options& options, const std::vector<std::string>& names, Run& run) {
    const CONVCONTEXT context = ServiceConversationContext();
    DdeClient client;
    if (!client.Initialized()) {
        std::fprintf(stderr, "VistoraHost: DDEML could not be initialised\n");
        return ServiceMissing;
    }
    // The uploader's process, for the wait at the end; closed on every way out.
    UploaderProcess process;
    int code = ReachUploader(client, options, static_cast<int>(names.size()), context, process);
    if (code == AllDone)
        code = options.oneConversation
                   ? HandOverOnOneConversation(client, names, options, context, run.report)
                   : PokeAndExecute(client, names, options, context, run.report);
    if (code != AllDone)
        return code;
    client.Disconnect();
    std::printf("handed over %u file(s)\n", static_cast<unsigned>(names.size()));
    std::fflush(stdout);

    if (!run.waiting)
        return AllDone;
    if (process.handle) {
        bool ended;
        if (options.unattended) {
            ended = AwaitUploaderUnattended(process.handle.Get(), process.id, options.waitSeconds,
                                            options.answers, run.report);
        } else {
            ended = WaitForSingleObject(process.handle.Get(), Milliseconds(options.waitSeconds)) ==
                    WAIT_OBJECT_0;
            if (ended)
                run.report.UploaderEnded();
        }
        if (!ended) {
            std::fprintf(stderr, "VistoraHost: the uploader did not end within %.0f s\n",
                         options.waitSeconds);
            ReportLeftovers(names, run.temp);
            return TimedOut;
        }
    }
    return ReportLeftovers(names, run.temp);
}

} // namespace

int RunHandover(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "VistoraHost handover: bad arguments (run without any for help)\n");
        return UsageError;
    }
    Run run;
    run.reportPath = options.reportPath;
    run.temp = FolderOf(options.exe) + "temp\\";
    run.waiting = options.waitSeconds >= 0;
    CommandLimit limit(options.limitSeconds, TimedOut, ExpireHandOver, &run);

    int code = AllDone;
    bool refused = false;
    std::vector<std::string> names;
    for (const Photo& photo : options.photos) {
        if (!UsableTempName(run.temp, photo.name)) {
            std::fprintf(stderr,
                         "VistoraHost handover: the uploader takes no file named %s in temp\n",
                         photo.name.c_str());
            code = UsageError;
        }
    }
    if (code == AllDone && options.leftovers && UploaderWindowUp()) {
        // Its list may hold rows for the very files that wait: poked again, a file would
        // have two rows, and the second would find it gone.
        std::fprintf(stderr, "VistoraHost handover: --leftovers while the uploader runs; hand "
                             "them over once it has ended\n");
        code = UsageError;
    }
    if (code == AllDone) {
        bool copied = true;
        refused = PlaceNames(options, run.temp, run.report, names, copied);
        if (!copied)
            code = UsageError;
    }
    // Asked for photos or leftovers and left with none (every name refused, nothing
    // waiting), it starts no uploader: one started for no file would wait for ever.
    if (code == AllDone && names.empty() && (!options.photos.empty() || options.leftovers))
        std::printf("nothing to hand over\n");
    else if (code == AllDone)
        code = HandOver(options, names, run);
    if (run.waiting)
        SettleFates(run.report, run.temp);
    // A refused name leaves the night short: that says more than the others' fates.
    if (refused && (code == AllDone || code == FilesLeft))
        code = NameWaits;
    limit.Finish();
    run.report.Write(run.reportPath, code);
    return code;
}
