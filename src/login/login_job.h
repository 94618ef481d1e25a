#pragma once
// The login: a job that posts the e-mail address and the password digest to the login
// URL and takes a session token from the answer, with its starter. Its teardown is the
// window's (src/app/job_teardowns.h).

#include "jobs/http_job.h"
#include "util/text_sizes.h"

#include <windows.h>

#include <cstddef>

class LoginJob : public HttpJob {
  public:
    LoginJob();

    // Fills the job's fields and resets the per-run fields. False when the URL or the
    // encoded login name does not fit its field: such a login is not started at all.
    bool Configure(const char* url, const char* path, const char* name, const char* digest);
    int Run() override;
    // Copies SessionToken with its terminator; returns the bytes copied (length + 1).
    std::size_t TakeSessionToken(char* destination, std::size_t size) const;
    static void ShowJobResult(int code);

    char ServiceUrl[NameSize];
    char RequestPath[NameSize];
    char EncodedLoginName[NameSize];
    char DigestText[TokenSize];
    char SessionToken[TokenSize];

  private:
    int ReadAnswer();
};

extern LoginJob* CurrentLoginJob;

// 0 when a login job runs or a session is already held; -1 when the user cancelled the
// dialog, the settings do not fit a login, or no thread could be created.
int StartLogin(HWND mainWindow, HWND progressBar);
