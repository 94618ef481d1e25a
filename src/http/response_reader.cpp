#include "http/client_errors.h"
#include "http/http_client.h"
#include "util/win_handles.h"

#include <cstring>

namespace {

// A question for the answer's bytes that pends is waited for this long, looked at this
// often. The limit is kept by the clock: counted in slices, the wait outlasted an answer
// that came after 12 s on a loaded machine, where each short wait takes longer than asked.
constexpr DWORD PendingReadLimit = 10000;
constexpr DWORD PendingReadSlice = 10;

} // namespace

bool HttpClient::AwaitPendingCompletion(unsigned completionsBefore) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < PendingReadLimit) {
        if (completionCount != completionsBefore)
            return lastCompletionOk;
        if (IsValidHandle(stopEvent)) {
            if (WaitForSingleObject(stopEvent, PendingReadSlice) == WAIT_OBJECT_0)
                return false;
        } else {
            Sleep(PendingReadSlice);
        }
    }
    return false;
}

// In the asynchronous session a read made before the answer's bytes are in returns
// ERROR_IO_PENDING. Taking that for a failure turned a "success" that came a moment late
// into a failed upload; waiting for such a read is no better under Wine, whose
// InternetReadFile clears the count after queueing the read, racing the read's own
// completion. So the client first asks whether data is there and waits for that question
// to complete: the read that follows is served from what is buffered, at once.
void HttpClient::AwaitAnswerBytes() {
    // Nothing else is outstanding on the request now, so the next completion is the
    // question's own. Its count lands in the client, which outlives a late completion.
    const unsigned completionsBefore = completionCount;
    availableLanding_ = 0;
    if (InternetQueryDataAvailable(requestHandle.Get(), &availableLanding_, 0, 0))
        return;
    if (GetLastError() != ERROR_IO_PENDING || !AwaitPendingCompletion(completionsBefore))
        throw ClientError::ResponseFailed;
}

bool HttpClient::ReadResponse(char* buffer, std::int32_t size, DWORD& bytesRead) {
    bytesRead = 0;
    try {
        if (!requestHandle)
            throw ClientError::ConnectionFailed;
        // A negative size would reach WinINet as a huge one and overrun the buffer.
        if (size < 0)
            throw ClientError::ResponseFailed;
        AwaitAnswerBytes();
        // Asked not to wait, the read takes what is buffered. Left to wait for a full
        // buffer it would go asynchronous again whenever fewer bytes than asked are in.
        // Should it still not finish at once, it fails: WinINet would complete it later
        // into the buffer and count it was given, which must then be the client's, not
        // the caller's. A read asks for at most the landing's size; the caller gets fewer
        // bytes, as WinINet may give it anyway.
        const DWORD wanted = static_cast<DWORD>(size) < sizeof readLanding_
                                 ? static_cast<DWORD>(size)
                                 : static_cast<DWORD>(sizeof readLanding_);
        readBuffers_ = INTERNET_BUFFERSA{};
        readBuffers_.dwStructSize = sizeof readBuffers_;
        readBuffers_.lpvBuffer = readLanding_;
        readBuffers_.dwBufferLength = wanted;
        if (!InternetReadFileExA(requestHandle.Get(), &readBuffers_, IRF_NO_WAIT, 0))
            throw ClientError::ResponseFailed;
        const DWORD landed = readBuffers_.dwBufferLength;
        const DWORD got = landed <= wanted ? landed : wanted;
        std::memcpy(buffer, readLanding_, got);
        bytesRead = got;
        return true;
    } catch (const char* message) {
        ReportClientFailure("ReadResponse", message);
    } catch (...) {
        ReportClientFailure("ReadResponse", ClientError::UnknownException);
    }
    requestHandle.Close();
    return false;
}

DWORD HttpClient::ResponseStatus() const {
    if (!requestHandle)
        return 0;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(requestHandle.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &status, &size, nullptr))
        return 0;
    return status;
}
