#pragma once
// Writes the body of a started request to WinINet in pieces, on a thread of its own.
//
// Under Wine, InternetWriteFile on an HTTP request is a blocking socket send in the
// caller's thread, and neither a stop nor the closing of the request handle ends it: on a
// link that has stopped moving it blocks until the socket's send time-out. Written from a
// thread of its own, the body can be watched (how much WinINet has taken, and since when
// nothing more) by a thread that stays free to give up at once. The pieces follow the link
// (body_pace.h): large where the socket takes them at once, about a second of the link
// where it makes room slowly, never more than MaxPieceMs of it once its rate is known.
//
// A body given up never arrives whole. The writer holds back the body's end (at least its
// closing line) and hands it to WinINet only once every earlier piece has been taken, and
// only if it has not been given up by then: Abandon and that hand-over exclude each other,
// so a stop, a stall or a quit either comes first, and the service gets a cut body that
// it refuses, or comes too late, and the request has gone whole and its answer decides.
// What the socket already holds still goes out after a give-up: written is not sent.
//
// Windows may instead answer a piece with ERROR_IO_PENDING and complete it later through
// REQUEST_COMPLETE, writing its byte count then. That count lands in the writer, which
// lives as long as its client (and so until WinINet has reported the request's handle
// closed), and the completion signals the writer's own event: the status callback hands
// it over through TakeCompletion while a piece is pending, and the request's completion
// event never sees it. A pending piece ends with its completion, and the writer does not
// wait for that longer than the piece's limit, nor past a give-up: it then closes the
// request handle, WinINet's way to cancel a pending operation, and waits for the
// cancelled piece's completion (until then WinINet may still write its count and read its
// bytes). It writes no piece after that close, and its owner closes that handle no more.
//
// The writer owns the body's block and lets it go as its thread ends, so that a writer
// left on a dead link holds its photo only until its piece ends, not until WinINet lets
// its job go. It uses the request handle until its thread has ended: its owner closes no
// handle until Ended() says so.

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

    // Starts writing the first length bytes of body to request, taking the block; its last
    // endLength bytes are the end held back. A piece that pends is waited for at most
    // pieceLimit ms. False when no thread could be started, or when the last one still runs.
    bool Start(HINTERNET request, HeapBlock body, std::uint32_t length, std::uint32_t endLength,
               DWORD pieceLimit);
    // Whether the writer still holds a body: from Start to its thread's end.
    bool HoldsBody() const { return body_.Get() != nullptr; }
    // Bytes WinINet has taken so far.
    std::uint32_t Written() const { return written_; }
    // Whether a piece failed (the rest of the body was not written), and WinINet's error.
    bool Failed() const { return failed_; }
    DWORD FailedWith() const { return failedWith_; }
    // Gives the body up: no piece after the one in hand, and a pending one is cancelled.
    // True when given up (now or before) before the end was handed to WinINet; false when
    // the end is already in WinINet's hands and the body goes whole, given up or not.
    bool Abandon();
    // Whether the body's end has been handed to WinINet.
    bool EndHandedOver() const { return fate_ == Fate::EndHandedOver; }
    // Once Finished: whether the writer closed the request handle to cancel a pending
    // piece. Its owner takes that news once, so that it forgets that handle and no later one.
    bool TakeClosedRequest() { return closedRequest_.exchange(false); }
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
    enum class Fate { Writing, GivenUp, EndHandedOver };

    static unsigned __stdcall Entry(void* writer);
    void WritePieces();
    // One InternetWriteFile of size bytes at data; taken is WinINet's count. False with
    // failedWith_ set when the piece failed.
    bool WritePiece(const char* data, DWORD size, DWORD& taken);
    // Closes the request handle under a pending piece and waits for the piece's end.
    void CancelPendingPiece();

    HINTERNET request_ = nullptr;
    HeapBlock body_;
    std::uint32_t length_ = 0;
    std::uint32_t endLength_ = 0;
    DWORD pieceLimit_ = INFINITE;
    std::atomic<std::uint32_t> written_{0};
    std::atomic<bool> failed_{false};
    std::atomic<DWORD> failedWith_{0};
    std::atomic<Fate> fate_{Fate::Writing};
    std::atomic<bool> closedRequest_{false};
    BodyPace pace_;
    HANDLE thread_ = nullptr;
    HANDLE finished_ = nullptr;
    // Signalled by Abandon, so that a wait for a pending piece ends with the give-up.
    HANDLE givenUp_ = nullptr;
    // The piece in WinINet's hands: where its count lands, whether it pends, its outcome,
    // and the event its completion signals (auto-reset).
    DWORD pieceLanding_ = 0;
    std::atomic<bool> piecePending_{false};
    std::atomic<bool> pieceOk_{false};
    std::atomic<DWORD> pieceError_{0};
    HANDLE pieceDone_ = nullptr;
};
