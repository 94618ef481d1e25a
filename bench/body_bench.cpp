// Benchmark helper: the upload's multipart body, built by the client's own code, against
// what reading the same file costs at the least, and how large a file still fits.
//
//   BodyBench compare FILE ROUNDS
//       Rotates, ROUNDS times each, the floor (CreateFile, one HeapAlloc of the file's
//       size, one ReadFile of the whole file), a bare loop of the designed 1024-byte reads
//       into one zeroed block ("blocks", the cost of the design without the client's code)
//       and the body (BuildMultipartBody of one file field, which estimates, allocates and
//       reads; FreeMultipartBody timed apart), in one process so all meet the same page
//       cache and heap. No span includes freeing. One JSON line per measurement.
//   BodyBench loop FILE
//       The bare loop alone, once, as the first large block of a fresh process: the
//       condition the uploader builds its body in. Its pages are new to the process, and on
//       a virtual machine that hands freed memory back to its host, touching them first
//       costs what it costs the uploader; a block just freed by the same process (compare's
//       earlier kinds) comes back warm. Checked against the file after the timing. One
//       JSON line.
//   BodyBench limit FILE
//       Bisects, to 1 MiB, the largest file size whose body block this process can
//       allocate, and the largest for which a second block of the body's length fits as
//       well (what a send that copies the body needs). Resizes FILE (sparse) for each
//       probe, then confirms with real BuildMultipartBody calls at the limit and 1 MiB
//       above it. One JSON object.
//
// Times come from QueryPerformanceCounter; every build is checked against the file.

#include "http/http_client.h"
#include "upload/multipart_layout.h"

#include "bench_clock.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

std::uint64_t SizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return ~std::uint64_t{0};
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// The floor: the file into a fresh block with one read. The block is handed back so the
// caller can free it outside the timed span (the body's free is timed on its own).
bool ReadWhole(const char* path, char** block, DWORD& size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    size = GetFileSize(file, nullptr);
    *block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
    DWORD got = 0;
    const bool ok = *block != nullptr && ReadFile(file, *block, size, &got, nullptr) && got == size;
    CloseHandle(file);
    return ok;
}

// The designed reads without the client around them: a zeroed block with the body's
// margin, filled by 1024-byte ReadFile calls until one brings nothing.
bool ReadBlocks(const char* path, char** block, DWORD& taken) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = GetFileSize(file, nullptr);
    *block = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + 6144 + 64));
    taken = 0;
    bool ok = *block != nullptr;
    while (ok) {
        DWORD got = 0;
        if (!ReadFile(file, *block + taken, 1024, &got, nullptr))
            ok = false;
        else if (got == 0)
            break;
        taken += got;
        ok = taken <= size;
    }
    CloseHandle(file);
    return ok && taken == size;
}

// Where the file's bytes start in a body of one file part: after the part header, and
// the body ends with CRLF and the closing line.
bool BodyHoldsFile(const char* body, std::uint32_t length, const char* content, DWORD size) {
    const std::size_t tail = 2 + ClosingLineLength(UploadBoundary);
    if (length < size + tail)
        return false;
    const std::size_t header = length - size - tail;
    const std::string closing = std::string("\r\n--") + UploadBoundary + "--\r\n";
    return std::memcmp(body + header, content, size) == 0 &&
           std::memcmp(body + header + size, closing.data(), closing.size()) == 0 &&
           std::strncmp(body, "--", 2) == 0;
}

int Compare(const char* path, int rounds) {
    const std::uint64_t size64 = SizeOf(path);
    if (size64 == ~std::uint64_t{0} || size64 >= 0x80000000u) {
        std::fprintf(stderr, "BodyBench: cannot use %s\n", path);
        return 2;
    }
    // One reference copy for checking every body, read before any timing.
    char* reference = nullptr;
    DWORD size = 0;
    if (!ReadWhole(path, &reference, size)) {
        std::fprintf(stderr, "BodyBench: cannot read %s\n", path);
        return 2;
    }
    int failures = 0;
    for (int step = 0; step < rounds * 3; ++step) {
        const int round = step / 3;
        // Rotating the order keeps a drift of the machine from favouring one kind.
        const int kind = (step + round) % 3;
        if (kind == 0 || kind == 1) {
            char* block = nullptr;
            DWORD got = 0;
            const double start = Now();
            const bool ok =
                kind == 0 ? ReadWhole(path, &block, got) : ReadBlocks(path, &block, got);
            const double end = Now();
            const bool same = ok && got == size && std::memcmp(block, reference, size) == 0;
            if (block != nullptr)
                HeapFree(GetProcessHeap(), 0, block);
            failures += same ? 0 : 1;
            std::printf("{\"kind\": \"%s\", \"round\": %d, \"ms\": %.3f, \"ok\": %s}\n",
                        kind == 0 ? "floor" : "blocks", round, end - start,
                        same ? "true" : "false");
        } else {
            HttpClient client;
            client.AddFormField("file", path, true);
            char* body = nullptr;
            const double start = Now();
            const std::uint32_t length = client.BuildMultipartBody(&body, UploadBoundary);
            const double built = Now();
            const bool same =
                length != 0 && body != nullptr && BodyHoldsFile(body, length, reference, size);
            const double checked = Now();
            if (body != nullptr)
                client.FreeMultipartBody(body);
            const double freed = Now();
            failures += same ? 0 : 1;
            std::printf("{\"kind\": \"body\", \"round\": %d, \"ms\": %.3f, \"free_ms\": %.3f, "
                        "\"length\": %u, \"ok\": %s}\n",
                        round, built - start, freed - checked, length, same ? "true" : "false");
        }
        std::fflush(stdout);
    }
    HeapFree(GetProcessHeap(), 0, reference);
    return failures == 0 ? 0 : 1;
}

