#pragma once
// Helpers on the ANSI paths of the system.

#include <string>

// The current directory as the process found it at start-up; empty until captured.
extern std::string CurrentDirectory;

void CaptureCurrentDirectory();
std::string MakeAbsolutePath(const std::string& path);
bool PathExists(const std::string& path);
// Reduces path, in place, to its file name and extension.
void FileNameOf(std::string& path);

// Cuts path right after its last backslash, stepping over double-byte characters with
// CharNextA. Returns 0 when something is left, -1 when the result is empty.
int CutAfterLastBackslash(char* path);

// Drive and directory of the program file, ending in a backslash; empty if unknown.
std::string ProgramFileDirectory();

// What tells one version of a file from another: its size and last-write time. valid is
// false when the file could not be looked at.
struct FileStamp {
    bool valid = false;
    unsigned long long size = 0;
    unsigned long long lastWrite = 0;

    bool operator==(const FileStamp& other) const {
        return valid && other.valid && size == other.size && lastWrite == other.lastWrite;
    }
};
// The stamp of the file at path, as it is now.
FileStamp StampOfPath(const char* path);
// The stamp of an open file (a HANDLE, kept opaque here).
FileStamp StampOfOpenFile(void* file);
