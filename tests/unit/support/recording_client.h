#pragma once
// An asynchronous HTTP client shaped like the jobs, so that StatusCallback<RecordingClient>
// reaches it as it reaches a job: the client as first base, then the counters the
// callback keeps. WinINet calls the callback on threads of its own, hence the atomics.

#include "http/http_client.h"
#include "http/status_callback.h"

#include <windows.h>

#include <atomic>

class RecordingClient : public AsyncHttpClient {
  public:
    // The user agent the jobs announce.
    static constexpr char Agent[] = "Mozilla/4.0 (compatible; )";

    // The WinINet context value: this object.
    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }

    // Opens url with the status callback, as a job opens its connection.
    bool OpenWithCallback(const char* url, const char* user = nullptr,
                          const char* password = nullptr) {
        return Open(url, &StatusCallback<RecordingClient>, Context(), user, password, Agent);
    }

    std::atomic<int> LastStatus{0};
    std::atomic<int> BytesSent{0};
    std::atomic<int> ClosingCount{0};
};
