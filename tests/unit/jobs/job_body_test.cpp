// An upload job's body written in pieces, with WinINet's writes and closes replaced: a
// piece that pends, as Windows' WinINet may make one (Wine's never does), and a write
// blocked on a dead link until it is let go, as Wine's is. What is looked at is what
// WinINet was handed: how far into the body the pieces reached, and each close.
#include "http/status_callback.h"
#include "jobs/http_job.h"
#include "support/platform_override.h"
#include "support/wait_until.h"
#include "upload/upload_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace {

// A job that sends nothing but the body after its headers, on a thread of the test's.
class PieceJob : public HttpJob {
  public:
    using AsyncHttpClient::BodyOutcome;
    PieceJob() { bodyEndLength = UploadBodyEndLength; }
    int Run() override { return Ok; }
    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }
    BodyOutcome SendBody(std::uint32_t length) {
        StartWriter(length);
        return StreamBody(length);
    }
    std::atomic<BodyOutcome> outcome{BodyOutcome::Sent};
};

constexpr std::uint32_t BodyLength = 64 * 1024 + 100;
// Where the body's end begins: no piece may pass it before the end is committed.
constexpr std::uint32_t EndBegins = BodyLength - UploadBodyEndLength;

// What the stand-in write saw and how it answers: the first piece that reaches holdFrom
// bytes into the body is held (pending, or blocked until released), the others are taken
// at once (after pause ms, to stretch the send).
struct HeldWrite {
    bool pend = true;
    std::uint32_t holdFrom = UINT32_MAX;
    DWORD pause = 0;
    const char* body = nullptr;
    std::atomic<int> calls{0};
    std::atomic<bool> holding{false};
    // How far into the body the pieces passed to WinINet reached.
    std::atomic<std::uint32_t> furthest{0};
    std::atomic<LPDWORD> landing{nullptr};
    std::atomic<int> closes{0};
    std::atomic<HINTERNET> closed{nullptr};
    // What a close does to the pending piece: completes it within the close (as cancelled),
    // or leaves its completion to the test, or never completes it.
    enum class OnClose { CompleteAtOnce, Nothing } onClose = OnClose::Nothing;
    PieceJob* job = nullptr;
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
        if (Writes->pause != 0)
            Sleep(Writes->pause);
        *written = size;
        return TRUE;
    }
    Writes->landing = written;
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

void CompletePendingPiece(PieceJob& job, DWORD error) {
    INTERNET_ASYNC_RESULT result = {error == 0, error};
    StatusCallback<PieceJob>(nullptr, job.Context(), INTERNET_STATUS_REQUEST_COMPLETE, &result,
                             sizeof result);
}

BOOL WINAPI RecordClose(HINTERNET handle) {
    ++Writes->closes;
    Writes->closed = handle;
    if (Writes->onClose == HeldWrite::OnClose::CompleteAtOnce)
        CompletePendingPiece(*Writes->job, ERROR_INTERNET_OPERATION_CANCELLED);
    return TRUE;
}

DWORD WINAPI SendBody(void* argument) {
    PieceJob* job = static_cast<PieceJob*>(argument);
    job->outcome = job->SendBody(BodyLength);
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
    // Starts the body's send of job on a thread of its own, with a real WinINet handle
    // standing in for the request (the stand-in close leaves it open).
    HANDLE StartSending(PieceJob& job) {
        job.sentBody = HeapBlock(BodyLength);
        writes.body = job.sentBody.Get();
        writes.job = &job;
        request = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        EXPECT_NE(request, nullptr);
        job.requestHandle.Adopt(request);
        HANDLE sender = CreateThread(nullptr, 0, SendBody, &job, 0, nullptr);
        EXPECT_NE(sender, nullptr);
        return sender;
    }
    void AwaitSender(HANDLE sender) {
        EXPECT_EQ(WaitForSingleObject(sender, HangLimit), WAIT_OBJECT_0);
        CloseHandle(sender);
    }

    HeldWrite writes;
    PlatformOverride platform;
    HINTERNET request = nullptr;
};

// The window's teardown gives the body up at some moment of its send, as a quit does, and
// acts on what the one transition answers: given up, the body's end never reaches
// WinINet, whatever the writer does after; not given up, the end was committed first and
// goes whole, and the teardown must await the answer.
TEST_F(JobBodyTest, TheTeardownsGiveUpAndTheEndsHandOverExcludeEachOther) {
    // The piece in WinINet's hands at the give-up: the first, one mid-body, the last
    // before the end, and the end itself.
    for (std::uint32_t holdAt : {ProbePieceSize, BodyLength / 2, EndBegins, BodyLength}) {
        SCOPED_TRACE(holdAt);
        writes.pend = false;
        writes.holdFrom = holdAt;
        writes.holding = false;
        writes.furthest = 0;
        ResetEvent(writes.held);
        ResetEvent(writes.release);
        PieceJob job;
        HANDLE sender = StartSending(job);
        ASSERT_EQ(WaitForSingleObject(writes.held, HangLimit), WAIT_OBJECT_0);
        const bool givenUp = job.RefuseNewRequests();
        SetEvent(writes.release);
        AwaitSender(sender);
        EXPECT_TRUE(WaitUntil([&] { return !job.BodyWriterRunning(); }));
        EXPECT_EQ(givenUp, holdAt < BodyLength);
        if (givenUp) {
            EXPECT_LE(writes.furthest, EndBegins);
            EXPECT_EQ(job.outcome, PieceJob::BodyOutcome::Stopped);
        } else {
            EXPECT_EQ(writes.furthest, BodyLength);
            EXPECT_EQ(job.outcome, PieceJob::BodyOutcome::Sent);
        }
        EXPECT_EQ(writes.closes, 0);
        EXPECT_TRUE(RetireJob(job, HangLimit, 0));
        EXPECT_EQ(writes.closes, 1);
        InternetCloseHandle(request);
        writes.closes = 0;
    }

    // The same race, unheld: a give-up at moments spread over a whole send. Whoever wins,
    // the other acts on it: either the end never went, or it all went and the teardown
    // was told to await the answer.
    writes.holdFrom = UINT32_MAX;
    writes.pause = 1;
    int seenGivenUp = 0;
    int seenCommitted = 0;
    for (DWORD delay = 0; delay < 60; delay += 3) {
        writes.furthest = 0;
        PieceJob job;
        HANDLE sender = StartSending(job);
        Sleep(delay);
        const bool givenUp = job.RefuseNewRequests();
        AwaitSender(sender);
        EXPECT_TRUE(WaitUntil([&] { return !job.BodyWriterRunning(); }));
        if (givenUp) {
            ++seenGivenUp;
            EXPECT_LE(writes.furthest, EndBegins) << delay;
        } else {
            ++seenCommitted;
            EXPECT_EQ(writes.furthest, BodyLength) << delay;
        }
        EXPECT_TRUE(RetireJob(job, HangLimit, 0));
        InternetCloseHandle(request);
    }
    // The moments reached both sides of the race.
    EXPECT_GT(seenGivenUp, 0);
    EXPECT_GT(seenCommitted, 0);
}

