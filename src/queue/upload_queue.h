#pragma once
// The upload queue: the rows of the main window's list view. A row's item data is its
// StatusCode and its first column shows the status text; the second holds the file name
// as the host handed it over.

#include <windows.h>

#include <cstddef>

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

// Appends a waiting row; returns the result of the last list-view message. The row shows
// with the list's next paint, at most QueuePaintDelay later (queue/queue_paint.h).
LRESULT AddFile(HWND list, const char* fileName);
// Sets text and item data of a row together; returns 0.
int SetStatus(HWND list, int row, StatusCode code);

// The folder in the program's directory that holds the handed-over files, as it leads a
// file's path there.
inline constexpr char TempFolderName[] = "temp\\";

// The path of name's file in the temp folder, composed into path (size bytes): false,
// with path empty, when the program's folder is unknown (otherwise "temp\name" would be
// taken relative to whatever the current directory is) or the path does not fit, since a
// cut path could name another file.
bool ComposeTempPath(const char* name, char* path, std::size_t size);
// Whether the host may hand over this name: it stays inside the temp folder and names one
// file there (queue/temp_names.h), and its path fits the NameSize buffer that the queue
// resolves rows into. Any other row could never be sent and, first in line each time,
// would hold up every file behind it.
bool AcceptsFileName(const char* name);
// Whether path lies inside the temp folder: the folder's path followed by an acceptable
// name. Only such a file may be deleted after its upload.
bool IsInsideTempFolder(const char* path);
