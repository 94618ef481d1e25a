#include "login/login_job.h"

#include "http/status_callback.h"
#include "jobs/job_messages.h"
#include "login/form_encoding.h"
#include "login/login_answer.h"
#include "login/login_dialog.h"
#include "login/password_digest.h"
#include "settings/settings.h"
#include "util/bounded_text.h"

#include <cstring>

LoginJob* CurrentLoginJob = nullptr;

namespace {

// The login reads its answer a moment after the request completed, so that a short
// token is usually in whole at the first read; then in pieces a second apart, for 10 s at
// most, since a token that comes in pieces is judged only once 24 bytes are in.
constexpr DWORD FirstReadPause = 500;
constexpr DWORD ReadPause = 1000;
constexpr DWORD LoginAnswerLimit = 10000;

const char* const LoginMessages[] = {
    "OK",
    JobText::Interrupted,
    JobText::TimedOut,
    JobText::ConnectFailed,
    "パスワードもしくはログインネームが異なります",
    "受信にエラーが起こりました。",
};

} // namespace

LoginJob::LoginJob() {
    std::memset(ServiceUrl, 0, sizeof ServiceUrl);
    std::memset(RequestPath, 0, sizeof RequestPath);
    std::memset(EncodedLoginName, 0, sizeof EncodedLoginName);
    std::memset(DigestText, 0, sizeof DigestText);
    std::memset(SessionToken, 0, sizeof SessionToken);
}

bool LoginJob::Configure(const char* url, const char* path, const char* name, const char* digest) {
    const bool fits = CopyText(ServiceUrl, url) && CopyText(RequestPath, path) &&
                      UrlEncodeForm(EncodedLoginName, name) >= 0 && CopyText(DigestText, digest);
    ResetRunFields();
    return fits;
}

std::size_t LoginJob::TakeSessionToken(char* destination, std::size_t size) const {
    CopyText(destination, size, SessionToken);
    return std::strlen(destination) + 1;
}

void LoginJob::ShowJobResult(int code) {
    if (code == Ok || code < 0 || code > ReceiveError)
        return;
    ShowJobAlert(LoginMessages[code]);
}

int LoginJob::Run() {
    SetBar(0);
    int result = ConnectFailed;
    if (Open(ServiceUrl, StatusCallback<LoginJob>, reinterpret_cast<DWORD_PTR>(this), nullptr,
             nullptr, JobUserAgent)) {
        AdvanceBar(20);
        ClearFormFields();
        AddFormField("userId", EncodedLoginName, false);
        AddFormField("hash", DigestText, false);
        const bool sent = SendRequest(reinterpret_cast<DWORD_PTR>(this), RequestPath,
                                      RequestKind::FormRequest, nullptr);
        AdvanceBar(20);
        if (!sent && sendOutcome != SendOutcome::Handed) {
            // Nothing will complete the request: a stop or a stall ends the login as a wait
            // that ran out would, and a send refused or failed as an answer not received.
            result = ResultWithoutCompletion(ReceiveError);
            if (result != ReceiveError) {
                SetBar(0);
                return Complete(result);
            }
            CloseAndDrain();
        } else {
            // The completion event stays open until the job is destroyed (see HttpJob).
            if (!WaitForRequest(RequestTimeout)) {
                result = StopRequested ? Interrupted : TimedOut;
                SetBar(0);
                return Complete(result);
            }
            AdvanceBar(10);
            result = ReadAnswer();
        }
    }
    ShowJobResult(result);
    SetBar(result == Ok ? 100 : 0);
    return Complete(result);
}

// Reads the answer in pieces of up to AnswerPieceSize bytes, a second apart, until it can be
// judged, the job is stopped, or 10 s have passed.
int LoginJob::ReadAnswer() {
    const DWORD start = GetTickCount();
    int result = ReceiveError;
    Sleep(FirstReadPause);
    const bool successStatus = AnsweredWithSuccessStatus();
    char piece[AnswerPieceSize];
    DWORD received = 0;
    while (ReadResponse(piece, sizeof piece, received)) {
        AdvanceBar(2);
        if (received > 0) {
            AppendResponse(piece, received);
            LoginVerdict verdict = JudgeLoginAnswer(
                ResponseBuffer, static_cast<std::size_t>(ResponseLength), sizeof SessionToken);
            if (verdict == LoginVerdict::Rejected ||
                (verdict == LoginVerdict::Accepted && !successStatus)) {
                result = Rejected;
                break;
            }
            if (verdict == LoginVerdict::Accepted) {
                SetBar(90);
                CopyText(SessionToken, ResponseBuffer);
                CloseAndDrain();
                return Ok;
            }
        }
        if (StopRequested) {
            result = Interrupted;
            break;
        }
        if (GetTickCount() - start > LoginAnswerLimit) {
            result = TimedOut;
            break;
        }
        Sleep(ReadPause);
    }
    // A read that waited for the answer's bytes ends at a stop; that is the stop.
    if (StopRequested && result == ReceiveError)
        result = Interrupted;
    SetBar(0);
    SessionToken[0] = '\0';
    CloseAndDrain();
    return result;
}

int StartLogin(HWND mainWindow, HWND progressBar) {
    if (Settings.SessionId[0] != '\0')
        return 0;
    if (Settings.Password[0] == '\0' || Settings.LoginName[0] == '\0') {
        if (RunLoginDialog(mainWindow) == IDCANCEL)
            return -1;
        // The window was closed while the dialog was open: its teardown has run, and no
        // login may start after it.
        if (!IsWindow(mainWindow))
            return -1;
    }
    ComputePasswordDigest();
    SplitUrls();

    CurrentLoginJob = new LoginJob();
    if (!CurrentLoginJob->Configure(Settings.LoginUrl, Settings.LoginPath, Settings.LoginName,
                                    Settings.PasswordDigest)) {
        OutputDebugStringA("login settings do not fit the login request; no login started\n");
        delete CurrentLoginJob;
        CurrentLoginJob = nullptr;
        return -1;
    }
    CurrentLoginJob->AttachProgressBar(progressBar);
    CurrentLoginJob->SetNotifyTarget(mainWindow, WM_LOGIN_DONE, NewCompletionToken());
    return StartJobThread(*CurrentLoginJob);
}
