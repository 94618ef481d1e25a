#include "dde/dde_tables.h"

#include "dde/item_handlers.h"

DdeFormat DdeFormats[DdeFormatCount] = {{0, "CF_TEXT"}};

namespace {

DdeItem SystemItems[] = {
    {nullptr, TopicListXfer, "Topics"},
    {nullptr, ItemListXfer, "SysItems"},
    {nullptr, FormatListXfer, "Formats"},
    {nullptr, HelpTextXfer, "Help"},
};

DdeItem UploadItems[] = {
    {nullptr, UploadFilenameXfer, "Filename"},
    {nullptr, ItemListXfer, "SysItems"},
    {nullptr, LoginDataXfer, "LoginData"},
    {nullptr, ExitConditionXfer, "ExitCondition"},
};

} // namespace

DdeTopic DdeTopics[DdeTopicCount] = {
    {nullptr, SystemItems, 4, "System"},
    {nullptr, UploadItems, 4, "Upload"},
};

DWORD DdeInstance = 0;
HSZ ServiceName = nullptr;
CONVCONTEXT ServiceContext = {
    sizeof(CONVCONTEXT),
    0,
    0,
    CP_WINANSI,
    0,
    0,
    {sizeof(SECURITY_QUALITY_OF_SERVICE), SecurityImpersonation, SECURITY_STATIC_TRACKING, TRUE}};
HWND DdeNotifyWindow = nullptr;
HWND DdeQueueList = nullptr;

int FindFormat(UINT format) {
    for (int i = 0; i < DdeFormatCount; ++i) {
        if (DdeFormats[i].format == format)
            return i;
    }
    return -1;
}

DdeTopic* FindTopic(HSZ topic) {
    for (DdeTopic& candidate : DdeTopics) {
        if (DdeCmpStringHandles(candidate.handle, topic) == 0)
            return &candidate;
    }
    return nullptr;
}

DdeItem* FindItem(DdeTopic& topic, HSZ item) {
    for (DWORD i = 0; i < topic.itemCount; ++i) {
        if (DdeCmpStringHandles(topic.items[i].handle, item) == 0)
            return &topic.items[i];
    }
    return nullptr;
}
