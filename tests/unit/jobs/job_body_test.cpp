// An upload job's body written in pieces, with WinINet's writes replaced: a piece that
// pends, as Windows' WinINet may make one (Wine's never does), and a write blocked on a
// dead link until the send time-out ends it, as Wine's is.
#include "http/status_callback.h"
#include "jobs/http_job.h"
#include "support/platform_override.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace {

// A job that sends nothing but the body after its headers, on the caller's thread.
class PieceJob : public HttpJob {
  public:
    int Run() override { return Ok; }
    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }
    void SendBody(std::uint32_t length) {
        INTERNET_BUFFERSA record = {};
        record.dwStructSize = sizeof record;
        record.dwBufferTotal = length;
        SendRestOfBody(record);
    }
};

constexpr std::uint32_t BodyLength = 64 * 1024;

// What the stand-in write saw and how it answers: the first piece is held (pending, or
// blocked until released) and the later ones are taken at once.
struct HeldWrite {
    bool pend = true;
    std::atomic<int> calls{0};
    std::atomic<LPDWORD> landing{nullptr};
    std::atomic<DWORD> size{0};
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~HeldWrite() {
        CloseHandle(held);
        CloseHandle(release);
    }
};
HeldWrite* Writes = nullptr;

BOOL WINAPI HoldFirstPiece(HINTERNET, LPCVOID, DWORD size, LPDWORD written) {
    if (++Writes->calls > 1) {
        *written = size;
        return TRUE;
    }
    Writes->landing = written;
    Writes->size = size;
    SetEvent(Writes->held);
    if (Writes->pend) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    // Blocked in the send until the socket's send time-out ends it.
    WaitForSingleObject(Writes->release, HangLimit);
    SetLastError(ERROR_INTERNET_TIMEOUT);
    return FALSE;
}

DWORD WINAPI SendBodyUntilStopped(void* job) {
    try {
        static_cast<PieceJob*>(job)->SendBody(BodyLength);
    } catch (const char*) {
        // The stop ends the send.
    }
    return 0;
}

class JobBodyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Writes = &writes;
        platform.calls().InternetWriteFile = HoldFirstPiece;
    }
    void TearDown() override { Writes = nullptr; }
    // Starts the body's send of job on a thread of its own and stops it once the first
    // piece is in WinINet's hands: the send gives up, the writer keeps its piece in hand.
    void SendAndStop(PieceJob& job) {
        job.sentBody = HeapBlock(BodyLength);
        job.requestHandle = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        ASSERT_NE(job.requestHandle, nullptr);
        HANDLE sender = CreateThread(nullptr, 0, SendBodyUntilStopped, &job, 0, nullptr);
        ASSERT_NE(sender, nullptr);
        ASSERT_EQ(WaitForSingleObject(writes.held, HangLimit), WAIT_OBJECT_0);
        job.RequestStop();
        EXPECT_EQ(WaitForSingleObject(sender, HangLimit), WAIT_OBJECT_0);
        CloseHandle(sender);
    }

    HeldWrite writes;
    PlatformOverride platform;
};

TEST_F(JobBodyTest, AStopDuringAPendingPieceWaitsForItsOwnCompletionBeforeAnyHandleCloses) {
    PieceJob job;
    job.completionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SendAndStop(job);
    const HINTERNET request = job.requestHandle;

    // WinINet still holds the piece: its writer waits for it, and a teardown closes
    // nothing meanwhile.
    EXPECT_TRUE(job.BodyWriterRunning());
    EXPECT_FALSE(RetireJob(job, HangLimit, HangLimit));
    EXPECT_EQ(job.requestHandle, request);
    EXPECT_TRUE(job.BodyWriterRunning());

    // The count WinINet writes when the piece completes lands in the job, which lives on
    // after the writer's thread; the completion ends the piece and is not the request's.
    const char* landing = reinterpret_cast<const char*>(writes.landing.load());
    const char* inJob = reinterpret_cast<const char*>(&job);
    EXPECT_TRUE(landing >= inJob && landing < inJob + sizeof job);
    *writes.landing = writes.size;
    INTERNET_ASYNC_RESULT result = {1, 0};
    StatusCallback<PieceJob>(nullptr, job.Context(), INTERNET_STATUS_REQUEST_COMPLETE, &result,
                             sizeof result);
    EXPECT_TRUE(WaitUntil([&] { return !job.BodyWriterRunning(); }));
    EXPECT_EQ(WaitForSingleObject(job.completionEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // Given up: no piece after the one in hand.
    EXPECT_EQ(writes.calls, 1);
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
    EXPECT_EQ(job.requestHandle, nullptr);
}

TEST_F(JobBodyTest, ASetAsideJobLetsItsBodyGoOnceItsWriterHasEnded) {
    writes.pend = false;
    PieceJob* job = new PieceJob();
    // WinINet owes the job a closing notification that does not come while it holds the
    // request: the job stays set aside after its writer has ended.
    job->contextHandlesOpened = 1;
    SendAndStop(*job);

    // Blocked in its piece, the writer still reads the body.
    DisposeJob(job);
    EXPECT_TRUE(job->BodyWriterRunning());
    EXPECT_TRUE(job->WriterHoldsBody());

    // The send time-out ends the piece: the body goes with the writer, though nothing
    // disposes of the job meanwhile.
    SetEvent(writes.release);
    EXPECT_TRUE(WaitUntil([&] { return !job->BodyWriterRunning(); }));
    EXPECT_FALSE(job->WriterHoldsBody());

    // Its last closing lets the job itself go.
    job->ClosingCount = 1;
    DisposeJob(nullptr);
}

} // namespace
