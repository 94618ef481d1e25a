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

// The folder in the program's directory that holds the handed-over files, as it leads a
// file's path there.
inline constexpr char TempFolderName[] = "temp\\";

// Whether the host may hand over this name: the program's folder is known (otherwise
// "temp\name" would be taken relative to whatever the current directory is) and the
// name stays inside its temp folder (queue/temp_names.h).
bool AcceptsFileName(const char* name);
// Whether path lies inside the temp folder: the folder's path followed by an acceptable
// name. Only such a file may be deleted after its upload.
bool IsInsideTempFolder(const char* path);
