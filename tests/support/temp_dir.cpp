#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "platform/paths.h"
#include "platform/platform.h"

namespace qm::test {

#ifdef _WIN32
TempDir::TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto dir = base / ("quillmoor-test-" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(dir, ec)) {
            path_ = dir.string() + platform::kPathDelim;
            return;
        }
    }
    throw std::runtime_error("no temporary directory could be made");
}
#else
TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillmoor-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = std::string(buf.data()) + "/";
}
#endif

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
#ifdef _WIN32
    ::_putenv_s(platform::kDataDirVariable, dir.c_str());
#else
    ::setenv(platform::kDataDirVariable, dir.c_str(), 1);
#endif
}

ScopedDataDir::~ScopedDataDir() {
#ifdef _WIN32
    // An empty value removes the variable.
    ::_putenv_s(platform::kDataDirVariable, hadOld_ ? old_.c_str() : "");
#else
    if (hadOld_)
        ::setenv(platform::kDataDirVariable, old_.c_str(), 1);
    else
        ::unsetenv(platform::kDataDirVariable);
#endif
}

}  // namespace qm::test
