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

bool BodyWriter::Start(HINTERNET request, HeapBlock body, std::uint32_t length,
                       std::uint32_t endLength, DWORD pieceLimit) {
    if (thread_ != nullptr) {
        if (!Ended())
            return false;
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (finished_ == nullptr)
        finished_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (finished_ == nullptr || pieceDone_ == nullptr || givenUp_ == nullptr)
        return false;
    ResetEvent(finished_);
    ResetEvent(givenUp_);
    request_ = request;
    body_ = std::move(body);
    length_ = length;
    endLength_ = std::min(endLength, length);
    pieceLimit_ = pieceLimit;
    written_ = 0;
    failed_ = false;
    failedWith_ = 0;
    fate_ = Fate::Writing;
    closedRequest_ = false;
    pace_ = BodyPace();
    unsigned threadId = 0;
    thread_ = reinterpret_cast<HANDLE>(
        Platform().BeginThread(nullptr, 0, &BodyWriter::Entry, this, 0, &threadId));
    return thread_ != nullptr;
}

bool BodyWriter::Ended() const {
    return thread_ == nullptr || WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

bool BodyWriter::Abandon() {
    Fate writing = Fate::Writing;
    if (!fate_.compare_exchange_strong(writing, Fate::GivenUp) && writing == Fate::EndHandedOver)
        return false;
    if (givenUp_ != nullptr)
        SetEvent(givenUp_);
    return true;
}

unsigned __stdcall BodyWriter::Entry(void* writer) {
    BodyWriter* self = static_cast<BodyWriter*>(writer);
    self->WritePieces();
    SetEvent(self->finished_);
    // Nothing reads the body any more: a pending piece has been waited for to its end.
    self->body_ = HeapBlock();
    return 0;
}

void BodyWriter::WritePieces() {
    const Stopwatch sinceStart;
    std::uint32_t done = 0;
    // The pieces up to until, each looked at against a give-up before it goes; false when
    // one failed or the body was given up.
    const auto writeUpTo = [&](std::uint32_t until) {
        while (done < until) {
            if (fate_ == Fate::GivenUp)
                return false;
            const DWORD piece = std::min(until - done, pace_.NextPieceSize());
            const std::uint32_t began = sinceStart.Ms();
            DWORD taken = 0;
            if (!WritePiece(body_.Get() + done, piece, taken)) {
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
    // Every earlier piece is taken. The end goes only from a writer not given up, and once
    // it is handed over a give-up no longer stops the body.
    Fate writing = Fate::Writing;
    if (!fate_.compare_exchange_strong(writing, Fate::EndHandedOver))
        return;
    writeUpTo(length_);
}

bool BodyWriter::WritePiece(const char* data, DWORD size, DWORD& taken) {
    // Pending from before the call: WinINet may complete the piece on another thread
    // before the call has even returned.
    ResetEvent(pieceDone_);
    pieceLanding_ = 0;
    piecePending_ = true;
    if (Platform().InternetWriteFile(request_, data, size, &pieceLanding_)) {
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
    if (waited != WAIT_OBJECT_0) {
        CancelPendingPiece();
        // However the piece ended, the request is closed: no piece may follow it.
        if (closedRequest_) {
            failedWith_ = pieceOk_ ? ERROR_INTERNET_OPERATION_CANCELLED : pieceError_.load();
            return false;
        }
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

void BodyWriter::CancelPendingPiece() {
    // The piece may have completed in the meantime; closing the handle then cancels
    // nothing, and its completion is already in.
    if (!piecePending_) {
        WaitForSingleObject(pieceDone_, INFINITE);
        return;
    }
    closedRequest_ = true;
    Platform().InternetCloseHandle(request_);
    // WinINet completes a cancelled operation before it reports the handle closed; until
    // then it may still read the piece and write its count.
    WaitForSingleObject(pieceDone_, INFINITE);
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
