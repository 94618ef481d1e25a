#pragma once
// Creates the real main window inside the test process, as the start-up does.

#include <windows.h>

#include <gtest/gtest.h>

class MainWindowFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Destroys the window (its WM_DESTROY pauses and posts the quit message) and
    // removes the quit message again, so that the next test starts clean.
    void DestroyMainWindow();

    HWND window = nullptr;
};

// The rectangle of a child control relative to its parent's client area.
RECT ChildRect(HWND child);

// Runs the calling thread's message queue for the given time.
void PumpMessages(DWORD milliseconds);
