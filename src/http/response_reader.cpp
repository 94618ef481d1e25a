#include "http/client_errors.h"
#include "http/http_client.h"

#include <cstring>

namespace {

constexpr int PendingReadSlices = 1000;
constexpr DWORD PendingReadSlice = 10;

} // namespace

bool HttpClient::AwaitPendingRead(unsigned completionsBefore) {
    for (int slice = 0; slice < PendingReadSlices; ++slice) {
        if (completionCount != completionsBefore)
            return lastCompletionOk;
        if (stopEvent != nullptr && stopEvent != INVALID_HANDLE_VALUE) {
            if (WaitForSingleObject(stopEvent, PendingReadSlice) == WAIT_OBJECT_0)
                return false;
        } else {
            Sleep(PendingReadSlice);
        }
    }
    return false;
}

bool HttpClient::ReadResponse(char* buffer, std::int32_t size, DWORD& bytesRead) {
    bytesRead = 0;
    try {
        if (requestHandle == nullptr)
            throw ClientError::ConnectionFailed;
        // A negative size would reach WinINet as a huge one and overrun the buffer.
        if (size < 0)
            throw ClientError::ResponseFailed;
        // In the asynchronous session a read before the data has arrived returns
        // ERROR_IO_PENDING and completes later, writing the data and the count it was
        // given. Taking that for a failure would turn a "success" that came a moment late
        // into a failed upload, so the read is waited for. If the wait gives up, WinINet
        // may still complete the read after the handle is closed: data and count land in
        // the client's buffer, not the caller's, which may be gone by then. A read asks
        // for at most the landing's size; the caller gets fewer bytes, as WinINet may.
        const DWORD wanted = static_cast<DWORD>(size) < sizeof readLanding_
                                 ? static_cast<DWORD>(size)
                                 : static_cast<DWORD>(sizeof readLanding_);
        readLandingCount_ = 0;
        // Nothing else is outstanding on the request now, so the next completion is the
        // read's own.
        const unsigned completionsBefore = completionCount;
        if (!InternetReadFile(requestHandle, readLanding_, wanted, &readLandingCount_) &&
            (GetLastError() != ERROR_IO_PENDING || !AwaitPendingRead(completionsBefore)))
            throw ClientError::ResponseFailed;
        const DWORD got = readLandingCount_ <= wanted ? readLandingCount_ : wanted;
        std::memcpy(buffer, readLanding_, got);
        bytesRead = got;
        return true;
    } catch (const char* message) {
        ReportClientFailure("ReadResponse", message);
    } catch (...) {
        ReportClientFailure("ReadResponse", ClientError::UnknownException);
    }
    if (requestHandle != nullptr) {
        InternetCloseHandle(requestHandle);
        requestHandle = nullptr;
    }
    return false;
}

DWORD HttpClient::ResponseStatus() const {
    if (requestHandle == nullptr)
        return 0;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(requestHandle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr))
        return 0;
    return status;
}
