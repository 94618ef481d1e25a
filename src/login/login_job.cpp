#include "login/login_job.h"

// No login job exists yet: nothing to start or to tear down.
int StartLogin(HWND, HWND) {
    return -1;
}
void FinishLogin() {}
