#include "http/client_errors.h"
#include "http/http_client.h"

#include <cstring>

bool HttpClient::ReadResponse(char* buffer, std::int32_t size, DWORD& bytesRead) {
    bytesRead = 0;
    try {
        if (requestHandle == nullptr)
            throw ClientError::ConnectionFailed;
        // A negative size would reach WinINet as a huge one and overrun the buffer.
        if (size < 0)
            throw ClientError::ResponseFailed;
        // In the asynchronous session a read before the data has arrived fails with
        // ERROR_IO_PENDING; it is not retried but ends the request like any failure.
        // Wine completes such a read after the handle is closed all the same, writing the
        // data and the count it was given: they must be the client's, not the caller's
        // buffer and count, which may be gone by then. A read asks for at most the
        // landing's size; the caller gets fewer bytes, as WinINet may give it anyway.
        const DWORD wanted = static_cast<DWORD>(size) < sizeof readLanding_
                                 ? static_cast<DWORD>(size)
                                 : static_cast<DWORD>(sizeof readLanding_);
        readLandingCount_ = 0;
        if (!InternetReadFile(requestHandle, readLanding_, wanted, &readLandingCount_))
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
