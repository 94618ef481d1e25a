#include "util/paths.h"

#include "util/text_sizes.h"
#include "util/win_handles.h"

#include <windows.h>

char ModuleDirectory[NameSize] = {};
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

// The sharing of the handle a sent file is deleted through: other programs may go on
// reading it, and deleting or renaming it, but none may hold it open for writing, nor
// open it for writing while the handle is held, so that the bytes compared are the bytes
// deleted.
constexpr DWORD DeleteSharing = FILE_SHARE_READ | FILE_SHARE_DELETE;

// Marks the open file for deletion when its last handle closes. False where the system
// refuses (a read-only file).
bool MarkForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

} // namespace

FileStamp StampOfPath(const char* path) {
    // No access asked, so no program's sharing refuses the look.
    UniqueHandle file(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() ? StampOfOpenFile(file.Get()) : FileStamp();
}

FileStamp StampOfOpenFile(void* file) {
    FileStamp stamp;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(static_cast<HANDLE>(file), &info))
        return stamp;
    stamp.valid = true;
    stamp.volume = info.dwVolumeSerialNumber;
    stamp.index = Join(info.nFileIndexHigh, info.nFileIndexLow);
    stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.lastWrite = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return stamp;
}

SentFileFate DeleteFileIfUnchanged(const char* path, const FileStamp& sent) {
    UniqueHandle file(CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, DeleteSharing, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        // Held by a writer, or by a program that does not let it be deleted: what is
        // there can still be looked at, to tell the file sent from a newer one.
        const FileStamp now = StampOfPath(path);
        if (!now.valid)
            return SentFileFate::Gone;
        return now == sent ? SentFileFate::Kept : SentFileFate::Replaced;
    }
    if (!(StampOfOpenFile(file.Get()) == sent))
        return SentFileFate::Replaced;
    return MarkForDeletion(file.Get()) ? SentFileFate::Deleted : SentFileFate::Kept;
}