int LoopOnce(const char* path) {
    char* block = nullptr;
    DWORD got = 0;
    const double start = Now();
    const bool ok = ReadBlocks(path, &block, got);
    const double end = Now();
    char* reference = nullptr;
    DWORD size = 0;
    const bool same = ok && ReadWhole(path, &reference, size) && got == size &&
                      std::memcmp(block, reference, size) == 0;
    std::printf("{\"kind\": \"blocks\", \"round\": 0, \"ms\": %.3f, \"ok\": %s}\n", end - start,
                same ? "true" : "false");
    if (block != nullptr)
        HeapFree(GetProcessHeap(), 0, block);
    if (reference != nullptr)
        HeapFree(GetProcessHeap(), 0, reference);
    return same ? 0 : 1;
}

bool Resize(const char* path, std::uint64_t size) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    const bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

// Whether the body block of a file of size bytes can be allocated, the way
// BuildMultipartBody sizes it; with secondCopy, whether a block of the body's length fits
// beside it as well.
bool Fits(const char* path, std::uint64_t size, bool secondCopy) {
    if (!Resize(path, size))
        return false;
    HttpClient client;
    client.AddFormField("file", path, true);
    const std::uint64_t block = client.EstimateBodySize() + ClosingLineLength(UploadBoundary) + 1;
    if (block > 0x7FFFFFFF)
        return false;
    void* body = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<std::size_t>(block));
    if (body == nullptr)
        return false;
    bool fits = true;
    if (secondCopy) {
        void* copy = HeapAlloc(GetProcessHeap(), 0, static_cast<std::size_t>(block));
        fits = copy != nullptr;
        if (copy != nullptr)
            HeapFree(GetProcessHeap(), 0, copy);
    }
    HeapFree(GetProcessHeap(), 0, body);
    return fits;
}

// Largest whole number of MiB that fits, by bisection; probes is how many were tried.
std::uint64_t Bisect(const char* path, bool secondCopy, int& probes) {
    std::uint64_t low = 0, high = 2048; // low fits (nothing), high does not (beyond 2 GiB)
    while (high - low > 1) {
        const std::uint64_t middle = (low + high) / 2;
        ++probes;
        if (Fits(path, middle * MiB, secondCopy))
            low = middle;
        else
            high = middle;
    }
    return low * MiB;
}

// A real build of a file of size bytes: its length, 0 when it failed; a failure must
// leave no block behind.
std::uint32_t RealBuild(const char* path, std::uint64_t size, bool& clean, double& ms) {
    Resize(path, size);
    HttpClient client;
    client.AddFormField("file", path, true);
    char* body = nullptr;
    const double start = Now();
    const std::uint32_t length = client.BuildMultipartBody(&body, UploadBoundary);
    ms = Now() - start;
    clean = length != 0 || body == nullptr;
    if (body != nullptr)
        client.FreeMultipartBody(body);
    return length;
}

int Limit(const char* path) {
    int probes = 0;
    const std::uint64_t buildLimit = Bisect(path, false, probes);
    const std::uint64_t copyLimit = Bisect(path, true, probes);
    bool cleanAt = false, cleanAbove = false;
    double msAt = 0, msAbove = 0;
    const std::uint32_t at = RealBuild(path, buildLimit, cleanAt, msAt);
    const std::uint32_t above = RealBuild(path, buildLimit + MiB, cleanAbove, msAbove);
    DeleteFileA(path);
    const bool confirmed = at > buildLimit && above == 0 && cleanAt && cleanAbove;
    std::printf("{\"build_limit\": %llu, \"copy_limit\": %llu, \"probes\": %d, "
                "\"build_at_limit\": %u, \"build_at_limit_ms\": %.1f, "
                "\"build_above_limit\": %u, \"build_above_limit_ms\": %.1f, "
                "\"above_limit_clean\": %s, \"confirmed\": %s}\n",
                static_cast<unsigned long long>(buildLimit),
                static_cast<unsigned long long>(copyLimit), probes, at, msAt, above, msAbove,
                cleanAbove ? "true" : "false", confirmed ? "true" : "false");
    return confirmed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "compare") == 0)
        return Compare(argv[2], std::atoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "loop") == 0)
        return LoopOnce(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "limit") == 0)
        return Limit(argv[2]);
    std::fprintf(
        stderr,
        "usage: BodyBench compare FILE ROUNDS | BodyBench loop FILE | BodyBench limit FILE\n");
    return 2;
}
