#include "dde/dde_callback.h"

#include "dde/dde_service.h"
#include "dde/dde_tables.h"
#include "util/platform_calls.h"

#include <cstring>
#include <vector>

namespace {

// Execute commands are read into this buffer; only its first six bytes decide.
char ExecuteBuffer[40];

HDDEDATA RunExecute(HSZ topic, HDDEDATA data) {
    if (topic != DdeTopics[SystemTopicIndex].handle)
        return nullptr;
    // Cleared first: an empty command must not find the previous one still there.
    std::memset(ExecuteBuffer, 0, sizeof ExecuteBuffer);
    DdeGetData(data, reinterpret_cast<LPBYTE>(ExecuteBuffer), sizeof ExecuteBuffer, 0);
    ExecuteBuffer[sizeof ExecuteBuffer - 1] = '\0';
    if (std::memcmp(ExecuteBuffer, "upload", 6) == 0)
        PostMessageA(DdeNotifyWindow, WM_COMMAND, UploadCommandId, 0);
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

HDDEDATA AnswerWildConnect(HSZ topic, HSZ service, UINT format, const CONVCONTEXT* context) {
    if (!PassesContextTest(context))
        return nullptr;
    if (service != nullptr && DdeCmpStringHandles(service, ServiceName) != 0)
        return nullptr;
    std::vector<HSZPAIR> pairs;
    if (topic == nullptr) {
        for (const DdeTopic& t : DdeTopics)
            pairs.push_back({ServiceName, t.handle});
    } else {
        pairs.push_back({ServiceName, topic});
    }
    pairs.push_back({nullptr, nullptr});
    return DdeCreateDataHandle(DdeInstance, reinterpret_cast<LPBYTE>(pairs.data()),
                               static_cast<DWORD>(pairs.size() * sizeof(HSZPAIR)), 0, nullptr,
                               format, 0);
}

} // namespace

bool PassesContextTest(const CONVCONTEXT* context) {
    if (context == nullptr)
        return true;
    if (context->wFlags != ServiceContext.wFlags ||
        context->iCodePage != ServiceContext.iCodePage ||
        context->dwSecurity != ServiceContext.dwSecurity)
        return false;
    // Impersonation levels matter only where the handlers run impersonated. The Windows 9x
    // family has no impersonation and its contexts carry none (nor do Wine's, which never
    // pass the client's context on), so there the level is not asked for.
    if (IsWindows9xFamily())
        return true;
    return context->qos.ImpersonationLevel >= SecurityImpersonation;
}

HDDEDATA CallItemHandler(const DdeItem& item, const XferInfo& xfer, WORD formatIndex) {
    if (IsWindows9xFamily())
        return item.handler(&xfer, formatIndex);
    if (!Platform().DdeImpersonateClient(xfer.conversation))
        return nullptr;
    HDDEDATA result = item.handler(&xfer, formatIndex);
    Platform().RevertToSelf();
    return result;
}

HDDEDATA MapHandlerResult(UINT type, HDDEDATA result) {
    switch (type & 0xFC00) {
    case XCLASS_BOOL:
        return reinterpret_cast<HDDEDATA>(TRUE);
    case XCLASS_DATA:
        return result;
    case XCLASS_FLAGS:
        return reinterpret_cast<HDDEDATA>(result != nullptr ? DDE_FACK : DDE_FNOTPROCESSED);
    default:
        return nullptr;
    }
}

HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ item,
                              HDDEDATA data, ULONG_PTR value1, ULONG_PTR value2) {
    if (type == XTYP_CONNECT_CONFIRM || type == XTYP_DISCONNECT)
        return nullptr;
    const int formatIndex = format != 0 ? FindFormat(format) : 0;
    if (formatIndex < 0)
        return nullptr;
    if (type == XTYP_EXECUTE)
        return RunExecute(topic, data);
    if (type == XTYP_WILDCONNECT)
        return AnswerWildConnect(topic, item, format, reinterpret_cast<const CONVCONTEXT*>(value1));

    DdeTopic* knownTopic = FindTopic(topic);
    if (knownTopic == nullptr)
        return nullptr;
    if (type == XTYP_CONNECT)
        return reinterpret_cast<HDDEDATA>(
            PassesContextTest(reinterpret_cast<const CONVCONTEXT*>(value1)) ? TRUE : FALSE);

    DdeItem* knownItem = FindItem(*knownTopic, item);
    if (knownItem == nullptr)
        return nullptr;
    const XferInfo xfer = {type, format, conversation, topic, item, data, value1, value2};
    HDDEDATA result = CallItemHandler(*knownItem, xfer, static_cast<WORD>(formatIndex));
    return MapHandlerResult(type, result);
}
