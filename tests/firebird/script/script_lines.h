#pragma once

#include <string_view>

#include "firebird/script_parser.h"

namespace qm::test {

// The lines of a script text written with "\n" between them.
inline TScriptLines ToLines(std::string_view text) {
    TScriptLines lines;
    std::size_t from = 0;
    while (true) {
        const std::size_t nl = text.find('\n', from);
        lines.emplace_back(text.substr(from, nl == std::string_view::npos ? nl : nl - from));
        if (nl == std::string_view::npos) return lines;
        from = nl + 1;
    }
}

}  // namespace qm::test
