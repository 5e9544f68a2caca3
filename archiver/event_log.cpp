#include "archiver/event_log.h"

#include "archiver/system.h"
#include "platform/text_encoding.h"

namespace qm::archiver {

namespace {

// Shorter secrets would blank ordinary words of the messages.
constexpr std::size_t kShortestSecret = 3;

}  // namespace

std::string LocalTimeText(std::time_t t, const char* format) {
    const std::tm tm = LocalTime(t);
    char buf[128];
    const std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

std::string HideSecret(const std::string& text, const std::string& secret) {
    std::string clean = text;
    if (secret.size() < kShortestSecret) return clean;
    for (std::size_t at = clean.find(secret); at != std::string::npos;
         at = clean.find(secret, at + 3))
        clean.replace(at, secret.size(), "***");
    return clean;
}

TEventLog::TEventLog(std::string path, std::FILE* echo, std::uint64_t rotateAt)
    : path_(std::move(path)), echo_(echo), rotateAt_(rotateAt) {}

void TEventLog::SetSecret(const std::string& secret) {
    std::lock_guard<std::mutex> g(m_);
    secret_ = secret;
}

std::string TEventLog::Prefix(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d > ", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::vector<std::string> TEventLog::Lines(const std::string& text, const std::tm& local) const {
    const std::string clean = HideSecret(text, secret_);
    std::vector<std::string> out;
    const std::string prefix = Prefix(local);
    std::string line;
    auto flush = [&] {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (!line.empty()) out.push_back(prefix + line);
        line.clear();
    };
    for (char c : clean) {
        if (c == '\n') {
            flush();
        } else if (c == '\r') {
            continue;
        } else {
            line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
        }
    }
    flush();
    if (out.empty()) out.push_back(prefix);
    return out;
}

bool TEventLog::Write(const std::string& text) {
    std::lock_guard<std::mutex> g(m_);
    std::string bytes;
    for (const std::string& l : Lines(text, LocalTime(std::time(nullptr)))) bytes += l + "\n";
    if (echo_ != nullptr) {
        std::fputs(bytes.c_str(), echo_);
        std::fflush(echo_);
    }
    if (path_.empty()) return true;
    return AppendLocked(path_, platform::Utf8ToSystem8Bit(bytes), rotateAt_, RotatedPath());
}

}  // namespace qm::archiver
