#pragma once
// A folder of a test's own under the temp path, named for this process so that the two
// test programs never share one, and removed with everything in it when the object goes.

#include <string>

class TempFolder {
  public:
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, without a trailing backslash.
    const std::string& Path() const { return path_; }
    // A name inside the folder; PathOf("") is the folder with its trailing backslash.
    std::string PathOf(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

// Creates (or replaces) the file at path with size bytes whose content costs no disk
// space; false when it could not.
bool MakeSparseFile(const std::string& path, long long size);
