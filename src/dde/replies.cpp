#include "dde/replies.h"

#include <cstring>

HDDEDATA AdviseStartOnly(const XferInfo* xfer) {
    return xfer->type == XTYP_ADVSTART ? reinterpret_cast<HDDEDATA>(TRUE) : nullptr;
}

HDDEDATA ReplyBytes(const XferInfo* xfer, const void* bytes, std::size_t size) {
    return DdeCreateDataHandle(DdeInstance, static_cast<LPBYTE>(const_cast<void*>(bytes)),
                               static_cast<DWORD>(size), 0, xfer->item, xfer->format, 0);
}

HDDEDATA FilledReply(const XferInfo* xfer, const std::string& bytes) {
    HDDEDATA reply = DdeCreateDataHandle(DdeInstance, nullptr, static_cast<DWORD>(bytes.size()), 0,
                                         xfer->item, xfer->format, 0);
    if (reply == nullptr)
        return nullptr;
    DWORD size = 0;
    LPBYTE data = DdeAccessData(reply, &size);
    if (data == nullptr) {
        DdeFreeDataHandle(reply);
        return nullptr;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    DdeUnaccessData(reply);
    return reply;
}

DWORD ReadPokedData(const XferInfo* xfer, char* buffer, std::size_t size) {
    std::memset(buffer, 0, size);
    if (xfer->data == nullptr)
        return 0;
    return DdeGetData(xfer->data, reinterpret_cast<LPBYTE>(buffer), static_cast<DWORD>(size), 0);
}
