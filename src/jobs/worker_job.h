#pragma once
// The worker base of the login and upload jobs: a thread that runs one job once.

#include <windows.h>

#include <atomic>

// The outcome of a job's run: its thread's exit code and the lParam of its completion
// message.
enum JobResult : int {
    Ok = 0,
    Interrupted = 1,
    TimedOut = 2,
    ConnectFailed = 3,
    Rejected = 4,
    ReceiveError = 5,
};

class WorkerJob {
  public:
    WorkerJob() = default;
    WorkerJob(const WorkerJob&) = delete;
    WorkerJob& operator=(const WorkerJob&) = delete;
    // Closes the thread handle; neither waits for the thread nor ends it.
    virtual ~WorkerJob();

    virtual void RequestStop() = 0;
    virtual int Run() = 0;

    HANDLE threadHandle = nullptr;
    unsigned threadId = 0;
    // 1 from the thread's creation until Run has returned.
    std::atomic<int> running{0};
    std::atomic<int> exitCode{0};
};

// The start routine of every job thread.
unsigned __stdcall JobThreadEntry(void* job);

// Creates the job's thread suspended, then resumes it. 0 when it runs, -1 when no thread
// could be created; the starter then decides what becomes of the job (StartLogin leaves it
// for FinishLogin, StartUpload disposes of it at once and puts its row back to waiting).
int StartJobThread(WorkerJob& job);
