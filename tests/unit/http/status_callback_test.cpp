#include "http/http_client.h"
#include "http/status_callback.h"

#include "support/debug_output_capture.h"
#include "support/recording_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void Notify(RecordingClient& job, DWORD status, void* info, DWORD length) {
    StatusCallback<RecordingClient>(nullptr, job.Context(), status, info, length);
}

TEST(StatusCallback, SentBytesAddUpAndEachNotificationIsLogged) {
    RecordingClient job;
    DebugOutputCapture capture;
    DWORD sent = 1234;
    Notify(job, INTERNET_STATUS_REQUEST_SENT, &sent, sizeof sent);
    sent = 66;
    Notify(job, INTERNET_STATUS_REQUEST_SENT, &sent, sizeof sent);
    EXPECT_EQ(job.BytesSent, 1300);
    EXPECT_EQ(job.LastStatus, 31);
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"Status: 31\n", "REQUEST_SENT: 1234\n",
                                                         "Status: 31\n", "REQUEST_SENT: 66\n"}));
}

TEST(StatusCallback, ClosingNotificationsAreCounted) {
    RecordingClient job;
    Notify(job, INTERNET_STATUS_HANDLE_CLOSING, nullptr, 0);
    Notify(job, INTERNET_STATUS_HANDLE_CLOSING, nullptr, 0);
    EXPECT_EQ(job.ClosingCount, 2);
    EXPECT_EQ(job.LastStatus, 70);
    EXPECT_EQ(job.BytesSent, 0);
}

TEST(StatusCallback, CompletionStoresTheResultThenReleasesOneWait) {
    RecordingClient job;
    job.completionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(job.completionEvent, nullptr);
    DebugOutputCapture capture;
    INTERNET_ASYNC_RESULT result = {1, 0};
    Notify(job, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof result);

    EXPECT_EQ(job.asyncResult, 1u);
    EXPECT_EQ(job.asyncError, 0u);
    EXPECT_EQ(job.LastStatus, 100);
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"Status: 100\n", "\tResult 1  Err 0\n"}));
    EXPECT_EQ(WaitForSingleObject(job.completionEvent, 0), WAIT_OBJECT_0);
    // Auto-reset: one completion releases exactly one wait.
    EXPECT_EQ(WaitForSingleObject(job.completionEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(job.completionEvent);
}

TEST(StatusCallback, CompletionWithoutAnEventStillStoresTheError) {
    RecordingClient job;
    INTERNET_ASYNC_RESULT result = {0, ERROR_INTERNET_CANNOT_CONNECT};
    Notify(job, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof result);
    EXPECT_EQ(job.asyncResult, 0u);
    EXPECT_EQ(job.asyncError, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));

    job.completionEvent = INVALID_HANDLE_VALUE;
    result = {1, 0};
    Notify(job, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof result);
    EXPECT_EQ(job.asyncError, 0u);
    job.completionEvent = nullptr;
}

TEST(StatusCallback, OtherNotificationsOnlyRecordTheStatus) {
    RecordingClient job;
    DebugOutputCapture capture;
    char name[] = "127.0.0.1";
    Notify(job, INTERNET_STATUS_RESOLVING_NAME, name, sizeof name);
    Notify(job, INTERNET_STATUS_RECEIVING_RESPONSE, nullptr, 0);
    EXPECT_EQ(job.LastStatus, 40);
    EXPECT_EQ(job.BytesSent, 0);
    EXPECT_EQ(job.ClosingCount, 0);
    EXPECT_EQ(job.asyncResult, 0u);
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"Status: 10\n", "Status: 40\n"}));
}

TEST(StatusCallback, NotificationsWithoutAJobAreIgnored) {
    DebugOutputCapture capture;
    INTERNET_ASYNC_RESULT result = {1, 0};
    StatusCallback<RecordingClient>(nullptr, 0, INTERNET_STATUS_REQUEST_COMPLETE, &result,
                                    sizeof result);
    EXPECT_TRUE(capture.Lines().empty());
}

} // namespace
