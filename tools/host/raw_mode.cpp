#include "raw_mode.h"

#include "command_limit.h"
#include "dde_client.h"
#include "exit_status.h"
#include "json_text.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The whole of one raw command: a connection's broadcast and a transaction at its own
// time-out fit many times over.
constexpr double DefaultRawSeconds = 30;

struct RawOptions {
    bool useContext = true;
    CONVCONTEXT context = ServiceConversationContext();
    DWORD timeout = 10000;
    UINT format = CF_TEXT;
    std::string service = "VistoraUploadServer";
    double limitSeconds = DefaultRawSeconds;
};

bool ParseHex(const std::string& text, std::vector<char>& bytes) {
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        long value = std::strtol(pair, &end, 16);
        if (end != pair + 2)
            return false;
        bytes.push_back(static_cast<char>(value));
    }
    return true;
}

bool ParseContext(const std::string& text, RawOptions& options) {
    if (text == "none") {
        options.useContext = false;
        return true;
    }
    if (text == "default")
        return true;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        std::string pair = text.substr(start, end == std::string::npos ? end : end - start);
        size_t equals = pair.find('=');
        if (equals == std::string::npos)
            return false;
        std::string key = pair.substr(0, equals);
        long value = std::strtol(pair.c_str() + equals + 1, nullptr, 0);
        if (key == "codepage")
            options.context.iCodePage = static_cast<int>(value);
        else if (key == "flags")
            options.context.wFlags = static_cast<UINT>(value);
        else if (key == "security")
            options.context.dwSecurity = static_cast<DWORD>(value);
        else if (key == "impersonation")
            options.context.qos.ImpersonationLevel =
                static_cast<SECURITY_IMPERSONATION_LEVEL>(value);
        else
            return false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return true;
}

// The payload of a poke or execute: --text (with its zero), --hex or --file.
bool ParsePayload(int argc, char** argv, int at, std::vector<char>& payload) {
    if (at + 1 >= argc)
        return false;
    std::string kind = argv[at];
    std::string value = argv[at + 1];
    if (kind == "--text") {
        payload.assign(value.begin(), value.end());
        payload.push_back('\0');
        return true;
    }
    if (kind == "--hex")
        return ParseHex(value, payload);
    if (kind == "--file") {
        std::ifstream in(value, std::ios::binary);
        if (!in)
            return false;
        payload.assign(std::istreambuf_iterator<char>(in), {});
        return true;
    }
    return false;
}

void ExpireRaw(void* context) {
    std::printf("{\"limit\":%.1f}\n", *static_cast<double*>(context));
}

int Fail(const char* message) {
    std::fprintf(stderr, "VistoraHost raw: %s (run without arguments for help)\n", message);
    return 2;
}

bool Connect(DdeClient& client, const RawOptions& options, const std::string& topic) {
    bool connected =
        client.Connect(options.service, topic, options.useContext ? &options.context : nullptr);
    if (!connected)
        std::printf("{\"connected\":false,\"error\":%u}\n", client.LastError());
    return connected;
}

int PrintResult(TransactionResult result, UINT error) {
    std::printf("{\"connected\":true,\"result\":\"%s\",\"error\":%u}\n", ResultName(result), error);
    return result == TransactionResult::Acknowledged ? 0 : 1;
}

// One action of the tool's raw mode, its outcome printed as one JSON object.
int RunAction(const RawOptions& options, const std::string& action, char** rest, int restCount) {
    if (action == "wildcard") {
        std::vector<ServiceTopic> offered = WildcardInitiate(options.service, options.timeout);
        std::printf("{\"pairs\":[");
        for (size_t k = 0; k < offered.size(); ++k)
            std::printf("%s[%s,%s]", k ? "," : "", JsonText(offered[k].service).c_str(),
                        JsonText(offered[k].topic).c_str());
        std::printf("]}\n");
        return 0;
    }

    DdeClient client;
    if (!client.Initialized())
        return Fail("DDEML could not be initialised");
    if (restCount < 1)
        return Fail("no topic");
    const std::string topic = rest[0];
    if (!Connect(client, options, topic))
        return 3;

    if (action == "connect") {
        std::printf("{\"connected\":true}\n");
        return 0;
    }
    if (action == "request" && restCount >= 2) {
        std::vector<char> reply;
        TransactionResult result;
        bool gotData = client.Request(rest[1], options.format, options.timeout, reply, result);
        std::printf(
            "{\"connected\":true,\"data\":%s,\"result\":\"%s\",\"size\":%u,\"hex\":\"%s\"}\n",
            gotData ? "true" : "false", ResultName(result), static_cast<unsigned>(reply.size()),
            Hex(reply).c_str());
        return gotData ? 0 : 1;
    }
    if (action == "advstart" && restCount >= 2)
        return PrintResult(client.AdviseStart(rest[1], options.format, options.timeout),
                           client.LastError());
    if (action == "poke" && restCount >= 2) {
        std::vector<char> payload;
        if (!ParsePayload(restCount, rest, 2, payload))
            return Fail("poke needs --text, --hex or --file");
        return PrintResult(client.Poke(rest[1], payload, options.format, options.timeout),
                           client.LastError());
    }
    if (action == "poke-many" && restCount >= 2) {
        int acknowledged = 0;
        for (int k = 2; k < restCount; ++k) {
            std::string name = rest[k];
            std::vector<char> payload(name.begin(), name.end());
            payload.push_back('\0');
            if (client.Poke(rest[1], payload, options.format, options.timeout) ==
                TransactionResult::Acknowledged)
                ++acknowledged;
        }
        std::printf("{\"connected\":true,\"poked\":%d,\"acknowledged\":%d}\n", restCount - 2,
                    acknowledged);
        return 0;
    }
    if (action == "execute") {
        std::vector<char> payload;
        if (!ParsePayload(restCount, rest, 1, payload))
            return Fail("execute needs --text or --hex");
        return PrintResult(client.Execute(payload, options.format, options.timeout),
                           client.LastError());
    }
    return Fail("unknown action or missing arguments");
}

} // namespace

int RunRaw(int argc, char** argv) {
    RawOptions options;
    int i = 0;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (i + 1 >= argc)
            return Fail("option without a value");
        std::string option = argv[i];
        if (option == "--context") {
            if (!ParseContext(argv[i + 1], options))
                return Fail("bad --context");
        } else if (option == "--timeout") {
            options.timeout = static_cast<DWORD>(std::atol(argv[i + 1]));
        } else if (option == "--format") {
            options.format = static_cast<UINT>(std::atol(argv[i + 1]));
        } else if (option == "--service") {
            options.service = argv[i + 1];
        } else if (option == "--limit") {
            options.limitSeconds = std::atof(argv[i + 1]);
        } else {
            return Fail("unknown option");
        }
    }
    if (i >= argc)
        return Fail("no action");
    const std::string action = argv[i];
    char** rest = argv + i + 1;
    const int restCount = argc - i - 1;
    CommandLimit limit(options.limitSeconds, TimedOut, ExpireRaw, &options.limitSeconds);
    const int status = RunAction(options, action, rest, restCount);
    limit.Finish();
    return status;
}
