#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/paths.h"

namespace qm::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillmoor-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(f.good()) << path;
    f << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

ScopedDataDir::ScopedDataDir(const std::string& dir) {
    const char* old = ::getenv(platform::kDataDirVariable);
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    ::setenv(platform::kDataDirVariable, dir.c_str(), 1);
}

ScopedDataDir::~ScopedDataDir() {
    if (hadOld_)
        ::setenv(platform::kDataDirVariable, old_.c_str(), 1);
    else
        ::unsetenv(platform::kDataDirVariable);
}

}  // namespace qm::test
