#pragma once
// The login: a job that posts the e-mail address and the password digest to the login
// URL and takes a session token from the answer, with its starter and teardown.

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
// Takes the session token into Settings.SessionId and destroys the job, if there is one.
// False when there was none.
bool FinishLogin();

// FinishLogin's pause between the stop request and the job's destruction: time for the
// login's thread to see the stop (its answer reads pause a second between pieces) before
// the retirement waits for it.
constexpr DWORD LoginTeardownPause = 1000;
