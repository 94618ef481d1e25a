#pragma once
// Writes the body of a started request to WinINet in pieces, on a thread of its own.
//
// Under Wine, InternetWriteFile on an HTTP request is a blocking socket send in the
// caller's thread, and neither a stop nor the closing of the request handle ends it: on a
// link that has stopped moving it blocks until the socket's send time-out. Written from a
// thread of its own, the body can be watched (how much WinINet has taken, and since when
// nothing more) by a thread that stays free to give up at once. The pieces follow the link
// (body_pace.h): large where the socket takes them at once, about a second of the link
// where it makes room slowly (the socket may still hold one longer: on a crawling link it
// makes room in bursts, seconds to tens of seconds apart).
//
// Windows may instead answer a piece with ERROR_IO_PENDING and complete it later through
// REQUEST_COMPLETE, writing its byte count then. That count lands in the writer, which
// lives as long as its client (and so until WinINet has reported the request's handle
// closed), and the completion signals the writer's own event: the status callback hands
// it over through TakeCompletion while a piece is pending, and the request's completion
// event never sees it. A pending piece is waited for to its end, a stop or an abandon
// notwithstanding: until then WinINet may still write its count and read its bytes.
//
// The writer owns the body's block and lets it go as its thread ends, so that a writer
// left on a dead link holds its photo only until the send time-out ends its piece, not
// until WinINet lets its job go. It uses the request handle until its thread has ended:
// its owner closes no handle until Ended() says so.

#include "http/body_pace.h"
#include "http/heap_block.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>

class BodyWriter {
  public:
    BodyWriter();
    BodyWriter(const BodyWriter&) = delete;
    BodyWriter& operator=(const BodyWriter&) = delete;
    // Closes the thread handle and the events; the owner lets the writer go only once
    // Ended() and WinINet has reported the request closed.
    ~BodyWriter();

    // Starts writing the first length bytes of body to request, taking the block. False
    // when no thread could be started, or when the last one still runs.
    bool Start(HINTERNET request, HeapBlock body, std::uint32_t length);
    // Whether the writer still holds a body: from Start to its thread's end.
    bool HoldsBody() const { return body_.Get() != nullptr; }
    // Bytes WinINet has taken so far.
    std::uint32_t Written() const { return written_; }
    // Whether a piece failed (the rest of the body was not written), and WinINet's error.
    bool Failed() const { return failed_; }
    DWORD FailedWith() const { return failedWith_; }
    // The writer writes no further piece after the one in hand.
    void Abandon() { abandoned_ = true; }
    // No thread was started, or it has ended.
    bool Ended() const;
    // The thread, to wait on; null when none was started.
    HANDLE Thread() const { return thread_; }
    // Signalled once the writer has written its last piece (or failed, or been abandoned):
    // at once, where the thread's own end is signalled some milliseconds later under Wine.
    HANDLE Finished() const { return finished_; }
    // Once Finished: the link's rate as the pieces measured it (bytes per second, 0 for
    // none), and how long what the socket may still hold takes to leave (ms).
    std::uint32_t RateBytesPerSecond() const { return pace_.RateBytesPerSecond(); }
    std::uint32_t DrainMs() const { return pace_.DrainMs(); }

    // Any thread (the status callback): a REQUEST_COMPLETE with dwResult and dwError. True
    // when a piece was pending, which the completion then ends; false when it is not the
    // writer's.
    bool TakeCompletion(DWORD result, DWORD error);

  private:
    static unsigned __stdcall Entry(void* writer);
    void WritePieces();
    // One InternetWriteFile of size bytes at data; taken is WinINet's count. False with
    // failedWith_ set when the piece failed.
    bool WritePiece(const char* data, DWORD size, DWORD& taken);

    HINTERNET request_ = nullptr;
    HeapBlock body_;
    std::uint32_t length_ = 0;
    std::atomic<std::uint32_t> written_{0};
    std::atomic<bool> failed_{false};
    std::atomic<DWORD> failedWith_{0};
    std::atomic<bool> abandoned_{false};
    BodyPace pace_;
    HANDLE thread_ = nullptr;
    HANDLE finished_ = nullptr;
    // The piece in WinINet's hands: where its count lands, whether it pends, its outcome,
    // and the event its completion signals (auto-reset).
    DWORD pieceLanding_ = 0;
    std::atomic<bool> piecePending_{false};
    std::atomic<bool> pieceOk_{false};
    std::atomic<DWORD> pieceError_{0};
    HANDLE pieceDone_ = nullptr;
};
