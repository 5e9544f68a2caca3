#pragma once

#include <string>

#include "config/crypt_lib.h"
#include "config/errors.h"

namespace qm {

// Path of the settings file: the program's data directory and "Quillmoor.srv".
std::string SettingsFilePath();

// The SYSDBA password, the client library's file name and the server, kept
// in the settings file with the password enciphered.
class TSetting {
public:
    explicit TSetting(bool load);

    // Never fails: missing or unreadable values give "plumstone" and the
    // platform's default client library.
    void Load();
    // Writes both keys in one atomic replace of the file, which is then
    // readable and writable by its owner only, whatever mode it had. Throws
    // EIniFileError.
    void Save();

    std::string LibraryName;
    std::string SYSDBAPassword;
    // The Firebird server to work with: empty for the server of this machine,
    // or the embedded engine where none runs; otherwise "host" or
    // "host/port", whose database paths are that server's own.
    std::string Server;

private:
    TCryptLib cipher_;
};

}  // namespace qm
