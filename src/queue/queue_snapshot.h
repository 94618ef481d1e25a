#pragma once
// A short-lived reading of the queue, taken inside one handler and then discarded.

#include <windows.h>

#include <cstddef>
#include <vector>

class QueueSnapshot {
  public:
    explicit QueueSnapshot(HWND list) : list(list) {}
    virtual ~QueueSnapshot() = default;

    // Fills every field from the list; returns itemCount.
    int Collect();

    HWND list;
    std::vector<int> waiting;
    std::vector<int> done;
    int firstUploading = -1;
    int itemCount = 0;
};

// Builds the path of the waiting row at position (in the waiting array) into path:
// the program directory, "temp\" and the row's name. Returns the row index when that
// file exists, -1 otherwise. A path that does not fit pathSize bytes leaves path empty
// and counts as missing.
int ResolveNextFile(const QueueSnapshot& snapshot, std::size_t position, char* path,
                    std::size_t pathSize);
