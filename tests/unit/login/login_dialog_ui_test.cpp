#include "login/login_dialog.h"
#include "login/mail_address.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "support/dialog_answerer.h"
#include "support/main_window_fixture.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

const char LoginDialogCaption[] = "Vistoraに接続します。";
const char InvalidAddressCaption[] = "メールアドレスが不正です";
const char ErrorCaption[] = "エラー";
const char EmptyPasswordText[] = "パスワードを入力してください";

bool WaitUntilHidden(HWND window) {
    return WaitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); });
}

// What the user saw of one message box.
struct MessageBoxSeen {
    bool shown = false;
    std::string text;
    bool ownedByDialog = false;
    bool onlyOk = false;
    bool closed = false;
    // The login dialog after the box was dismissed.
    bool dialogStillOpen = false;
    std::string addressAfter;
    std::string passwordAfter;
};

// Plays the user on a thread of its own while the test thread sits in the modal
// dialog. Every step records what it saw; the test thread asserts after the dialog
// has returned, so that a failed step never leaves the dialog open.
class LoginDialogUser {
  public:
    explicit LoginDialogUser(DWORD dialogThread) : dialogThread_(dialogThread) {}

    // The dialog as it first appears, with the texts of its two edits.
    bool Appeared() {
        dialog_ = WaitForDialog(LoginDialogCaption, dialogThread_);
        if (dialog_ == nullptr)
            return false;
        shownAddress = DialogItemText(dialog_, IDC_LOGIN_MAIL);
        shownPassword = DialogItemText(dialog_, IDC_LOGIN_PASSWORD);
        owner = GetWindow(dialog_, GW_OWNER);
        return true;
    }

    void Type(const std::string& address, const std::string& password) {
        SetDlgItemTextA(dialog_, IDC_LOGIN_MAIL, address.c_str());
        SetDlgItemTextA(dialog_, IDC_LOGIN_PASSWORD, password.c_str());
    }

    void Press(int button) { PressDialogButton(dialog_, button); }

    // Presses OK and dismisses the message box that it should bring up.
    MessageBoxSeen PressOkExpectingBox(const char* caption) {
        MessageBoxSeen seen;
        Press(IDOK);
        HWND box = WaitForDialog(caption, dialogThread_);
        if (box == nullptr)
            return seen;
        seen.shown = true;
        seen.text = DialogItemText(box, 0xFFFF);
        seen.ownedByDialog = GetWindow(box, GW_OWNER) == dialog_;
        seen.onlyOk = GetDlgItem(box, IDOK) != nullptr && GetDlgItem(box, IDCANCEL) == nullptr &&
                      GetDlgItem(box, IDYES) == nullptr && GetDlgItem(box, IDNO) == nullptr;
        PressDialogButton(box, IDOK);
        seen.closed = WaitUntilHidden(box);
        seen.dialogStillOpen = IsWindow(dialog_) && IsWindowVisible(dialog_);
        seen.addressAfter = DialogItemText(dialog_, IDC_LOGIN_MAIL);
        seen.passwordAfter = DialogItemText(dialog_, IDC_LOGIN_PASSWORD);
        return seen;
    }

    std::string shownAddress;
    std::string shownPassword;
    HWND owner = nullptr;

  private:
    DWORD dialogThread_;
    HWND dialog_ = nullptr;
};

BOOL CALLBACK CloseVisibleDialog(HWND window, LPARAM) {
    char className[16] = {};
    char caption[128] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
        bool loginDialog = std::strcmp(caption, LoginDialogCaption) == 0;
        PressDialogButton(window, loginDialog ? IDCANCEL : IDOK);
    }
    return TRUE;
}

// After a step that did not see what it expected, or when the dialog does not end:
// closes whatever boxes and dialogs the thread still shows, until the test thread is
// out of its modal loop.
void CloseEverything(DWORD threadId, const std::atomic<bool>& dialogReturned) {
    WaitUntil([&] {
        EnumThreadWindows(threadId, CloseVisibleDialog, 0);
        return dialogReturned.load();
    });
}

bool WaitForReturn(const std::atomic<bool>& dialogReturned) {
    return WaitUntil([&] { return dialogReturned.load(); });
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

class LoginDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = Settings;
        HINSTANCE instance = GetModuleHandleA(nullptr);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = OwnerProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = "LoginDialogTestOwner";
        RegisterClassA(&windowClass);
        owner = CreateWindowExA(0, "LoginDialogTestOwner", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                                200, nullptr, nullptr, instance, nullptr);
        ASSERT_NE(owner, nullptr);
        ShowWindow(owner, SW_SHOW);
    }

    void TearDown() override {
        if (owner != nullptr)
            DestroyWindow(owner);
        Settings = saved;
    }

    void Store(const char* loginName, const char* password) {
        std::strcpy(Settings.LoginName, loginName);
        std::strcpy(Settings.Password, password);
    }

    // Runs the dialog on this thread while script plays the user; the script returns
    // false when a step did not see what it waited for.
    INT_PTR RunWithUser(const std::function<bool(LoginDialogUser&)>& script) {
        DWORD threadId = GetCurrentThreadId();
        LoginDialogUser user(threadId);
        bool completed = false;
        bool ended = false;
        std::atomic<bool> dialogReturned{false};
        std::atomic<bool> finished{false};
        std::thread player([&] {
            completed = script(user);
            // An unexpected message box would keep the dialog from ending.
            ended = completed && WaitForReturn(dialogReturned);
            if (!ended)
                CloseEverything(threadId, dialogReturned);
            finished = true;
        });
        INT_PTR result = RunLoginDialog(owner);
        dialogReturned = true;
        // The player reads window texts, which this thread must answer even after the
        // dialog has ended, or both threads would wait for each other.
        WaitUntil(
            [&] {
                DrainMessages();
                return finished.load();
            },
            INFINITE);
        player.join();
        EXPECT_TRUE(completed) << "the dialog or a message box did not appear or close";
        EXPECT_TRUE(!completed || ended) << "the dialog did not end after the last step";
        shownAddress = user.shownAddress;
        shownPassword = user.shownPassword;
        dialogOwner = user.owner;
        return result;
    }

    HWND owner = nullptr;
    SettingsRecord saved;
    std::string shownAddress;
    std::string shownPassword;
    HWND dialogOwner = nullptr;
};

} // namespace

