#include "util/platform_calls.h"

#include <process.h>

namespace {

PlatformCalls RealCalls() {
    return PlatformCalls{::GetVersion,         ::DdeImpersonateClient, ::RevertToSelf,
                         ::GetAsyncKeyState,   ::_beginthreadex,       ::InternetWriteFile,
                         ::InternetCloseHandle};
}

PlatformCalls calls = RealCalls();

} // namespace

PlatformCalls& Platform() {
    return calls;
}

void ResetPlatformCalls() {
    calls = RealCalls();
}
