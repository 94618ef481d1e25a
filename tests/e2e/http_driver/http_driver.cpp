// Runs one operation of the HTTP client per invocation, the way the jobs use it, and
// prints what happened as one JSON object on stdout. Driven by tests/e2e/test_http_client.py.
//
//   HttpDriver async-get|async-form|async-multipart URL PATH [options] [fields]
//   HttpDriver sync-get|sync-form|sync-multipart URL PATH [options] [fields]
//   HttpDriver build-body BOUNDARY OUTPUT-FILE [fields]
//
// Fields: p:NAME:VALUE for a plain field, f:NAME:PATH for a file field, each of NAME,
// VALUE and PATH written as hex of its bytes, so that line feeds and Shift-JIS arrive
// unchanged. Options: --read-size N (bytes per read, 128 by default), --read-delay MS
// (pause between the completion and the first read), --wait MS (completion wait,
// 60000 by default), --closings N (closing notifications to wait for after
// CloseHandles, 2 by default, as the jobs wait), --repeat N (the asynchronous operation
// N times in a row, one JSON object per line), --answer-limit MS (the client's wait for
// the answer, which WinINet's receive time-out follows; 60000 by default).

#include "http/http_client.h"
#include "http/url_parser.h"
#include "support/recording_client.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    int readSize = 128;
    DWORD readDelay = 0;
    DWORD wait = 60000;
    int closings = 2;
    int repeat = 1;
    DWORD answerLimit = DefaultStallLimit;
};

