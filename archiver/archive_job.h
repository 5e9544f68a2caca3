#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "archiver/event_log.h"
#include "config/firebird_base.h"
#include "config/setting.h"

// One archive of one registered database: the backup through the services
// API of the server the settings lead to, written under a temporary name and
// renamed into place only once the server has finished it; with DoZIP the
// ZIP, read back and checked before the .fbk goes; then "keep N".
namespace qm::archiver {

// Stops a running archive from another thread.
class TCancel {
public:
    // Marks the run as cancelled and stops its backup on the server.
    void Request();
    bool Requested() const { return requested_; }

    // Set by the job while a backup runs: what stops it.
    void SetStopper(std::function<void()> stopper);
    // The temporary files of the running job, which a stop that gives up
    // waiting removes.
    void SetPartFiles(std::vector<std::string> files);
    std::vector<std::string> PartFiles() const;

private:
    std::atomic<bool> requested_{false};
    mutable std::mutex m_;
    std::function<void()> stopper_;
    std::vector<std::string> parts_;
};

struct TJobResult {
    bool Ok = false;         // the archive exists under its name and all steps ended well
    bool Cancelled = false;  // a stop request ended the run
    std::string Archive;     // the archive's path (the .zip with DoZIP) once it exists
    std::uint64_t Size = 0;
    double Seconds = 0;
    std::vector<std::string> Pruned;  // the files "keep N" deleted
};

class TArchiveJob {
public:
    // cancel may be null. The job reads the settings at each Run.
    TArchiveJob(const TFirebirdBase& base, const TSetting& setting, TEventLog& log,
                TCancel* cancel = nullptr);

    // Makes one archive; reason ends the start line of the log ("по
    // расписанию 14:30"). Never throws: every failure is logged.
    TJobResult Run(const std::string& reason);

    // Threads for the ZIP (0: one a core).
    unsigned ZipThreads = 0;
    // The instant whose local time names the archive; the current time when 0.
    std::time_t NameTime = 0;

private:
    bool Backup(const std::string& part, TJobResult& result);
    bool Compress(const std::string& fbk, const std::string& zip);
    void Prune(const std::string& stamp, TJobResult& result);
    void Fail(const std::string& message);

    const TFirebirdBase& base_;
    const TSetting& setting_;
    TEventLog& log_;
    TCancel* cancel_;
};

// "12 байт", "3,4 КБ", "105,3 МБ", "4,21 ГБ".
std::string FormatSize(std::uint64_t bytes);
// "0,4 с", "12 с", "3 мин 5 с", "2 ч 1 мин".
std::string FormatDuration(double seconds);

// Removes the service's temporary files (archive names followed by
// kPartSuffix) from the directory; the names removed. Only regular files
// and links are touched.
std::vector<std::string> RemovePartFiles(const std::string& dir);

}  // namespace qm::archiver