// A stop while a piece pends: the writer cancels it by closing the request, and that close
// is the only one, whether the cancelled piece completes within the close itself, a
// moment later, or never (the writer then ends at its limit and keeps the block).
TEST_F(JobBodyTest, ACancelledPiecesRequestIsClosedOnceHoweverItsCompletionComes) {
    enum class Completion { WithinTheClose, Later, Never };
    for (Completion completion :
         {Completion::WithinTheClose, Completion::Later, Completion::Never}) {
        SCOPED_TRACE(static_cast<int>(completion));
        writes.pend = true;
        writes.holdFrom = 0;
        writes.holding = false;
        writes.closes = 0;
        writes.onClose = completion == Completion::WithinTheClose
                             ? HeldWrite::OnClose::CompleteAtOnce
                             : HeldWrite::OnClose::Nothing;
        ResetEvent(writes.held);
        PieceJob job;
        job.completionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        HANDLE sender = StartSending(job);
        ASSERT_EQ(WaitForSingleObject(writes.held, HangLimit), WAIT_OBJECT_0);
        job.RequestStop();
        AwaitSender(sender);
        // The watch ends with the stop, or with the writer that the give-up let end first.
        EXPECT_TRUE(job.outcome == PieceJob::BodyOutcome::Stopped ||
                    job.outcome == PieceJob::BodyOutcome::Cancelled);

        // Given up, the writer closes the request under its pending piece, WinINet's way to
        // cancel it. Until the piece's end, WinINet may still write its count: it lands in
        // the job, which lives on after the writer's thread.
        EXPECT_TRUE(WaitUntil([&] { return writes.closes == 1; }));
        EXPECT_EQ(writes.closed, request);
        const char* landing = reinterpret_cast<const char*>(writes.landing.load());
        const char* inJob = reinterpret_cast<const char*>(&job);
        EXPECT_TRUE(landing >= inJob && landing < inJob + sizeof job);
        if (completion == Completion::Later) {
            EXPECT_TRUE(job.BodyWriterRunning());
            // Nothing is closed meanwhile by the owner's cleanup either.
            job.CloseHandles();
            EXPECT_EQ(writes.closes, 1);
            CompletePendingPiece(job, ERROR_INTERNET_OPERATION_CANCELLED);
        }
        // The writer ends by design: with the completion, or at its limit without one.
        EXPECT_TRUE(
            WaitUntil([&] { return !job.BodyWriterRunning(); }, CancelledPieceLimit + HangLimit));
        // The completion ended the piece and is not the request's.
        EXPECT_EQ(WaitForSingleObject(job.completionEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_EQ(writes.calls, 1);
        // The owner's cleanup and the teardown close nothing more: the handle the writer
        // closed may name another request by now. The stand-in's close left the test's
        // handle open, so it closes now for the first time.
        job.CloseHandles();
        EXPECT_TRUE(RetireJob(job, HangLimit, 0));
        EXPECT_EQ(job.requestHandle.Get(), nullptr);
        EXPECT_EQ(writes.closes, 1);
        EXPECT_TRUE(InternetCloseHandle(request));
        writes.calls = 0;
    }
}

TEST_F(JobBodyTest, ASetAsideJobGoesOnceItsWriterHasEndedAndItsClosingsCame) {
    writes.pend = false;
    writes.holdFrom = 0;
    PieceJob* job = new PieceJob();
    // WinINet owes the job a closing notification that does not come while it holds the
    // request: the job stays set aside after its writer has ended.
    job->contextHandlesOpened = 1;
    HANDLE sender = StartSending(*job);
    ASSERT_EQ(WaitForSingleObject(writes.held, HangLimit), WAIT_OBJECT_0);
    job->RequestStop();
    AwaitSender(sender);

    // Blocked in its piece, the writer still uses the request: nothing is closed.
    DisposeJob(job);
    EXPECT_TRUE(job->BodyWriterRunning());
    EXPECT_EQ(writes.closes, 0);

    // The piece ends; the next disposal closes the request, once.
    SetEvent(writes.release);
    EXPECT_TRUE(WaitUntil([&] { return !job->BodyWriterRunning(); }));
    DisposeJob(nullptr);
    EXPECT_EQ(writes.closes, 1);

    // Its last closing lets the job itself go.
    job->ClosingCount = 1;
    DisposeJob(nullptr);
    InternetCloseHandle(request);
}

} // namespace
