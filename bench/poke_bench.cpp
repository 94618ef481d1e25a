// Benchmark helper: a host that hands over a whole folder. One conversation on topic
// Upload of SERVICE, COUNT pokes of item Filename ("poke00001.jpg" and on), each waiting
// for its acknowledgement as DDEML's synchronous transactions do; then the time the
// server's window (class WINDOW-CLASS) takes to answer a WM_NULL.
//
//   PokeBench SERVICE COUNT WINDOW-CLASS
//
// Prints one JSON line: each poke's time in microseconds, in order, the pokes that were
// not acknowledged, and the WM_NULL's answer time (-1 when the window was not found or
// did not answer).

#include "dde_client.h"

#include "bench_clock.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Far above any poke's time: a poke that takes this long is a failure, not a slow one.
constexpr DWORD PokeTimeoutMs = 10000;
constexpr UINT NullAnswerLimitMs = 10000;
constexpr int NameSize = 32;

double NullAnswerMs(const char* windowClass) {
    HWND window = FindWindowA(windowClass, nullptr);
    if (window == nullptr)
        return -1;
    DWORD_PTR ignored = 0;
    const double start = Now();
    if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, NullAnswerLimitMs, &ignored) == 0)
        return -1;
    return Now() - start;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: PokeBench SERVICE COUNT WINDOW-CLASS\n");
        return 2;
    }
    const std::string service = argv[1];
    const int count = std::atoi(argv[2]);
    DdeClient client;
    const CONVCONTEXT context = ServiceConversationContext();
    if (!client.Initialized() || !client.Connect(service, "Upload", &context)) {
        std::fprintf(stderr, "PokeBench: no conversation with %s on Upload\n", service.c_str());
        return 3;
    }
    std::vector<long> times;
    times.reserve(count > 0 ? count : 0);
    int refused = 0;
    for (int i = 1; i <= count; ++i) {
        char name[NameSize];
        const int length = std::snprintf(name, sizeof name, "poke%05d.jpg", i);
        std::vector<char> data(name, name + length + 1);
        const double start = Now();
        const TransactionResult result = client.Poke("Filename", data, CF_TEXT, PokeTimeoutMs);
        times.push_back(static_cast<long>((Now() - start) * 1000.0));
        if (result != TransactionResult::Acknowledged)
            ++refused;
    }
    client.Disconnect();
    const double nullMs = NullAnswerMs(argv[3]);
    std::printf("{\"kind\": \"pokes\", \"refused\": %d, \"null_ms\": %.3f, \"times_us\": [",
                refused, nullMs);
    for (std::size_t i = 0; i < times.size(); ++i)
        std::printf(i == 0 ? "%ld" : ", %ld", times[i]);
    std::printf("]}\n");
    return refused == 0 ? 0 : 1;
}
