#pragma once
// The upload queue without the main window: a list view like the window's, and the
// folder where the queue looks for the files its rows name.

#include "support/temp_folder.h"

#include <windows.h>

#include <string>

// A hidden popup list view in report style with the status and the file name column;
// the caller destroys it. Null, with the error in GetLastError, if it cannot be made.
HWND CreateQueueList();
// The text of one cell.
std::string QueueCell(HWND list, int row, int column);

// Points ModuleDirectory at a temp folder of the test's own while the object lives:
// ResolveNextFile looks for each row's file in its subfolder "temp".
class QueueFiles {
  public:
    explicit QueueFiles(const std::string& name);
    ~QueueFiles();

    // Where the queue looks for the file of a row named name.
    std::string PathOf(const std::string& name) const;
    // Creates that file.
    void Put(const std::string& name) const;

  private:
    TempFolder folder_;
    std::string savedDirectory_;
};
