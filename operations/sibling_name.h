#pragma once

#include <cstdio>
#include <random>
#include <string>

#include "platform/files.h"

namespace qm {

// The kinds of the names the operations give a database's files beside it:
// a restore in the making, the database it replaces while it steps aside,
// and a database kept away from its clients during an optimization.
inline constexpr const char* kRestoringKind = ".restore-";
inline constexpr const char* kReplacedKind = ".replaced-";
inline constexpr const char* kOptimizingKind = ".optimize-";

// A name beside the file that nothing uses yet: its name, the kind and eight
// random hexadecimal digits.
inline std::string FreshSiblingName(const std::string& file, const char* kind) {
    std::random_device seed;
    std::mt19937 random(seed());
    for (;;) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        std::string name = file + kind + suffix;
        if (!platform::PathExists(name)) return name;
    }
}

}  // namespace qm
