// The body of an upload after its headers: its writer started, and the watch over it that
// moves the progress and ends the send, returning how it ended. The writer's thread
// writes the pieces (body_writer.cpp); the job's thread watches here, free to give up.
#include "http/client_errors.h"
#include "http/http_client.h"
#include "http/request_limits.h"
#include "util/debug_line.h"
#include "util/win_handles.h"

#include <utility>

namespace {

void WriteStalledLine(std::uint32_t sent, std::uint32_t total) {
    WriteDebugLine("request body stalled: %lu of %lu bytes sent\n",
                   static_cast<unsigned long>(sent), static_cast<unsigned long>(total));
}

} // namespace

void AsyncHttpClient::StartWriter(std::uint32_t total) {
    // Only a record that carries none of its body comes here (AsyncPostMultipart's), so
    // WinINet keeps no pointer into the block: the writer takes it whole.
    if (!bodyWriter_.Start(requestHandle, bodyFate_, std::move(sentBody), total, bodyEndLength,
                           PieceLimit(stallLimit))) {
        sendOutcome = SendOutcome::Failed;
        throw ClientError::SendFailed;
    }
}

AsyncHttpClient::BodyOutcome AsyncHttpClient::StreamBody(std::uint32_t total) {
    const HANDLE events[] = {bodyWriter_.Finished(), stopEvent};
    const DWORD count = IsValidHandle(stopEvent) ? 2 : 1;
    std::uint32_t seen = 0;
    DWORD lastMove = GetTickCount();
    // Set once a stall found the end committed: the body may arrive whole, so the end's
    // piece is waited out, taken or ended at its limit, and the answer decides.
    bool waitingOutEnd = false;
    for (;;) {
        const DWORD waited = WaitForMultipleObjects(count, events, FALSE, BodyProgressSlice);
        const std::uint32_t written = bodyWriter_.Written();
        if (written != seen) {
            seen = written;
            lastMove = GetTickCount();
            OnBodyProgress(seen, total);
        }
        if (waited == WAIT_OBJECT_0)
            break;
        // A stop (or a wait that cannot wait) ends the watch: the writer stops after its
        // piece in hand, short of the end unless the end was committed first.
        if (waited != WAIT_TIMEOUT) {
            GiveUpBody("stop");
            return BodyOutcome::Stopped;
        }
        if (!waitingOutEnd && GetTickCount() - lastMove >= stallLimit) {
            if (GiveUpBody("stall")) {
                WriteStalledLine(seen, total);
                return BodyOutcome::Stalled;
            }
            waitingOutEnd = true;
        }
    }
    // The writer has finished: by the body's end, a failed piece, a give-up, or a pending
    // piece it cancelled by closing the request.
    if (bodyWriter_.Cancelled()) {
        if (bodyWriter_.RanOutOfTime())
            WriteStalledLine(seen, total);
        return BodyOutcome::Cancelled;
    }
    if (bodyWriter_.Failed()) {
        WriteDebugLine("request body cut short: %lu of %lu bytes sent\n",
                       static_cast<unsigned long>(seen), static_cast<unsigned long>(total));
        return BodyOutcome::CutShort;
    }
    if (seen < total)
        return BodyOutcome::Stopped;
    // The socket still holds the end of the body, and on a slow link it may take longer to
    // leave than the service takes to answer: the answer's time starts once the measured
    // rate has carried it out.
    bodyDrainAllowance_ = bodyWriter_.DrainMs();
    if (bodyWriter_.RateBytesPerSecond() != 0)
        measuredDrainAllowance_ = bodyDrainAllowance_.load();
    WriteDebugLine("request body written: %lu bytes, link %lu bytes/s, %lu ms to drain\n",
                   static_cast<unsigned long>(total),
                   static_cast<unsigned long>(bodyWriter_.RateBytesPerSecond()),
                   static_cast<unsigned long>(bodyDrainAllowance_.load()));
    return BodyOutcome::Sent;
}

void AsyncHttpClient::OnBodyProgress(std::uint32_t, std::uint32_t) {}

bool AsyncHttpClient::GiveUpBody(const char* by) {
    bool moved = false;
    const bool givenUp = bodyFate_.GiveUp(&moved);
    if (givenUp)
        bodyWriter_.NoticeGiveUp();
    if (moved)
        WriteDebugLine("request body given up: %s\n", by);
    return givenUp;
}

void AsyncHttpClient::CloseHandles() {
    // A writer still in its pieces uses the request: the teardown closes it once the
    // writer has ended.
    if (!bodyWriter_.UsesRequest())
        requestHandle.Close();
    CloseInternetHandle(connectionHandle);
    CloseInternetHandle(sessionHandle);
}

bool AsyncHttpClient::AwaitBodyWriter(DWORD limit) const {
    const HANDLE writer = bodyWriter_.Thread();
    return writer == nullptr || WaitForSingleObject(writer, limit) == WAIT_OBJECT_0;
}
