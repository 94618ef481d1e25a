#include "http/body_writer.h"

#include "util/debug_line.h"
#include "util/platform_calls.h"

#include <algorithm>

namespace {

// Milliseconds on the performance counter: a piece's wait is judged in tens of them,
// below the resolution of Windows' tick count.
class Stopwatch {
  public:
    Stopwatch() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
    }
    std::uint32_t Ms() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<std::uint32_t>((now.QuadPart - start_.QuadPart) * 1000 /
                                          std::max<LONGLONG>(frequency_.QuadPart, 1));
    }

  private:
    LARGE_INTEGER frequency_;
    LARGE_INTEGER start_;
};

} // namespace

BodyWriter::BodyWriter() {
    pieceDone_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    givenUp_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

BodyWriter::~BodyWriter() {
    for (HANDLE handle : {thread_, finished_, pieceDone_, givenUp_}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
}

bool BodyWriter::Start(RequestHandle& request, BodyFate& fate, HeapBlock body, std::uint32_t length,
                       std::uint32_t endLength, DWORD pieceLimit) {
    if (thread_ != nullptr) {
        if (!Ended())
            return false;
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    // A block left here is still WinINet's to read: its cancelled piece never completed.
    if (body_.Get() != nullptr)
        return false;
    if (finished_ == nullptr)
        finished_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (finished_ == nullptr || pieceDone_ == nullptr || givenUp_ == nullptr)
        return false;
    ResetEvent(finished_);
    ResetEvent(givenUp_);
    request_ = &request;
    fate_ = &fate;
    body_ = std::move(body);
    length_ = length;
    endLength_ = std::min(endLength, length);
    pieceLimit_ = pieceLimit;
    written_ = 0;
    failed_ = false;
    failedWith_ = 0;
    cancelled_ = false;
    ranOutOfTime_ = false;
    pace_ = BodyPace();
    unsigned threadId = 0;
    thread_ = reinterpret_cast<HANDLE>(
        Platform().BeginThread(nullptr, 0, &BodyWriter::Entry, this, 0, &threadId));
    if (thread_ == nullptr)
        body_ = HeapBlock();
    return thread_ != nullptr;
}

bool BodyWriter::UsesRequest() const {
    return thread_ != nullptr && WaitForSingleObject(finished_, 0) != WAIT_OBJECT_0;
}

bool BodyWriter::Ended() const {
    return thread_ == nullptr || WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

void BodyWriter::NoticeGiveUp() {
    if (givenUp_ != nullptr)
        SetEvent(givenUp_);
}

unsigned __stdcall BodyWriter::Entry(void* writer) {
    BodyWriter* self = static_cast<BodyWriter*>(writer);
    HeapBlock body = std::move(self->body_);
    self->WritePieces(body.Get());
    // WinINet may still read a cancelled piece whose completion never came: its block
    // stays with the writer, which lives until WinINet has let the request go.
    if (self->cancelled_ && self->piecePending_)
        self->body_ = std::move(body);
    SetEvent(self->finished_);
    return 0;
}

void BodyWriter::WritePieces(const char* body) {
    const Stopwatch sinceStart;
    std::uint32_t done = 0;
    // The pieces up to until, each looked at against a give-up before it goes; false when
    // one failed or the body was given up.
    const auto writeUpTo = [&](std::uint32_t until) {
        while (done < until) {
            if (GivenUp())
                return false;
            const DWORD piece = std::min(until - done, pace_.NextPieceSize());
            const std::uint32_t began = sinceStart.Ms();
            DWORD taken = 0;
            if (!WritePiece(body + done, piece, taken)) {
                // Also where nobody watches any more: a writer left on a dead link ends
                // here, at its piece's limit, and only then can its job and body go.
                WriteDebugLine("request body piece failed: error %lu, %lu of %lu bytes taken\n",
                               static_cast<unsigned long>(failedWith_.load()),
                               static_cast<unsigned long>(done),
                               static_cast<unsigned long>(length_));
                failed_ = true;
                return false;
            }
            // Nothing taken without a failure would loop for ever.
            if (taken == 0 || taken > piece) {
                failed_ = true;
                return false;
            }
            done += taken;
            written_ = done;
            const std::uint32_t ended = sinceStart.Ms();
            pace_.PieceTaken(taken, ended, ended - began);
        }
        return true;
    };
    if (!writeUpTo(length_ - endLength_))
        return;
    // Every earlier piece is taken. The end goes only once the fate commits to it: a
    // give-up that came first keeps it back, and one that comes after no longer stops it.
    if (!fate_->Commit())
        return;
    WriteDebugLine("request body end handed over: %lu bytes\n",
                   static_cast<unsigned long>(length_ - done));
    writeUpTo(length_);
}

bool BodyWriter::WritePiece(const char* data, DWORD size, DWORD& taken) {
    // Pending from before the call: WinINet may complete the piece on another thread
    // before the call has even returned.
    ResetEvent(pieceDone_);
    pieceLanding_ = 0;
    piecePending_ = true;
    if (Platform().InternetWriteFile(request_->Get(), data, size, &pieceLanding_)) {
        // Done at once: no completion follows.
        piecePending_ = false;
        taken = pieceLanding_;
        return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        piecePending_ = false;
        failedWith_ = error;
        return false;
    }
    // A give-up cuts the wait short; the piece's limit bounds it where the send time-out
    // may not apply to a pending write.
    const HANDLE ends[] = {pieceDone_, givenUp_};
    const DWORD waited = WaitForMultipleObjects(2, ends, FALSE, pieceLimit_);
    if (waited != WAIT_OBJECT_0 && piecePending_) {
        ranOutOfTime_ = waited == WAIT_TIMEOUT;
        cancelled_ = true;
        // However the piece ended, the request is closed: no piece may follow it.
        const bool ended = CancelPendingPiece();
        failedWith_ = !ended || pieceOk_ ? ERROR_INTERNET_OPERATION_CANCELLED : pieceError_.load();
        return false;
    }
    // Completed meanwhile, or with the give-up: its completion is in, or comes at once.
    if (waited != WAIT_OBJECT_0 &&
        WaitForSingleObject(pieceDone_, CancelledPieceLimit) != WAIT_OBJECT_0) {
        failedWith_ = ERROR_INTERNET_OPERATION_CANCELLED;
        return false;
    }
    if (!pieceOk_) {
        failedWith_ = pieceError_.load();
        return false;
    }
    // WinINet writes a completed piece's count where it was given; a write that succeeds
    // has taken the whole piece, should the count not have been written.
    taken = pieceLanding_ != 0 ? pieceLanding_ : size;
    return true;
}

bool BodyWriter::CancelPendingPiece() {
    request_->Close();
    // WinINet completes a cancelled operation before it reports the handle closed; until
    // then it may still read the piece and write its count.
    return WaitForSingleObject(pieceDone_, CancelledPieceLimit) == WAIT_OBJECT_0;
}

bool BodyWriter::TakeCompletion(DWORD result, DWORD error) {
    bool pending = true;
    if (!piecePending_.compare_exchange_strong(pending, false))
        return false;
    pieceOk_ = result != 0;
    pieceError_ = error;
    SetEvent(pieceDone_);
    return true;
}
