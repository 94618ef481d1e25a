#include "util/paths.h"

#include "util/text_sizes.h"
#include "util/win_handles.h"

#include <windows.h>

std::string CurrentDirectory;

void CaptureCurrentDirectory() {
    char buffer[NameSize + 1] = {};
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    // A longer directory does not fit: the call then reports the size it would need and
    // fills nothing, so the directory stays unknown (empty) rather than cut.
    if (length == 0 || length >= sizeof buffer)
        return;
    CurrentDirectory.assign(buffer, length);
}

std::string MakeAbsolutePath(const std::string& path) {
    if (path.compare(0, 2, "\\\\") == 0)
        return path;
    if (path.find(':') != std::string::npos)
        return path;
    return CurrentDirectory + "\\" + path;
}

bool PathExists(const std::string& path) {
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA(MakeAbsolutePath(path).c_str(), &found));
    return search.Valid();
}

void FileNameOf(std::string& path) {
    // Walked character by character so that the trail byte of a double-byte character
    // (0x5C in ソ or 表) is never taken for a separator; the C runtime's _splitpath is
    // not double-byte aware everywhere.
    std::size_t nameStart = 0;
    if (path.size() >= 2 && path[1] == ':' && !IsDBCSLeadByte(static_cast<BYTE>(path[0])))
        nameStart = 2;
    const char* begin = path.c_str();
    for (const char* p = begin; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/')
            nameStart = static_cast<std::size_t>(p - begin) + 1;
    }
    path.erase(0, nameStart);
}

int CutAfterLastBackslash(char* path) {
    char* cut = path;
    for (char* p = path; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\')
            cut = p + 1;
    }
    *cut = '\0';
    return path[0] != '\0' ? 0 : -1;
}

std::string ProgramFileDirectory() {
    char path[NameSize] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A path that filled the whole buffer was cut; its directory is not trustworthy.
    if (length == 0 || length >= sizeof path)
        return std::string();
    CutAfterLastBackslash(path);
    return path;
}

namespace {

unsigned long long Join(DWORD high, DWORD low) {
    return (static_cast<unsigned long long>(high) << 32) | low;
}

} // namespace

FileStamp StampOfPath(const char* path) {
    FileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return stamp;
    stamp.valid = true;
    stamp.size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    stamp.lastWrite = Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return stamp;
}

FileStamp StampOfOpenFile(void* file) {
    FileStamp stamp;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(static_cast<HANDLE>(file), &info))
        return stamp;
    stamp.valid = true;
    stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.lastWrite = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return stamp;
}
