#include "dde/dde_service.h"

#include "dde/dde_callback.h"
#include "dde/dde_tables.h"

namespace {

HSZ CreateHandle(const char* name) {
    return DdeCreateStringHandleA(DdeInstance, name, CP_WINANSI);
}

} // namespace

int StartDdeService(HWND mainWindow, HWND queueList) {
    DdeFormats[0].format = CF_TEXT;
    ServiceContext.iCodePage = CP_WINANSI;
    DdeNotifyWindow = mainWindow;
    DdeQueueList = queueList;

    DdeInstance = 0;
    if (DdeInitializeA(&DdeInstance, DdeCallback, APPCMD_FILTERINITS, 0) != DMLERR_NO_ERROR) {
        DdeInstance = 0;
        return 0;
    }
    // DDEML hands out one handle per distinct string and counts its uses, so "SysItems"
    // under both topics is created (and later freed) twice.
    ServiceName = CreateHandle(ServiceNameText);
    for (DdeTopic& topic : DdeTopics) {
        topic.handle = CreateHandle(topic.name);
        for (DWORD i = 0; i < topic.itemCount; ++i)
            topic.items[i].handle = CreateHandle(topic.items[i].name);
    }
    DdeNameService(DdeInstance, ServiceName, nullptr, DNS_REGISTER);
    return 1;
}

void StopDdeService() {
    if (DdeInstance == 0)
        return;
    DdeNameService(DdeInstance, nullptr, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(DdeInstance, ServiceName);
    ServiceName = nullptr;
    for (DdeTopic& topic : DdeTopics) {
        DdeFreeStringHandle(DdeInstance, topic.handle);
        topic.handle = nullptr;
        for (DWORD i = 0; i < topic.itemCount; ++i) {
            DdeFreeStringHandle(DdeInstance, topic.items[i].handle);
            topic.items[i].handle = nullptr;
        }
    }
    DdeUninitialize(DdeInstance);
    DdeInstance = 0;
}
