#include "temp_folder.h"

#include "queue/temp_names.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace {

bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

// Where the last separator ends (0 without one), stepping over double-byte characters,
// whose second byte can be a backslash (that of ソ or 表 is).
size_t AfterLastSeparator(const std::string& path) {
    size_t cut = 0;
    for (const char* p = path.c_str(); *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/')
            cut = static_cast<size_t>(p - path.c_str()) + 1;
    }
    return cut;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full) : path;
}

// The folders a name holds, made inside temp one after the other.
void MakeFoldersFor(const std::string& temp, const std::string& name) {
    for (const char* p = name.c_str(); *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\')
            CreateDirectoryA((temp + name.substr(0, p - name.c_str())).c_str(), nullptr);
    }
}

void CollectFiles(const std::string& temp, const std::string& folder,
                  std::vector<std::string>& names) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectFiles(temp, folder + name + "\\", names);
        else
            names.push_back(folder + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

std::string TempName(const std::string& name) {
    std::string normal = name;
    // "/" is no second byte of a double-byte character in code page 932 (those start at
    // 0x40), so it can be replaced byte by byte.
    std::replace(normal.begin(), normal.end(), '/', '\\');
    return normal;
}

std::string LastPartOf(const std::string& path) {
    return path.substr(AfterLastSeparator(path));
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, AfterLastSeparator(path));
}

bool UsableTempName(const std::string& temp, const std::string& name) {
    // A colon would name a drive or another stream of a file (no byte of a double-byte
    // character is one): no name inside temp holds it.
    return IsNameInsideTemp(name.c_str(), IsAnsiLeadByte) &&
           NamesAFile(name.c_str(), IsAnsiLeadByte) && name.find(':') == std::string::npos &&
           (temp + name).size() < MAX_PATH;
}

PlaceResult PlaceInTemp(const std::string& source, const std::string& temp, const std::string& name,
                        bool replace) {
    const std::string target = temp + TempName(name);
    if (lstrcmpiA(FullPath(source).c_str(), FullPath(target).c_str()) == 0)
        return Exists(target) ? PlaceResult::AlreadyThere : PlaceResult::Failed;
    if (!replace && Exists(target))
        return PlaceResult::NameWaits;
    CreateDirectoryA(temp.c_str(), nullptr);
    MakeFoldersFor(temp, TempName(name));
    // Told to fail on an existing file, the copy itself cannot write over one that arrived
    // since the look above.
    if (CopyFileA(source.c_str(), target.c_str(), replace ? FALSE : TRUE))
        return PlaceResult::Copied;
    const DWORD error = GetLastError();
    if (!replace && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS))
        return PlaceResult::NameWaits;
    std::fprintf(stderr, "VistoraHost: cannot copy %s to %s (error %lu)\n", source.c_str(),
                 target.c_str(), error);
    return PlaceResult::Failed;
}

std::vector<std::string> FilesWaitingIn(const std::string& temp) {
    std::vector<std::string> names;
    CollectFiles(temp, "", names);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return lstrcmpiA(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

bool WaitsInTemp(const std::string& temp, const std::string& name) {
    return Exists(temp + TempName(name));
}

bool SameTempName(const std::string& a, const std::string& b) {
    return lstrcmpiA(TempName(a).c_str(), TempName(b).c_str()) == 0;
}
