#include "support/played_run.h"

#include "jobs/worker_job.h"
#include "support/wait_until.h"

#include <process.h>

int PlayedResult = Ok;
HANDLE RunRelease = nullptr;

namespace {

unsigned __stdcall EndAsRun(void* argument) {
    WorkerJob* job = static_cast<WorkerJob*>(argument);
    job->exitCode = PlayedResult;
    job->running = 0;
    return 0;
}

unsigned __stdcall RunUntilReleased(void* argument) {
    WaitForSingleObject(RunRelease, HangLimit);
    return EndAsRun(argument);
}

} // namespace

uintptr_t RunThatEnds(void* security, unsigned stackSize, unsigned(__stdcall*)(void*),
                      void* argument, unsigned flags, unsigned* threadId) {
    return _beginthreadex(security, stackSize, EndAsRun, argument, flags, threadId);
}

uintptr_t RunThatWaits(void* security, unsigned stackSize, unsigned(__stdcall*)(void*),
                       void* argument, unsigned flags, unsigned* threadId) {
    return _beginthreadex(security, stackSize, RunUntilReleased, argument, flags, threadId);
}

uintptr_t NoThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
    return 0;
}
