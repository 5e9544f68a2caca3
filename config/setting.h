#pragma once

#include <string>

#include "config/crypt_lib.h"
#include "config/errors.h"

namespace qm {

// Path of the settings file: the program's data directory and "Quillmoor.srv".
std::string SettingsFilePath();

// The SYSDBA password and the client library's file name, kept in the
// settings file with the password enciphered.
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

private:
    TCryptLib cipher_;
};

}  // namespace qm
