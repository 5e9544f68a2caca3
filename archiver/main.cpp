#include <string>
#include <vector>

#include "archiver/commands.h"
#include "archiver/system.h"

int main(int argc, char** argv) {
    qm::archiver::UseSystemLocale();
    std::vector<std::string> args(argv + 1, argv + argc);
    return qm::archiver::RunCommandLine(args);
}
