#pragma once
// The DDE service's static tables: the one format, the two topics and their items.
// Only the string handles are filled in when the service starts.

#include <windows.h>
#include <ddeml.h>

// What a transaction hands to an item handler: eight 32-bit values in callback order.
struct XferInfo {
    UINT type;
    UINT format;
    HCONV conversation;
    HSZ topic;
    HSZ item;
    HDDEDATA data;
    ULONG_PTR value1;
    ULONG_PTR value2;
};

// Returns a data handle, TRUE/FALSE or DDE_FACK; the callback maps it by transaction class.
using ItemHandler = HDDEDATA (*)(const XferInfo* xfer, WORD formatIndex);

struct DdeFormat {
    WORD format;
    const char* name;
};

struct DdeItem {
    HSZ handle;
    ItemHandler handler;
    const char* name;
};

struct DdeTopic {
    HSZ handle;
    DdeItem* items;
    DWORD itemCount;
    const char* name;
};

constexpr char ServiceNameText[] = "VistoraUploadServer";
constexpr int DdeFormatCount = 1;
constexpr int DdeTopicCount = 2;
constexpr int SystemTopicIndex = 0;
constexpr int UploadTopicIndex = 1;

extern DdeFormat DdeFormats[DdeFormatCount];
extern DdeTopic DdeTopics[DdeTopicCount];

extern DWORD DdeInstance;
extern HSZ ServiceName;
// The context a client must present.
extern CONVCONTEXT ServiceContext;
// Where the "upload" execute is posted, and the list whose rows are the handed-over files.
extern HWND DdeNotifyWindow;
extern HWND DdeQueueList;

// The index of format in the format table, or -1.
int FindFormat(UINT format);
// The topic whose handle matches (case-insensitive string comparison), or null.
DdeTopic* FindTopic(HSZ topic);
DdeItem* FindItem(DdeTopic& topic, HSZ item);
