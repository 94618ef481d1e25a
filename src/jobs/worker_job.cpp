#include "jobs/worker_job.h"

#include "util/platform_calls.h"

WorkerJob::~WorkerJob() {
    if (threadHandle != nullptr)
        CloseHandle(threadHandle);
    threadHandle = nullptr;
    running = 0;
}

unsigned __stdcall JobThreadEntry(void* argument) {
    WorkerJob* job = static_cast<WorkerJob*>(argument);
    const int result = job->Run();
    job->exitCode = result;
    job->running = 0;
    return static_cast<unsigned>(result);
}

int StartJobThread(WorkerJob& job) {
    job.running = 0;
    job.threadHandle = reinterpret_cast<HANDLE>(
        Platform().BeginThread(nullptr, 0, JobThreadEntry, &job, CREATE_SUSPENDED, &job.threadId));
    if (job.threadHandle == nullptr)
        return -1;
    job.running = 1;
    ResumeThread(job.threadHandle);
    return 0;
}
