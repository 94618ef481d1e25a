#pragma once
// Creates the real main window inside the test process, as the start-up does.

#include <windows.h>

#include <gtest/gtest.h>

class MainWindowFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Destroys the window (its WM_DESTROY pauses and posts the quit message) and
    // drains the queue of the quit message again, so that the next test starts clean.
    void DestroyMainWindow();

    HWND window = nullptr;
};

// The rectangle of a child control relative to its parent's client area.
RECT ChildRect(HWND child);

// Handles whatever is queued for the calling thread, returning once the queue is empty.
void DrainMessages();
