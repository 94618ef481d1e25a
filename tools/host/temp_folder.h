#pragma once
// The uploader's temp folder as the host tool fills it. A file that waits there is a photo
// not yet delivered (a host put it there, the service refused it, or a night ended early):
// it is never written over unless the caller asks, and it can be handed over again.
// Names are relative to temp, in the ANSI code page, "\" between folders.

#include <string>
#include <vector>

enum class PlaceResult {
    Copied,       // the source's bytes are now in temp under the name
    AlreadyThere, // the source is the very file that waits under the name: nothing copied
    NameWaits,    // another file waits under the name: nothing copied
    Failed,       // the copy failed (the source is missing, say)
};

// The name with "/" read as "\", as the uploader reads it.
std::string TempName(const std::string& name);

// The last part of a path or name (after the last "\" or "/").
std::string LastPartOf(const std::string& path);
// The folder part of a path, with its trailing separator; empty for a bare name.
std::string FolderOf(const std::string& path);

// Whether the uploader takes the name (the same test as its own: it stays inside temp and
// names one file), it names no drive or stream, and its path in temp fits a Windows path.
bool UsableTempName(const std::string& temp, const std::string& name);

// Copies source into temp under name, making the folders the name holds; never over a file
// that already waits there unless replace is set.
PlaceResult PlaceInTemp(const std::string& source, const std::string& temp, const std::string& name,
                        bool replace);

// Every file that waits in temp and its subfolders, by name, in a stable order.
std::vector<std::string> FilesWaitingIn(const std::string& temp);

bool WaitsInTemp(const std::string& temp, const std::string& name);

// Whether two names in temp name the same file (Windows compares names without case).
bool SameTempName(const std::string& a, const std::string& b);
