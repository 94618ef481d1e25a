#include "dde/dde_service.h"

// The service proper comes with the DDE item handlers; the window needs only a start.
int StartDdeService(HWND) {
    return 1;
}
void StopDdeService() {}
