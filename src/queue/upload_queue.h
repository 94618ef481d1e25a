#pragma once
// The upload queue: the rows of the main window's list view. A row's item data is its
// StatusCode and its first column shows the status text; the second holds the file name
// as the host handed it over.

#include <windows.h>

enum StatusCode : int {
    Done = 0,
    Uploading = 1,
    Waiting = 2,
    FileMissing = 3,
    AccessError = 4,
};

constexpr int StatusCodeCount = 5;
constexpr int StatusTextSize = 16;
extern const char StatusTexts[StatusCodeCount][StatusTextSize];

// Appends a waiting row; returns the result of the last list-view message.
LRESULT AddFile(HWND list, const char* fileName);
// Sets text and item data of a row together; returns 0.
int SetStatus(HWND list, int row, StatusCode code);
