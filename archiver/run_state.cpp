#include "archiver/run_state.h"

#include <cstdlib>
#include <sstream>

#include "platform/files.h"
#include "platform/paths.h"

namespace qm::archiver {

namespace {

std::optional<std::time_t> Instant(const std::string& s) {
    if (s.empty() || s.size() > 19) return std::nullopt;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return static_cast<std::time_t>(v);
}

}  // namespace

std::string RunStatePath() { return platform::DataDir() + "QuillmoorService.state"; }

TRunState ParseRunState(const std::string& text) {
    TRunState state;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t a = line.find(' ');
        if (a == std::string::npos) continue;
        const std::string word = line.substr(0, a);
        if (word == "seen") {
            state.Seen = Instant(line.substr(a + 1));
        } else if (word == "run") {
            const std::size_t b = line.find(' ', a + 1);
            if (b == std::string::npos || b + 1 >= line.size()) continue;
            if (auto t = Instant(line.substr(a + 1, b - a - 1))) state.Last[line.substr(b + 1)] = *t;
        }
    }
    return state;
}

std::string FormatRunState(const TRunState& state) {
    std::string text;
    if (state.Seen) text += "seen " + std::to_string(static_cast<long long>(*state.Seen)) + "\n";
    for (const auto& [key, at] : state.Last)
        text += "run " + std::to_string(static_cast<long long>(at)) + " " + key + "\n";
    return text;
}

TRunState LoadRunState(const std::string& path) {
    const auto text = platform::ReadWholeFile(path);
    return text ? ParseRunState(*text) : TRunState{};
}

bool SaveRunState(const std::string& path, const TRunState& state) {
    return platform::ReplaceFileAtomically(path, FormatRunState(state), 0644);
}

}  // namespace qm::archiver
