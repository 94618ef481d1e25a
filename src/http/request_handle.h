#pragma once
// The owner of a request's WinINet handle, which two threads may want to close: the body's
// writer, to cancel a pending piece (WinINet's documented way), and the client, when the
// request is done with or has failed. Whoever exchanges the handle for null closes it; the
// other finds null and closes nothing, so the value is closed exactly once and never again
// once WinINet may have given it to another request. Every close goes through the platform
// table, so that a test sees each one.
//
// Closing is not using: the writer uses the handle for its pieces until its thread has
// ended, and the client closes it only then (AsyncHttpClient::CloseHandles).

#include "util/platform_calls.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>

class RequestHandle {
  public:
    RequestHandle() = default;
    RequestHandle(const RequestHandle&) = delete;
    RequestHandle& operator=(const RequestHandle&) = delete;

    HINTERNET Get() const { return handle_.load(); }
    explicit operator bool() const { return Get() != nullptr; }
    // A request just opened; one left open before it is closed first.
    void Adopt(HINTERNET handle) {
        Close();
        handle_.store(handle);
    }
    // True when this call closed the handle, false when there was none to close.
    bool Close() {
        HINTERNET handle = handle_.exchange(nullptr);
        if (handle == nullptr)
            return false;
        Platform().InternetCloseHandle(handle);
        return true;
    }

  private:
    std::atomic<HINTERNET> handle_{nullptr};
};

// Closes a handle only one thread uses (a connection, a session) through the same seam,
// and forgets it.
inline void CloseInternetHandle(HINTERNET& handle) {
    if (handle != nullptr)
        Platform().InternetCloseHandle(handle);
    handle = nullptr;
}
