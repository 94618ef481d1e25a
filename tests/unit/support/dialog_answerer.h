#pragma once
// Finds and answers the dialog boxes this process shows, from a thread other than the
// one that shows them, so that a test can drive code that blocks in a modal loop.

#include "support/wait_until.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// A visible dialog box titled caption, shown by the given thread of this process (by any
// of its threads for 0), or nullptr. Closed boxes linger hidden for a while under Wine
// without a window manager, so only visible ones count.
HWND FindVisibleDialog(const char* caption, DWORD threadId = 0);
// The same, polled for until limit ms have passed.
HWND WaitForDialog(const char* caption, DWORD threadId = 0, DWORD limit = HangLimit);

// Posts the click of button (IDOK, IDYES, IDNO...) to dialog.
void PressDialogButton(HWND dialog, int button);
// The text of one item of a dialog; a message box's message is item 0xFFFF.
std::string DialogItemText(HWND dialog, int id);

class DialogAnswerer {
  public:
    // Presses button on the first visible dialog titled caption; first, on the watching
    // thread, calls meanwhile with the dialog (what a user or another program does while it
    // is open: messages posted then are handled before the answer).
    DialogAnswerer(std::string caption, int button, std::function<void(HWND)> meanwhile = nullptr);
    ~DialogAnswerer();

    bool Answered() const { return answered_; }
    // The text of the answered box's message.
    std::string Text() const { return text_; }

  private:
    void Watch();

    std::string caption_;
    int button_;
    std::function<void(HWND)> meanwhile_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> answered_{false};
    std::string text_;
    std::thread watcher_;
};
