#pragma once

#include <string>

namespace qm::test {

// A fresh directory under the system's temporary folder, removed with all its
// content when the object goes. Path() ends with '/'.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Writes a file whole (test set-up; fails the test on error).
void WriteFile(const std::string& path, const std::string& content);
// Reads a file whole; "" when missing.
std::string ReadFile(const std::string& path);

// Sets QUILLMOOR_DATA_DIR for the life of the object, restoring the old value.
class ScopedDataDir {
public:
    explicit ScopedDataDir(const std::string& dir);
    ~ScopedDataDir();

private:
    std::string old_;
    bool hadOld_;
};

}  // namespace qm::test
