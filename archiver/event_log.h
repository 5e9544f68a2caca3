#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

// The service's event log "Quillmoor.log": one line an event, each beginning
// with the local time "dd.mm.yyyy HH:nn:ss > ". A line is appended under an
// exclusive lock held only while it is written (the manager reads the file
// under a shared lock), and the file is rotated at a size that keeps the
// manager's view quick. The same lines may go to a stream as well (standard
// error for the journal, standard output for a command).
namespace qm::archiver {

inline constexpr std::uint64_t kLogRotateBytes = 1024 * 1024;

// The text with every occurrence of the secret written as "***"; a secret
// shorter than three characters is left alone, as it would blank ordinary
// words.
std::string HideSecret(const std::string& text, const std::string& secret);

class TEventLog {
public:
    // path: the log file; "" writes to the stream only.
    explicit TEventLog(std::string path, std::FILE* echo = nullptr,
                       std::uint64_t rotateAt = kLogRotateBytes);

    // A text that must never reach the log or the stream (the SYSDBA
    // password): each occurrence is written as "***".
    void SetSecret(const std::string& secret);

    // Writes one event. A text of several lines is written as several lines,
    // each with the time; control characters become blanks. Thread-safe;
    // never throws. False when the file could not be written.
    bool Write(const std::string& text);

    const std::string& Path() const { return path_; }
    // The file the log is rotated to: the path followed by ".1".
    std::string RotatedPath() const { return path_ + ".1"; }

    // "dd.mm.yyyy HH:nn:ss > " of a local time.
    static std::string Prefix(const std::tm& local);
    // The lines Write makes of a text at a local time.
    std::vector<std::string> Lines(const std::string& text, const std::tm& local) const;

private:
    std::string path_;
    std::FILE* echo_;
    std::uint64_t rotateAt_;
    std::string secret_;
    std::mutex m_;
};

}  // namespace qm::archiver