std::string Hex(const char* data, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(data[i]);
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

bool Unhex(const std::string& text, std::string& out) {
    if (text.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        long value = std::strtol(pair, &end, 16);
        if (end != pair + 2)
            return false;
        out += static_cast<char>(value);
    }
    return true;
}

bool AddField(HttpClient& client, const std::string& field) {
    if (field.size() < 2 || (field[0] != 'p' && field[0] != 'f') || field[1] != ':')
        return false;
    std::size_t colon = field.find(':', 2);
    if (colon == std::string::npos)
        return false;
    std::string name;
    std::string value;
    if (!Unhex(field.substr(2, colon - 2), name) || !Unhex(field.substr(colon + 1), value))
        return false;
    client.AddFormField(name.c_str(), value.c_str(), field[0] == 'f');
    return true;
}

// Reads the whole answer as the jobs do, then twice more to show the end is stable.
struct Reading {
    bool firstFailed = false;
    std::vector<long> chunks;
    std::vector<std::string> after;
    std::string answer;
};

Reading ReadAll(HttpClient& client, const Options& options) {
    Reading reading;
    if (options.readDelay > 0)
        Sleep(options.readDelay);
    std::vector<char> buffer(options.readSize > 0 ? options.readSize : 1);
    for (;;) {
        DWORD got = 0;
        if (!client.ReadResponse(buffer.data(), options.readSize, got)) {
            reading.firstFailed = reading.chunks.empty();
            reading.chunks.push_back(-1);
            return reading;
        }
        reading.chunks.push_back(static_cast<long>(got));
        if (got == 0)
            break;
        // The answer is kept only up to a size a test would look at.
        if (reading.answer.size() < 65536)
            reading.answer.append(buffer.data(), got);
    }
    for (int i = 0; i < 2; ++i) {
        DWORD got = 77;
        bool ok = client.ReadResponse(buffer.data(), options.readSize, got);
        reading.after.push_back(std::string(ok ? "true" : "false") + ":" + std::to_string(got));
    }
    return reading;
}

void PrintReading(const Reading& reading) {
    std::printf(", \"chunks\": [");
    for (std::size_t i = 0; i < reading.chunks.size(); ++i)
        std::printf("%s%ld", i ? ", " : "", reading.chunks[i]);
    std::printf("], \"after_end\": [");
    for (std::size_t i = 0; i < reading.after.size(); ++i)
        std::printf("%s\"%s\"", i ? ", " : "", reading.after[i].c_str());
    std::printf("], \"answer\": \"%s\"", Hex(reading.answer.data(), reading.answer.size()).c_str());
}

int RunAsyncOnce(RequestKind kind, const char* url, const char* path, const Options& options,
                 const std::vector<std::string>& fields) {
    RecordingClient job;
    job.answerLimit = options.answerLimit;
    const DWORD_PTR context = job.Context();
    const bool opened = job.OpenWithCallback(url);
    std::printf("{\"opened\": %s", opened ? "true" : "false");
    if (opened) {
        job.ClearFormFields();
        for (const std::string& field : fields) {
            if (!AddField(job, field)) {
                std::fprintf(stderr, "bad field %s\n", field.c_str());
                return 2;
            }
        }
        const bool sent = job.SendRequest(context, path, kind, nullptr);
        const bool completed = job.WaitForCompletion(options.wait);
        if (job.completionEvent != nullptr) {
            CloseHandle(job.completionEvent);
            job.completionEvent = nullptr;
        }
        std::printf(
            ", \"sent\": %s, \"completed\": %s, \"async_result\": %lu, "
            "\"async_error\": %lu, \"request_open\": %s, \"path\": \"%s\"",
            sent ? "true" : "false", completed ? "true" : "false",
            static_cast<unsigned long>(job.asyncResult), static_cast<unsigned long>(job.asyncError),
            job.requestHandle ? "true" : "false", Hex(job.path.data(), job.path.size()).c_str());
        if (completed)
            PrintReading(ReadAll(job, options));
    }
    const int closingBefore = job.ClosingCount;
    job.CloseHandles();
    // As the jobs drain: at most 20 pauses of 300 ms until the closings were counted; then
    // one more pause, so that a further notification would be seen too.
    for (int i = 0; i < 20 && job.ClosingCount < options.closings; ++i)
        Sleep(300);
    Sleep(300);
    std::printf(", \"bytes_sent\": %d, \"closing_before\": %d, \"closing_count\": %d, "
                "\"handles_opened\": %d, \"last_status\": %d}\n",
                job.BytesSent.load(), closingBefore, job.ClosingCount.load(),
                job.contextHandlesOpened, job.LastStatus.load());
    return 0;
}

int RunAsync(RequestKind kind, const char* url, const char* path, const Options& options,
             const std::vector<std::string>& fields) {
    for (int run = 0; run < options.repeat; ++run) {
        const int status = RunAsyncOnce(kind, url, path, options, fields);
        std::fflush(stdout);
        if (status != 0)
            return status;
    }
    return 0;
}

int RunSync(const char* command, const char* url, const char* path, const Options& options,
            const std::vector<std::string>& fields) {
    char scheme[UrlPartSize] = {};
    char user[UrlPartSize] = {};
    char password[UrlPartSize] = {};
    char host[UrlPartSize] = {};
    char objectPath[UrlPartSize] = {};
    std::int32_t port = 0;
    Scheme parsed = Scheme::Http;
    if (!ParseUrl(url, scheme, user, password, host, port, objectPath) ||
        !SchemeFromText(scheme, parsed)) {
        std::fprintf(stderr, "bad url %s\n", url);
        return 2;
    }
    HttpClient client;
    const bool connected =
        client.Connect(host, port, nullptr, nullptr, parsed, RecordingClient::Agent);
    std::printf("{\"connected\": %s", connected ? "true" : "false");
    if (connected) {
        for (const std::string& field : fields) {
            if (!AddField(client, field)) {
                std::fprintf(stderr, "bad field %s\n", field.c_str());
                return 2;
            }
        }
        const char* failure = "";
        try {
            if (std::strcmp(command, "sync-get") == 0)
                client.Get(path, nullptr);
            else if (std::strcmp(command, "sync-form") == 0)
                client.PostForm(path, nullptr);
            else
                client.PostMultipart(path, nullptr);
        } catch (const char* message) {
            failure = message;
        }
        std::printf(", \"failure\": \"%s\"", failure);
        if (failure[0] == '\0')
            PrintReading(ReadAll(client, options));
    }
    client.CloseHandles();
    std::printf("}\n");
    return 0;
}

int BuildBody(const char* boundary, const char* output, const std::vector<std::string>& fields) {
    HttpClient client;
    for (const std::string& field : fields) {
        if (!AddField(client, field)) {
            std::fprintf(stderr, "bad field %s\n", field.c_str());
            return 2;
        }
    }
    char* body = nullptr;
    const std::uint32_t length = client.BuildMultipartBody(&body, boundary);
    if (body != nullptr && length > 0) {
        FILE* out = std::fopen(output, "wb");
        if (out == nullptr)
            return 2;
        std::fwrite(body, 1, length, out);
        std::fclose(out);
    }
    if (body != nullptr)
        client.FreeMultipartBody(body);
    std::printf("{\"length\": %lu}\n", static_cast<unsigned long>(length));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: HttpDriver COMMAND URL PATH [options] [fields]\n");
        return 2;
    }
    const std::string command = argv[1];
    Options options;
    std::vector<std::string> fields;
    for (int i = 4; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--read-size" && i + 1 < argc)
            options.readSize = std::atoi(argv[++i]);
        else if (arg == "--read-delay" && i + 1 < argc)
            options.readDelay = static_cast<DWORD>(std::atol(argv[++i]));
        else if (arg == "--answer-limit" && i + 1 < argc)
            options.answerLimit = static_cast<DWORD>(std::atol(argv[++i]));
        else if (arg == "--closings" && i + 1 < argc)
            options.closings = std::atoi(argv[++i]);
        else if (arg == "--wait" && i + 1 < argc)
            options.wait = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--repeat" && i + 1 < argc)
            options.repeat = std::atoi(argv[++i]);
        else
            fields.push_back(arg);
    }
    if (command == "build-body")
        return BuildBody(argv[2], argv[3], fields);
    if (command == "async-get")
        return RunAsync(RequestKind::GetRequest, argv[2], argv[3], options, fields);
    if (command == "async-form")
        return RunAsync(RequestKind::FormRequest, argv[2], argv[3], options, fields);
    if (command == "async-multipart")
        return RunAsync(RequestKind::MultipartRequest, argv[2], argv[3], options, fields);
    if (command == "sync-get" || command == "sync-form" || command == "sync-multipart")
        return RunSync(command.c_str(), argv[2], argv[3], options, fields);
    std::fprintf(stderr, "unknown command %s\n", command.c_str());
    return 2;
}
