#pragma once
// The WinINet status callback that each job registers as StatusCallback<ItsJobClass>.
//
// The context value is the job object, whose first base is AsyncHttpClient, so the one
// pointer reaches both the client's completion fields and the job's counters. Job must
// provide the 32-bit int fields LastStatus, BytesSent and ClosingCount. The callback runs
// on WinINet's threads; the event orders asyncResult and asyncError before the job
// thread's read of them. A completion that ends a pending piece of an upload's body goes
// to the body's writer alone (body_writer.h): the request's fields and event stay the
// request's.

#include "util/debug_line.h"
#include "util/win_handles.h"

#include <windows.h>
#include <wininet.h>

template <class Job>
void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    // Handles without a context (the session) are not the job's; WinINet does not report
    // them, and nothing may be written through a null job if it ever did.
    if (context == 0)
        return;
    Job* job = reinterpret_cast<Job*>(context);
    job->LastStatus = static_cast<int>(status);

    WriteDebugLine("Status: %d\n", static_cast<int>(status));

    switch (status) {
    case INTERNET_STATUS_REQUEST_SENT:
        if (info != nullptr) {
            const DWORD sent = *static_cast<const DWORD*>(info);
            job->BytesSent += static_cast<int>(sent);
            WriteDebugLine("REQUEST_SENT: %d\n", static_cast<int>(sent));
        }
        break;
    case INTERNET_STATUS_HANDLE_CLOSING:
        job->ClosingCount += 1;
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        if (info != nullptr) {
            const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            WriteDebugLine("\tResult %d  Err %d\n", static_cast<int>(result->dwResult),
                           static_cast<int>(result->dwError));
            if (job->TakePieceCompletion(static_cast<DWORD>(result->dwResult), result->dwError))
                break;
            job->asyncResult = static_cast<DWORD>(result->dwResult);
            job->asyncError = result->dwError;
            // A completed InternetQueryDataAvailable carries the bytes available in
            // dwError; only dwResult says whether the operation succeeded.
            job->lastCompletionOk = result->dwResult != 0;
        }
        job->completionCount += 1;
        if (IsValidHandle(job->completionEvent))
            SetEvent(job->completionEvent);
        break;
    default:
        break;
    }
}
