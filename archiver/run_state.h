#pragma once

#include <optional>
#include <string>

#include "archiver/schedule.h"

// What the service keeps between its runs, so that a slot missed while it
// or the machine was down can be caught up: the instant up to which each
// plan's slots are done, and the last instant the service was known to run.
// The file "QuillmoorService.state" of the data directory holds one line a
// fact: "seen <instant>" and "run <instant> <plan key>".
namespace qm::archiver {

struct TRunState {
    std::optional<std::time_t> Seen;
    TLastRuns Last;
};

std::string RunStatePath();

// Lines that are not facts are skipped; a missing file gives no facts.
TRunState ParseRunState(const std::string& text);
std::string FormatRunState(const TRunState& state);

TRunState LoadRunState(const std::string& path);
// Replaces the file atomically; false when it cannot be written.
bool SaveRunState(const std::string& path, const TRunState& state);

}  // namespace qm::archiver
