#pragma once
// Helpers on the ANSI paths of the system.

#include "util/text_sizes.h"

#include <string>

// The program's directory, ending in a backslash; empty until the start-up has taken it.
// The temp folder of the handed-over files lies in it.
extern char ModuleDirectory[NameSize];

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

// What tells one file, and one version of it, from another: the file's identity (its
// volume's serial number and its index there) and its size and last-write time. The
// identity tells a file put in another's place (a copy that kept its source's time, a
// swap by renaming); the size and time tell a file written anew in place. valid is false
// when the file could not be looked at.
struct FileStamp {
    bool valid = false;
    unsigned long volume = 0;
    unsigned long long index = 0;
    unsigned long long size = 0;
    unsigned long long lastWrite = 0;

    bool operator==(const FileStamp& other) const {
        return valid && other.valid && volume == other.volume && index == other.index &&
               size == other.size && lastWrite == other.lastWrite;
    }
};
// The stamp of the file at path, as it is now, looked at without taking any access, so
// that no other program's hold on the file gets in the way.
FileStamp StampOfPath(const char* path);
// The stamp of an open file (a HANDLE, kept opaque here).
FileStamp StampOfOpenFile(void* file);

// What became of a sent file when its upload was confirmed.
enum class SentFileFate {
    // It was the file sent, and it is deleted.
    Deleted,
    // It was the file sent, but it could not be deleted (read-only, or another program
    // holds it without letting it be deleted): it stays.
    Kept,
    // Another file, or another version, is at its path now: it stays, not sent yet.
    Replaced,
    // Nothing is at its path any more.
    Gone,
};
// Deletes the file at path only if it is the file of sent, through the very handle its
// stamp was compared on, so that a file put in its place meanwhile is never the one
// deleted.
SentFileFate DeleteFileIfUnchanged(const char* path, const FileStamp& sent);
