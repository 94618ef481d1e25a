// Benchmark helper: what sending an upload's body costs under Wine's WinINet, two ways.
// Profiling aid for the transfer and memory cases; it does not stand in for the uploader.
//
//   SendBench whole|pieces HOST PORT PATH FILE
//
// Builds the body of one file field with the client's own BuildMultipartBody, then posts it
// on a synchronous WinINet session:
//   whole   the body as HttpSendRequestExA's buffer, as the uploader hands it over (Wine
//           then builds one more block of header and body before it sends);
//   pieces  HttpSendRequestExA announcing the length only, then InternetWriteFile of the
//           body in 64 KiB pieces straight from the block, then HttpEndRequestA.
// Reads the answer and prints one JSON line: the times of building, sending (send call to
// end of request) and reading, the answer, and the process's peak working set.

#include "http/http_client.h"

#include "bench_clock.h"

#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? counters.PeakWorkingSetSize
               : 0;
}

int Fail(const char* what) {
    std::printf("{\"error\": \"%s\", \"code\": %lu}\n", what, GetLastError());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6 || (std::strcmp(argv[1], "whole") != 0 && std::strcmp(argv[1], "pieces") != 0)) {
        std::fprintf(stderr, "usage: SendBench whole|pieces HOST PORT PATH FILE\n");
        return 2;
    }
    const bool pieces = std::strcmp(argv[1], "pieces") == 0;
    const SIZE_T peakBefore = PeakWorkingSet();

    HttpClient client;
    client.AddFormField("file", argv[5], true);
    char* body = nullptr;
    const double start = Now();
    const std::uint32_t length = client.BuildMultipartBody(&body, UploadBoundary);
    const double built = Now();
    if (length == 0)
        return Fail("body not built");

    HINTERNET session =
        InternetOpenA("Mozilla/4.0 (compatible; )", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection =
        InternetConnectA(session, argv[2], static_cast<INTERNET_PORT>(std::atoi(argv[3])), nullptr,
                         nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestA(connection, "POST", argv[4], "HTTP/1.0", nullptr, nullptr,
                                         INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0);
    if (request == nullptr)
        return Fail("no request handle");
    HttpAddRequestHeadersA(request, UploadContentType, static_cast<DWORD>(-1),
                           HTTP_ADDREQ_FLAG_ADD_IF_NEW);

    INTERNET_BUFFERSA record = {};
    record.dwStructSize = sizeof record;
    record.dwBufferTotal = length;
    if (!pieces) {
        record.lpvBuffer = body;
        record.dwBufferLength = length;
    }
    const double sendStart = Now();
    if (!HttpSendRequestExA(request, &record, nullptr, 0, 0))
        return Fail("HttpSendRequestExA");
    if (pieces) {
        for (std::uint32_t at = 0; at < length;) {
            const DWORD piece = length - at < 65536 ? length - at : 65536;
            DWORD written = 0;
            if (!InternetWriteFile(request, body + at, piece, &written) || written == 0)
                return Fail("InternetWriteFile");
            at += written;
        }
    }
    if (!HttpEndRequestA(request, nullptr, 0, 0))
        return Fail("HttpEndRequestA");
    const double sent = Now();
    char answer[256] = {};
    DWORD got = 0, total = 0;
    while (InternetReadFile(request, answer + total, sizeof answer - 1 - total, &got) && got > 0)
        total += got;
    const double read = Now();
    const SIZE_T peak = PeakWorkingSet();
    client.FreeMultipartBody(body);
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);

    std::printf("{\"mode\": \"%s\", \"length\": %u, \"build_ms\": %.1f, \"send_ms\": %.1f, "
                "\"read_ms\": %.1f, \"answer\": \"%.16s\", \"peak_before\": %lu, \"peak\": %lu}\n",
                pieces ? "pieces" : "whole", length, built - start, sent - sendStart, read - sent,
                answer, static_cast<unsigned long>(peakBefore), static_cast<unsigned long>(peak));
    return std::strcmp(answer, "success") == 0 ? 0 : 1;
}
