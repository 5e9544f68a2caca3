#include "tests/support/command.h"

#include <cstdio>

namespace qm::test {

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>&1 </dev/null").c_str(), "r");
    if (pipe == nullptr) return "popen failed";
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    pclose(pipe);
    return out;
}

std::string ShellQuote(const std::string& s) {
    std::string quoted = "'";
    for (const char c : s) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace qm::test
