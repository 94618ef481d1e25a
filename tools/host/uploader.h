#pragma once
// The uploader as a host finds it: its DDE service, its window and its process.

#include "dde_client.h"
#include "util/win_handles.h"

#include <windows.h>

constexpr char UploaderService[] = "VistoraUploadServer";
constexpr char UploaderWindowClass[] = "TAVIKVISTORAUPLOAD";

// Between two attempts to connect to a service that is not there yet.
constexpr DWORD ConnectRetryPause = 200;

// The uploader's process: for the wait at the end, and its id for the windows it shows.
struct UploaderProcess {
    UniqueHandle handle;
    DWORD id = 0;
};

bool UploaderWindowUp();
// The process of the uploader whose window is up; none when no window is.
UploaderProcess OpenRunningUploader();

// Tries to connect to topic until the service answers or seconds have passed.
bool ConnectWithin(DdeClient& client, const char* topic, const CONVCONTEXT& context,
                   double seconds);

// Dispatches this thread's messages for the given time; none for 0.
void DispatchMessagesFor(DWORD milliseconds);
