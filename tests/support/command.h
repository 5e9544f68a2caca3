#pragma once

#include <string>

namespace qm::test {

// Runs a shell command line with the null device as its standard input;
// what it printed on its standard output and error.
std::string RunCommand(const std::string& command);

// The text as one word of a shell command line.
std::string ShellQuote(const std::string& s);

}  // namespace qm::test
