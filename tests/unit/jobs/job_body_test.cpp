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

constexpr std::uint32_t BodyLength = 64 * 1024 + 100;

// What the stand-in write saw and how it answers: the first piece that reaches holdFrom
// bytes into the body is held (pending, or blocked until released), the others are taken
// at once.
struct HeldWrite {
    bool pend = true;
    std::uint32_t holdFrom = 0;
    const char* body = nullptr;
    std::atomic<int> calls{0};
    std::atomic<bool> holding{false};
    // How far into the body the pieces passed to WinINet reached.
    std::atomic<std::uint32_t> furthest{0};
    std::atomic<LPDWORD> landing{nullptr};
    std::atomic<DWORD> size{0};
    std::atomic<int> closes{0};
    std::atomic<HINTERNET> closed{nullptr};
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~HeldWrite() {
        CloseHandle(held);
        CloseHandle(release);
    }
};
HeldWrite* Writes = nullptr;

BOOL WINAPI HoldOnePiece(HINTERNET, LPCVOID data, DWORD size, LPDWORD written) {
    ++Writes->calls;
    const std::uint32_t end =
        static_cast<std::uint32_t>(static_cast<const char*>(data) - Writes->body) + size;
    Writes->furthest = std::max<std::uint32_t>(Writes->furthest, end);
    bool holding = false;
    if (end < Writes->holdFrom || !Writes->holding.compare_exchange_strong(holding, true)) {
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
    // Blocked in the send until the link moves on, or the socket's send time-out ends it.
    WaitForSingleObject(Writes->release, HangLimit);
    *written = size;
    return TRUE;
}

BOOL WINAPI RecordClose(HINTERNET handle) {
    ++Writes->closes;
    Writes->closed = handle;
    return TRUE;
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
        platform.calls().InternetWriteFile = HoldOnePiece;
        platform.calls().InternetCloseHandle = RecordClose;
    }
    void TearDown() override { Writes = nullptr; }
    // Starts the body's send of job on a thread of its own and stops it once the held
    // piece is in WinINet's hands: the send gives up, the writer keeps its piece in hand.
    void SendAndStop(PieceJob& job) {
        job.sentBody = HeapBlock(BodyLength);
        writes.body = job.sentBody.Get();
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

TEST_F(JobBodyTest, AStopDuringAPendingPieceCancelsItByClosingTheRequestOnce) {
    PieceJob job;
    job.completionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SendAndStop(job);
    const HINTERNET request = job.requestHandle;

    // Given up, the writer closes the request under its pending piece, WinINet's way to
    // cancel it, and then waits for the piece's end: meanwhile WinINet may still write its
    // count, and a teardown closes nothing.
    EXPECT_TRUE(WaitUntil([&] { return writes.closes == 1; }));
    EXPECT_EQ(writes.closed, request);
    EXPECT_TRUE(job.BodyWriterRunning());
    EXPECT_FALSE(RetireJob(job, 0, 0));
    EXPECT_TRUE(job.WriterHoldsBody());

    // The count WinINet writes when the piece completes lands in the job, which lives on
    // after the writer's thread; the completion ends the piece and is not the request's.
    const char* landing = reinterpret_cast<const char*>(writes.landing.load());
    const char* inJob = reinterpret_cast<const char*>(&job);
    EXPECT_TRUE(landing >= inJob && landing < inJob + sizeof job);
    INTERNET_ASYNC_RESULT result = {0, ERROR_INTERNET_OPERATION_CANCELLED};
    StatusCallback<PieceJob>(nullptr, job.Context(), INTERNET_STATUS_REQUEST_COMPLETE, &result,
                             sizeof result);
    EXPECT_TRUE(WaitUntil([&] { return !job.BodyWriterRunning(); }));
    EXPECT_EQ(WaitForSingleObject(job.completionEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // No piece after the one in hand, and the handle the writer closed is not closed again
    // (its value may name another request by then): the stand-in's close left the test's
    // handle open, so it closes now for the first time.
    EXPECT_EQ(writes.calls, 1);
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
    EXPECT_EQ(job.requestHandle, nullptr);
    EXPECT_EQ(writes.closes, 1);
    EXPECT_TRUE(InternetCloseHandle(request));
}

// A stop or a stall while the piece before the body's end is in WinINet's hands: that piece
// still goes (Wine's send cannot be called back), the end never does, so the service gets
// a cut body and stores nothing.
TEST_F(JobBodyTest, AWriterGivenUpBeforeTheEndNeverPassesTheBodysLastBytes) {
    writes.pend = false;
    writes.holdFrom = BodyLength - UploadBodyEndLength;
    PieceJob job;
    SendAndStop(job);
    EXPECT_FALSE(job.BodyEndHandedOver());

    SetEvent(writes.release);
    EXPECT_TRUE(WaitUntil([&] { return !job.BodyWriterRunning(); }));
    EXPECT_EQ(writes.furthest, BodyLength - UploadBodyEndLength);
    EXPECT_FALSE(job.BodyEndHandedOver());
    EXPECT_EQ(writes.closes, 0);
    EXPECT_TRUE(RetireJob(job, HangLimit, HangLimit));
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

    // The piece ends: the body goes with the writer, though nothing disposes of the job
    // meanwhile.
    SetEvent(writes.release);
    EXPECT_TRUE(WaitUntil([&] { return !job->BodyWriterRunning(); }));
    EXPECT_FALSE(job->WriterHoldsBody());

    // Its last closing lets the job itself go.
    job->ClosingCount = 1;
    DisposeJob(nullptr);
}

} // namespace
