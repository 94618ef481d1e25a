// Benchmark helper: a host that hands over a whole folder, to one server or to two in
// turns. One conversation on topic Upload of each SERVICE, COUNT pokes of item Filename to
// each ("poke00001.jpg" and on), each waiting for its acknowledgement as DDEML's
// synchronous transactions do. The pokes go in chunks of CHUNK, the servers taking turns
// chunk by chunk (which one begins a pair alternates), so that a change of the shared
// machine's pace meets both alike. After each chunk the host waits SETTLE-MS and then for
// the server's window (class WINDOW-CLASS) to answer a WM_NULL: a server's own work after
// the last acknowledgement (a paint, say) is done before the other server's chunk begins.
// One server with CHUNK equal to COUNT is one uninterrupted hand-over.
//
//   PokeBench COUNT CHUNK SETTLE-MS SERVICE WINDOW-CLASS [SERVICE WINDOW-CLASS]
//
// Prints one JSON line per server: each poke's time in microseconds in order, the pokes
// that were not acknowledged, and the time the window took to answer a WM_NULL after the
// last poke (-1 when it was not found or did not answer).

#include "dde_client.h"

#include "bench_clock.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// Far above any poke's time: a poke that takes this long is a failure, not a slow one.
constexpr DWORD PokeTimeoutMs = 10000;
constexpr UINT NullAnswerLimitMs = 10000;
constexpr int NameSize = 32;
constexpr int MostServers = 2;

struct Server {
    std::string service;
    std::string windowClass;
    DdeClient client;
    std::vector<long> times;
    int refused = 0;
    int poked = 0;
};

double NullAnswerMs(const std::string& windowClass) {
    HWND window = FindWindowA(windowClass.c_str(), nullptr);
    if (window == nullptr)
        return -1;
    DWORD_PTR ignored = 0;
    const double start = Now();
    if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, NullAnswerLimitMs, &ignored) == 0)
        return -1;
    return Now() - start;
}

void PokeChunk(Server& server, int chunk, int count) {
    for (int n = 0; n < chunk && server.poked < count; ++n) {
        char name[NameSize];
        const int length = std::snprintf(name, sizeof name, "poke%05d.jpg", ++server.poked);
        const std::vector<char> data(name, name + length + 1);
        const double start = Now();
        const TransactionResult result =
            server.client.Poke("Filename", data, CF_TEXT, PokeTimeoutMs);
        server.times.push_back(static_cast<long>((Now() - start) * 1000.0));
        if (result != TransactionResult::Acknowledged)
            ++server.refused;
    }
}

} // namespace

int main(int argc, char** argv) {
    const int serverCount = (argc - 4) / 2;
    if (argc < 6 || argc % 2 != 0 || serverCount > MostServers) {
        std::fprintf(stderr, "usage: PokeBench COUNT CHUNK SETTLE-MS SERVICE WINDOW-CLASS "
                             "[SERVICE WINDOW-CLASS]\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const int chunk = std::atoi(argv[2]);
    const DWORD settle = static_cast<DWORD>(std::atoi(argv[3]));
    if (count <= 0 || chunk <= 0) {
        std::fprintf(stderr, "PokeBench: COUNT and CHUNK must be positive\n");
        return 2;
    }
    std::vector<std::unique_ptr<Server>> servers;
    const CONVCONTEXT context = ServiceConversationContext();
    for (int i = 0; i < serverCount; ++i) {
        auto server = std::make_unique<Server>();
        server->service = argv[4 + 2 * i];
        server->windowClass = argv[5 + 2 * i];
        server->times.reserve(count);
        if (!server->client.Initialized() ||
            !server->client.Connect(server->service, "Upload", &context)) {
            std::fprintf(stderr, "PokeBench: no conversation with %s on Upload\n",
                         server->service.c_str());
            return 3;
        }
        servers.push_back(std::move(server));
    }
    for (int pair = 0; servers.front()->poked < count || servers.back()->poked < count; ++pair) {
        for (int turn = 0; turn < serverCount; ++turn) {
            Server& server = *servers[(pair + turn) % serverCount];
            PokeChunk(server, chunk, count);
            Sleep(settle);
            NullAnswerMs(server.windowClass);
        }
    }
    bool allTaken = true;
    for (auto& server : servers) {
        server->client.Disconnect();
        const double nullMs = NullAnswerMs(server->windowClass);
        std::printf("{\"kind\": \"pokes\", \"service\": \"%s\", \"refused\": %d, "
                    "\"null_ms\": %.3f, \"times_us\": [",
                    server->service.c_str(), server->refused, nullMs);
        for (std::size_t i = 0; i < server->times.size(); ++i)
            std::printf(i == 0 ? "%ld" : ", %ld", server->times[i]);
        std::printf("]}\n");
        allTaken = allTaken && server->refused == 0;
    }
    return allTaken ? 0 : 1;
}