TEST_F(LoginDialogTest, ShowsTheStoredValuesAndStoresNothingOnCancel) {
    Store("stored.user@example.jp", "パスワード");
    INT_PTR result = RunWithUser([](LoginDialogUser& user) {
        if (!user.Appeared())
            return false;
        user.Type("other@example.com", "typed");
        user.Press(IDCANCEL);
        return true;
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(shownAddress, "stored.user@example.jp");
    EXPECT_EQ(shownPassword, "パスワード");
    EXPECT_EQ(dialogOwner, owner);
    EXPECT_STREQ(Settings.LoginName, "stored.user@example.jp");
    EXPECT_STREQ(Settings.Password, "パスワード");
}

TEST_F(LoginDialogTest, StoresCheckedValuesAndEndsWithOk) {
    Store("someone.with.a.longer.name@example.com", "old password");
    INT_PTR result = RunWithUser([](LoginDialogUser& user) {
        if (!user.Appeared())
            return false;
        user.Type("a@b.cd", "テスト pw");
        user.Press(IDOK);
        return true;
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_STREQ(Settings.LoginName, "a@b.cd");
    EXPECT_STREQ(Settings.Password, "テスト pw");
}

TEST_F(LoginDialogTest, ExplainsAnInvalidAddressAndKeepsTheDialogOpen) {
    Store("", "");
    struct Attempt {
        const char* address;
        int code;
    };
    const Attempt attempts[] = {{"a@b.c", 1}, {"abcdefg", 2}, {"a@b@c.de", 6}, {"a..b@c.de", 9}};
    std::vector<MessageBoxSeen> seen;
    INT_PTR result = RunWithUser([&](LoginDialogUser& user) {
        if (!user.Appeared())
            return false;
        for (const Attempt& attempt : attempts) {
            user.Type(attempt.address, "secret");
            seen.push_back(user.PressOkExpectingBox(InvalidAddressCaption));
            if (!seen.back().closed)
                return false;
        }
        user.Press(IDCANCEL);
        return true;
    });
    // Only a dialog that stayed open through every rejection can end with Cancel.
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(seen.size(), std::size(attempts));
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(attempts[i].address);
        EXPECT_TRUE(seen[i].shown);
        EXPECT_EQ(seen[i].text, MailAddressMessages[attempts[i].code]);
        EXPECT_TRUE(seen[i].ownedByDialog);
        EXPECT_TRUE(seen[i].onlyOk);
        EXPECT_TRUE(seen[i].dialogStillOpen);
        EXPECT_EQ(seen[i].addressAfter, attempts[i].address);
        EXPECT_EQ(seen[i].passwordAfter, "secret");
    }
    EXPECT_STREQ(Settings.LoginName, "");
    EXPECT_STREQ(Settings.Password, "");
}

TEST_F(LoginDialogTest, AsksForAMissingPasswordAndThenAcceptsOne) {
    Store("", "");
    MessageBoxSeen seen;
    bool storedWhileOpen = true;
    INT_PTR result = RunWithUser([&](LoginDialogUser& user) {
        if (!user.Appeared())
            return false;
        user.Type("taro@example.jp", "");
        seen = user.PressOkExpectingBox(ErrorCaption);
        if (!seen.closed)
            return false;
        storedWhileOpen = Settings.LoginName[0] != '\0';
        user.Type("taro@example.jp", "now given");
        user.Press(IDOK);
        return true;
    });
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.text, EmptyPasswordText);
    EXPECT_TRUE(seen.ownedByDialog);
    EXPECT_TRUE(seen.onlyOk);
    EXPECT_TRUE(seen.dialogStillOpen);
    EXPECT_FALSE(storedWhileOpen);
    EXPECT_EQ(result, IDOK);
    EXPECT_STREQ(Settings.LoginName, "taro@example.jp");
    EXPECT_STREQ(Settings.Password, "now given");
}

TEST_F(LoginDialogTest, ChecksAndStoresAtMost259CharactersOfEachEdit) {
    Store("", "");
    // Cut after 259 characters this address ends in a dot, which the check rejects;
    // checked whole it would be too long for a code with a text.
    std::string cutAtDot = std::string(250, 'a') + "@example.";
    ASSERT_EQ(cutAtDot.size(), 259u);
    // Cut after 259 characters this one is valid.
    std::string cutValid = std::string(248, 'a') + "@example.jp";
    ASSERT_EQ(cutValid.size(), 259u);
    MessageBoxSeen seen;
    INT_PTR result = RunWithUser([&](LoginDialogUser& user) {
        if (!user.Appeared())
            return false;
        user.Type(cutAtDot + "jp", std::string(300, 'p'));
        seen = user.PressOkExpectingBox(InvalidAddressCaption);
        if (!seen.closed)
            return false;
        user.Type(cutValid + "zzzzzzzz", std::string(300, 'p'));
        user.Press(IDOK);
        return true;
    });
    EXPECT_EQ(seen.text, MailAddressMessages[8]);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(std::string(Settings.LoginName), cutValid);
    EXPECT_EQ(std::string(Settings.Password), std::string(259, 'p'));
}
