#pragma once

#include <cstdint>
#include <string>

// Control of a service through the operating system's service manager: the
// Windows service control manager, or systemd on Linux. Every operation
// returns only success or failure and never raises; none waits for the
// service to reach a state, retries or asks the system why a call failed.
namespace qm {

// The operating system's service status record. Only dwCurrentState is used;
// 0 means that no status was obtained.
struct SERVICE_STATUS {
    std::uint32_t dwServiceType = 0;
    std::uint32_t dwCurrentState = 0;
    std::uint32_t dwControlsAccepted = 0;
    std::uint32_t dwWin32ExitCode = 0;
    std::uint32_t dwServiceSpecificExitCode = 0;
    std::uint32_t dwCheckPoint = 0;
    std::uint32_t dwWaitHint = 0;
};

// Values of dwCurrentState (the Windows macros of the same meaning are not
// usable names here).
inline constexpr std::uint32_t kServiceStateUnknown = 0;
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceContinuePending = 5;
inline constexpr std::uint32_t kServicePausePending = 6;
inline constexpr std::uint32_t kServicePaused = 7;

// True when the service is installed (on Linux also while a removed service
// is still running, as a service marked for deletion is on Windows).
bool ServiceExists(const std::string& serviceName);

// True when the manager accepted the start request. A service that is not
// stopped (running, or in any pending state) is refused.
bool ServiceStart(const std::string& serviceName);

// True when the manager accepted the stop request. Only a running or a
// paused service can be stopped.
bool ServiceStop(const std::string& serviceName);

// Fills status with the service's current status; all zero when none was
// obtained (no manager, no such service, a state the manager cannot name).
void ServiceGetStatus(const std::string& serviceName, SERVICE_STATUS& status);

// Registers the service: its own process, started at system start, run as
// the system's administrative account, no dependencies, executablePath (an
// absolute path, run with no arguments) as its command. False, with nothing
// changed, when a service of that name already exists, the texts cannot be
// registered faithfully (control characters; on Linux also a path that
// systemd refuses: quotes or backslashes in it) or the manager refuses.
bool ServiceInstall(const std::string& serviceName, const std::string& displayName,
                    const std::string& executablePath, const std::string& description);

// Removes the registration without stopping the service; a running service
// goes away when it stops. False when the service does not exist or the
// manager refuses.
bool ServiceUninstall(const std::string& serviceName);

#ifndef _WIN32
// Environment variable naming the directory in which the systemd backend
// writes and removes unit files; /etc/systemd/system when unset or empty.
inline constexpr const char* kUnitDirVariable = "QUILLMOOR_SYSTEMD_UNIT_DIR";
inline constexpr const char* kDefaultUnitDir = "/etc/systemd/system";

// The systemd unit that stands for a service: the name in lower case
// followed by ".service"; empty when the name cannot be a unit name.
std::string SystemdUnitName(const std::string& serviceName);
#endif

}  // namespace qm
