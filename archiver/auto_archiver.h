#pragma once

#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "archiver/archive_job.h"
#include "archiver/event_log.h"
#include "archiver/schedule.h"
#include "archiver/system.h"

// The service's work between its start and its stop, the same on every
// system: it reads the register and the settings (again whenever they change,
// and at least every minute), archives each due slot, one archive at a time in
// the order of their slots, and keeps what it has done so that a restart
// catches up what it missed. One database that fails is logged and tried
// again at its next slot; it never stops the service.
namespace qm::archiver {

// Exit codes of the service.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitAlreadyRunning = 3;

// The lock that keeps a second service of the same data directory from
// starting, and the one that lets only one archive run at a time (the
// service's and those of --now).
std::string InstanceLockPath();
std::string RunLockPath();

class TAutoArchiver {
public:
    explicit TAutoArchiver(TEventLog& log);

    // Runs until Stop(). kExitAlreadyRunning when another service of the
    // data directory runs. OnReady is called once the service has started.
    int Run();
    std::function<void()> OnReady;

    // Asks Run to end (any thread): a running backup is stopped on the
    // server, its partial archive removed. Calling it again stops the backup
    // again (a backup that had not begun at the first call).
    void Stop();
    // Re-reads the register and the settings now.
    void Reload();
    // While paused no archive starts, and the slots that pass are not caught
    // up afterwards (a running archive goes on).
    void SetPaused(bool paused);
    // For a stop that gave up waiting: removes the running archive's
    // temporary files and logs that the service ends without it.
    void GiveUp(double waitedSeconds);

    // The messages about the register now in force (for the set-up check).
    static std::vector<std::string> ConfigurationProblems(const TFirebirdBaseList& list,
                                                          const std::vector<TPlan>& plans);

private:
    bool ReadConfiguration(bool first);
    void LogProblems();
    void CleanParts();
    void SaveState(std::time_t now);
    // Sleeps to the next minute (or Stop, or Reload); false when stopping.
    bool WaitForNextMinute();
    void RunDue(const TDueRun& due, std::time_t started);

    TEventLog& log_;
    TCancel cancel_;
    std::mutex m_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool reload_ = false;
    bool paused_ = false;

    std::unique_ptr<TFirebirdBaseList> list_;
    std::unique_ptr<TSetting> setting_;
    std::string listText_, settingText_;
    std::vector<TPlan> plans_;
    TLastRuns last_;
    std::set<std::string> logged_;
    std::unique_ptr<TLockFile> runLock_;
};

}  // namespace qm::archiver
