#include <clocale>
#include <string>
#include <vector>

#ifndef _WIN32
#include <langinfo.h>

#include <cstring>
#endif

#include "archiver/commands.h"

int main(int argc, char** argv) {
    // The client library converts file names from the locale's character
    // set; the register's paths are UTF-8, and a service started by systemd
    // may have no locale at all.
    std::setlocale(LC_ALL, "");
#ifndef _WIN32
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || (std::strcmp(codeset, "UTF-8") != 0 && std::strcmp(codeset, "utf8") != 0))
        std::setlocale(LC_CTYPE, "C.UTF-8");
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    return qm::archiver::RunCommandLine(args);
}
