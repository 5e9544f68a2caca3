#pragma once

#include <string>

// What the program fixes about the auto-archiving service it installs and
// controls (the service itself is a separate program).
namespace qm {

inline constexpr const char* kServiceName = "Quillmoor";
inline constexpr const char* kServiceDisplayName = "Автоархиватор Firebird";
// The maker's web address, at the end of the service's description.
inline constexpr const char* kMakerWebAddress = "https://quillmoor.example.org";

// "Служба для автоматической архивации баз данных Firebird - " and the
// maker's web address.
std::string ServiceDescription();

// The service's executable: the program's own directory followed by
// platform::kServiceExecutable.
std::string ServiceExecutablePath();

// The service's event-log file "Quillmoor.log" in the data directory.
std::string ServiceLogPath();

}  // namespace qm
