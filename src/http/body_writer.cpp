#include "http/body_writer.h"

#include "util/platform_calls.h"
#include "util/win_handles.h"

BodyWriter::~BodyWriter() {
    if (thread_ != nullptr)
        CloseHandle(thread_);
    if (finished_ != nullptr)
        CloseHandle(finished_);
}

bool BodyWriter::Start(HINTERNET request, const char* data, std::uint32_t length, HANDLE completion,
                       const std::atomic<bool>& completedOk, HANDLE stop, DWORD pendingLimit) {
    if (thread_ != nullptr) {
        if (!Ended())
            return false;
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (finished_ == nullptr)
        finished_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (finished_ == nullptr)
        return false;
    ResetEvent(finished_);
    request_ = request;
    data_ = data;
    length_ = length;
    completion_ = completion;
    completedOk_ = &completedOk;
    stop_ = stop;
    pendingLimit_ = pendingLimit;
    written_ = 0;
    failed_ = false;
    abandoned_ = false;
    unsigned threadId = 0;
    thread_ = reinterpret_cast<HANDLE>(
        Platform().BeginThread(nullptr, 0, &BodyWriter::Entry, this, 0, &threadId));
    return thread_ != nullptr;
}

bool BodyWriter::Ended() const {
    return thread_ == nullptr || WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

unsigned __stdcall BodyWriter::Entry(void* writer) {
    BodyWriter* self = static_cast<BodyWriter*>(writer);
    self->WritePieces();
    SetEvent(self->finished_);
    return 0;
}

void BodyWriter::WritePieces() {
    std::uint32_t done = 0;
    while (done < length_ && !abandoned_) {
        const std::uint32_t left = length_ - done;
        const DWORD piece = left < BodyPieceSize ? left : BodyPieceSize;
        DWORD taken = 0;
        if (!InternetWriteFile(request_, data_ + done, piece, &taken)) {
            if (GetLastError() != ERROR_IO_PENDING || !AwaitPendingPiece()) {
                failed_ = true;
                return;
            }
            taken = piece;
        }
        // Nothing taken without a failure would loop for ever.
        if (taken == 0 || taken > piece) {
            failed_ = true;
            return;
        }
        done += taken;
        written_ = done;
    }
}

bool BodyWriter::AwaitPendingPiece() {
    const HANDLE events[] = {completion_, stop_};
    const DWORD count = IsValidHandle(stop_) ? 2 : 1;
    if (WaitForMultipleObjects(count, events, FALSE, pendingLimit_) != WAIT_OBJECT_0)
        return false;
    return *completedOk_;
}
