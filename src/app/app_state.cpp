#include "app/app_state.h"

int ExpectedFileCount = 0;

HINSTANCE AppInstance = nullptr;
HWND MainWindow = nullptr;

HWND Backdrop = nullptr;
HWND StatusLabel = nullptr;
HWND OverallBar = nullptr;
HWND TransferBar = nullptr;
HWND QueueList = nullptr;
HWND UploadButton = nullptr;
