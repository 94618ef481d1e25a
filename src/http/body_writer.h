#pragma once
// Writes the body of a started request to WinINet in pieces, on a thread of its own.
//
// Under Wine, InternetWriteFile on an HTTP request is a blocking socket send in the
// caller's thread, and neither a stop nor the closing of the request handle ends it: on a
// link that has stopped moving it blocks until the socket's send time-out. Written from a
// thread of its own, the body can be watched (how much WinINet has taken, and since when
// nothing more) by a thread that stays free to give up at once. Windows may instead answer
// a piece with ERROR_IO_PENDING and complete it through REQUEST_COMPLETE; the writer then
// waits for that completion before the next piece.
//
// The writer reads the body block and uses the request handle until its thread has ended:
// its owner keeps both (and closes no handle) until Ended() says so.

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>

// A piece of the body per InternetWriteFile: progress is seen a piece at a time, so a
// piece must go well within the stall limit even on a slow link (64 KiB take half a
// second at 1 Mbit/s, a minute only below 9 kbit/s), and each piece costs its two status
// notifications, so it must not be tiny either.
constexpr std::uint32_t BodyPieceSize = 64 * 1024;

class BodyWriter {
  public:
    BodyWriter() = default;
    BodyWriter(const BodyWriter&) = delete;
    BodyWriter& operator=(const BodyWriter&) = delete;
    // Closes the thread handle; the owner lets the writer go only once Ended().
    ~BodyWriter();

    // Starts writing length bytes at data to request. A piece that pends is waited for on
    // completion (auto-reset, signalled by the status callback with completedOk set
    // before), at most pendingLimit ms, or until stop is signalled (null: no stop). False
    // when no thread could be started, or when the last one still runs.
    bool Start(HINTERNET request, const char* data, std::uint32_t length, HANDLE completion,
               const std::atomic<bool>& completedOk, HANDLE stop, DWORD pendingLimit);
    // Bytes WinINet has taken so far.
    std::uint32_t Written() const { return written_; }
    // Whether a piece failed (the rest of the body was not written).
    bool Failed() const { return failed_; }
    // The writer writes no further piece after the one in hand.
    void Abandon() { abandoned_ = true; }
    // No thread was started, or it has ended.
    bool Ended() const;
    // The thread, to wait on; null when none was started.
    HANDLE Thread() const { return thread_; }
    // Signalled once the writer has written its last piece (or failed, or been abandoned):
    // at once, where the thread's own end is signalled some milliseconds later under Wine.
    HANDLE Finished() const { return finished_; }

  private:
    static unsigned __stdcall Entry(void* writer);
    void WritePieces();
    bool AwaitPendingPiece();

    HINTERNET request_ = nullptr;
    const char* data_ = nullptr;
    std::uint32_t length_ = 0;
    HANDLE completion_ = nullptr;
    const std::atomic<bool>* completedOk_ = nullptr;
    HANDLE stop_ = nullptr;
    DWORD pendingLimit_ = 0;
    std::atomic<std::uint32_t> written_{0};
    std::atomic<bool> failed_{false};
    std::atomic<bool> abandoned_{false};
    HANDLE thread_ = nullptr;
    HANDLE finished_ = nullptr;
};
