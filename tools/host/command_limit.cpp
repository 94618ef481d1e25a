#include "command_limit.h"

#include <cstdio>

DWORD Milliseconds(double seconds) {
    constexpr double Longest = INFINITE - 1.0;
    return seconds <= 0 ? 0
                        : static_cast<DWORD>(seconds * 1000 < Longest ? seconds * 1000 : Longest);
}

CommandLimit::CommandLimit(double seconds, int exitStatus, Expiry expiry, void* context)
    : milliseconds_(Milliseconds(seconds)), exitStatus_(exitStatus), expiry_(expiry),
      context_(context) {
    finished_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
}

CommandLimit::~CommandLimit() {
    Finish();
    if (thread_ != nullptr)
        CloseHandle(thread_);
    if (finished_ != nullptr)
        CloseHandle(finished_);
}

void CommandLimit::Finish() {
    const LONG was = InterlockedCompareExchange(&state_, Finished, Running);
    if (was == Expired) {
        // The limit's thread is writing its verdict and ends the process.
        for (;;)
            Sleep(INFINITE);
    }
    if (was == Running && finished_ != nullptr) {
        SetEvent(finished_);
        if (thread_ != nullptr)
            WaitForSingleObject(thread_, INFINITE);
    }
}

DWORD WINAPI CommandLimit::Watch(void* self) {
    CommandLimit& limit = *static_cast<CommandLimit*>(self);
    if (WaitForSingleObject(limit.finished_, limit.milliseconds_) != WAIT_TIMEOUT)
        return 0;
    if (InterlockedCompareExchange(&limit.state_, Expired, Running) != Running)
        return 0;
    if (limit.expiry_ != nullptr)
        limit.expiry_(limit.context_);
    std::fflush(stdout);
    std::fflush(stderr);
    // Not ExitProcess: its DLL detach could wait for a lock that the command's thread,
    // stopped inside a DDE call, still holds.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(limit.exitStatus_));
    return 0;
}
