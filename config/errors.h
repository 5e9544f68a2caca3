#pragma once

#include <stdexcept>
#include <string>

namespace qm {

// A configuration file could not be written: the message is
// "Unable to write to <path>".
class EIniFileError : public std::runtime_error {
public:
    explicit EIniFileError(const std::string& path)
        : std::runtime_error("Unable to write to " + path) {}
};

}  // namespace qm
