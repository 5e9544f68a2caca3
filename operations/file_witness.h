#pragma once

#include <string>

#include "platform/files.h"

namespace qm {

// Remembers what stood at a path before an operation, so that a failed
// operation deletes only what it created or changed itself and never a file
// that it did not touch (an older archive, a live database).
class TFileWitness {
public:
    explicit TFileWitness(std::string path)
        : path_(std::move(path)), before_(platform::ProbeFile(path_)) {}

    // True when a file stands at the path now and either none stood there
    // before or it is another file, or its size or modification time changed.
    bool TouchedSinceStart() const {
        platform::FileIdentity now = platform::ProbeFile(path_);
        return now.exists && !(now == before_);
    }

    const std::string& Path() const { return path_; }
    bool ExistedBefore() const { return before_.exists; }

private:
    std::string path_;
    platform::FileIdentity before_;
};

}  // namespace qm
