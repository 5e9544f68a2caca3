#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The service program's commands for administrators, run from a shell rather
// than by the service manager. Each prints to out and returns the program's
// exit code (auto_archiver.h).
namespace qm::archiver {

// The register and the next run of every record.
int ListCommand(std::FILE* out);
// Archives the record of that number at once, the log on out (and in the
// event log); kExitOk when the archive was made.
int NowCommand(const std::string& number, std::FILE* out);
// Checks the set-up and prints what is wrong; kExitOk when nothing is.
int CheckCommand(std::FILE* out);
void PrintHelp(std::FILE* out);

// What the command line asks for; unknown arguments print the help to the
// error output and give kExitUsage. No arguments: the service itself.
int RunCommandLine(const std::vector<std::string>& args);

}  // namespace qm::archiver
