#pragma once
// Writes the body of a started request to WinINet in pieces, on a thread of its own.
//
// Under Wine, InternetWriteFile on an HTTP request is a blocking socket send in the
// caller's thread, and neither a stop nor the closing of the request handle ends it: on a
// link that has stopped moving it blocks until the socket's send time-out. Written from a
// thread of its own, the body can be watched (how much WinINet has taken, and since when
// nothing more) by a thread that stays free to give up at once (body_stream.cpp). The
// pieces follow the link (body_pace.h).
//
// A body given up never arrives whole. The writer holds back the body's end (the length
// its owner names) and hands it to WinINet only once every earlier piece has been taken,
// and only if the body's fate (body_fate.h) commits to it: a give-up that came first keeps
// the end back, and the service gets a cut body that it refuses. What the socket already
// holds still goes out after a give-up: written is not sent.
//
// Windows may instead answer a piece with ERROR_IO_PENDING and complete it later through
// REQUEST_COMPLETE, writing its byte count then. That count lands in the writer, which
// lives as long as its client (and so until WinINet has reported the request's handle
// closed), and the completion signals the writer's own event: the status callback hands
// it over through TakeCompletion while a piece is pending, and the request's completion
// event never sees it. A pending piece ends with its completion, and the writer does not
// wait for that longer than the piece's limit, nor past a give-up: it then closes the
// request through its owner (request_handle.h), WinINet's way to cancel a pending
// operation, and waits for the cancelled piece's completion, at most CancelledPieceLimit
// (until then WinINet may still write its count and read its bytes). It writes no piece
// after that close.
//
// The body's block goes with the writer's thread, so that a writer left on a dead link
// holds its photo only until its piece ends, not until WinINet lets its job go; only a
// cancelled piece whose completion never came leaves the block with the writer, which
// lives until WinINet has let the request go. The writer uses the request handle until it
// has signalled Finished: its owner closes the handle only after that.

#include "http/body_fate.h"
#include "http/body_pace.h"
#include "http/heap_block.h"
#include "http/request_handle.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>

// How long a cancelled piece's completion is awaited after its request was closed.
// WinINet completes a cancelled operation before it reports the handle closed, at once.
constexpr DWORD CancelledPieceLimit = 5000;

class BodyWriter {
  public:
    BodyWriter();
    BodyWriter(const BodyWriter&) = delete;
    BodyWriter& operator=(const BodyWriter&) = delete;
    // Closes the thread handle and the events; the owner lets the writer go only once
    // Ended() and WinINet has reported the request closed.
    ~BodyWriter();

    // Starts writing the first length bytes of body to request, taking the block; its last
    // endLength bytes are the end, which goes only if fate commits to it. A piece that
    // pends is waited for at most pieceLimit ms. False when no thread could be started,
    // or when the last one still runs.
    bool Start(RequestHandle& request, BodyFate& fate, HeapBlock body, std::uint32_t length,
               std::uint32_t endLength, DWORD pieceLimit);
    // The fate was given up: a pending piece's wait ends now. (Before each piece the writer
    // looks at the fate itself.)
    void NoticeGiveUp();
    // Bytes WinINet has taken so far.
    std::uint32_t Written() const { return written_; }
    // Once Finished: whether a piece failed (the rest of the body was not written), and
    // WinINet's error.
    bool Failed() const { return failed_; }
    DWORD FailedWith() const { return failedWith_; }
    // Once Finished: whether the writer closed the request to cancel a pending piece, and
    // whether that piece had run past its limit (rather than been given up).
    bool Cancelled() const { return cancelled_; }
    bool RanOutOfTime() const { return ranOutOfTime_; }
    // Whether the writer may still use the request handle: started and not Finished.
    bool UsesRequest() const;
    // No thread was started, or it has ended.
    bool Ended() const;
    // The thread, to wait on; null when none was started.
    HANDLE Thread() const { return thread_; }
    // Signalled once the writer has written its last piece (or failed, or been given up),
    // and uses the request no more: at once, where the thread's own end is signalled some
    // milliseconds later under Wine.
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
    void WritePieces(const char* body);
    // One InternetWriteFile of size bytes at data; taken is WinINet's count. False with
    // failedWith_ set when the piece failed.
    bool WritePiece(const char* data, DWORD size, DWORD& taken);
    // Closes the request under a pending piece and waits for the piece's end; false when
    // that end did not come within CancelledPieceLimit.
    bool CancelPendingPiece();
    bool GivenUp() const { return fate_->Now() == BodyFate::State::GivenUp; }

    RequestHandle* request_ = nullptr;
    BodyFate* fate_ = nullptr;
    // Taken by the thread at its start; back here only when WinINet may still read it.
    HeapBlock body_;
    std::uint32_t length_ = 0;
    std::uint32_t endLength_ = 0;
    DWORD pieceLimit_ = INFINITE;
    std::atomic<std::uint32_t> written_{0};
    std::atomic<bool> failed_{false};
    std::atomic<DWORD> failedWith_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> ranOutOfTime_{false};
    BodyPace pace_;
    HANDLE thread_ = nullptr;
    HANDLE finished_ = nullptr;
    // Signalled by NoticeGiveUp, so that a wait for a pending piece ends with the give-up.
    HANDLE givenUp_ = nullptr;
    // The piece in WinINet's hands: where its count lands, whether it pends, its outcome,
    // and the event its completion signals (auto-reset).
    DWORD pieceLanding_ = 0;
    std::atomic<bool> piecePending_{false};
    std::atomic<bool> pieceOk_{false};
    std::atomic<DWORD> pieceError_{0};
    HANDLE pieceDone_ = nullptr;
};
