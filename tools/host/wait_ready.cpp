#include "wait_ready.h"

#include "command_limit.h"
#include "dde_client.h"
#include "exit_status.h"
#include "uploader.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Long enough for a start on a slow, busy machine (the uploader's service answers about a
// fifth of a second after its start on an idle one).
constexpr double DefaultReadySeconds = 30;
// The longest one request may wait inside the limit: a paused uploader answers within a
// few seconds (HOST-PROTOCOL.md, "When the uploader does not answer").
constexpr DWORD ReadyRequestWait = 10000;

struct Wait {
    double seconds;
};

void SayNotReady(double seconds) {
    std::fprintf(stderr,
                 "VistoraHost wait-ready: the uploader's DDE service did not answer within "
                 "%.1f s (%s)\n",
                 seconds, UploaderWindowUp() ? "its window is up" : "no uploader window");
}

void ExpireWait(void* context) {
    SayNotReady(static_cast<Wait*>(context)->seconds);
}

// A connection to System that answers a request: the service is up and its window's thread
// takes transactions.
bool Answers(DdeClient& client, const CONVCONTEXT& context, DWORD requestWait) {
    if (!client.Connect(UploaderService, "System", &context))
        return false;
    std::vector<char> reply;
    TransactionResult result;
    const bool answered = client.Request("Topics", CF_TEXT, requestWait, reply, result);
    client.Disconnect();
    return answered;
}

} // namespace

int RunWaitReady(int argc, char** argv) {
    Wait wait{DefaultReadySeconds};
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--limit" && i + 1 < argc) {
            wait.seconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "VistoraHost wait-ready: bad arguments (run without any for "
                                 "help)\n");
            return UsageError;
        }
    }
    CommandLimit limit(wait.seconds, ServiceMissing, ExpireWait, &wait);
    const CONVCONTEXT context = ServiceConversationContext();
    DdeClient client;
    const DWORD start = GetTickCount();
    const DWORD limitMs = Milliseconds(wait.seconds);
    const auto remaining = [&] {
        const DWORD waited = GetTickCount() - start;
        return waited < limitMs ? limitMs - waited : 0;
    };
    while (client.Initialized() && remaining() > 0) {
        if (Answers(client, context, std::min(ReadyRequestWait, remaining()))) {
            limit.Finish();
            std::printf("ready after %.1f s\n", (GetTickCount() - start) / 1000.0);
            return AllDone;
        }
        Sleep(std::min(ConnectRetryPause, remaining()));
    }
    limit.Finish();
    SayNotReady(wait.seconds);
    return ServiceMissing;
}
