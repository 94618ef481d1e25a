#pragma once
// Answers the first dialog box with a given caption that this process shows, from a
// thread of its own, so that a test can drive code that blocks in MessageBoxA.

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

class DialogAnswerer {
  public:
    // Presses button (IDOK, IDYES, IDNO...) on the first visible dialog titled caption.
    DialogAnswerer(std::string caption, int button);
    ~DialogAnswerer();

    bool Answered() const { return answered_; }
    // The text of the answered box's message (its static control 0xFFFF).
    std::string Text() const { return text_; }

  private:
    void Watch();

    std::string caption_;
    int button_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> answered_{false};
    std::string text_;
    std::thread watcher_;
};
