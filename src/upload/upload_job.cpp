#include "upload/upload_job.h"

// No upload job exists yet: nothing to start or to tear down.
int StartUpload(HWND, HWND, HWND, int, const char*) {
    return -1;
}
void FinishUpload(int) {}
