#include "archiver/retention.h"

#include <algorithm>
#include <set>

#include "platform/paths.h"

namespace qm::archiver {

namespace {

// " yyyy_mm_dd HH-nn"
constexpr std::size_t kStampLength = 16;

bool SameName(const std::string& a, const std::string& b) {
#ifdef _WIN32
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
#else
    return a == b;
#endif
}

bool IsStamp(const std::string& s) {
    static const char kForm[] = "dddd_dd_dd dd-dd";
    if (s.size() != kStampLength) return false;
    for (std::size_t i = 0; i < kStampLength; ++i) {
        if (kForm[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != kForm[i]) return false;
    }
    return true;
}

bool HasArchiveExtension(const std::string& name) {
    if (name.size() < 4) return false;
    const std::string ext = name.substr(name.size() - 4);
    return SameName(ext, ".fbk") || SameName(ext, ".zip");
}

}  // namespace

std::optional<std::string> ArchiveStamp(const std::string& fileName, const std::string& dbName) {
    // "<db> " + stamp + ".fbk"
    if (fileName.size() != dbName.size() + 1 + kStampLength + 4) return std::nullopt;
    if (!SameName(fileName.substr(0, dbName.size()), dbName) || fileName[dbName.size()] != ' ')
        return std::nullopt;
    if (!HasArchiveExtension(fileName)) return std::nullopt;
    std::string stamp = fileName.substr(dbName.size() + 1, kStampLength);
    if (!IsStamp(stamp)) return std::nullopt;
    return stamp;
}

bool IsPartFileName(const std::string& fileName) {
    const std::string suffix = kPartSuffix;
    if (fileName.size() <= suffix.size() + kStampLength + 5) return false;
    if (fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    const std::string archive = fileName.substr(0, fileName.size() - suffix.size());
    if (!HasArchiveExtension(archive)) return false;
    const std::size_t stampAt = archive.size() - 4 - kStampLength;
    return archive[stampAt - 1] == ' ' && IsStamp(archive.substr(stampAt, kStampLength));
}

std::vector<std::string> ArchivesBeyondCount(const std::vector<std::string>& fileNames,
                                             const std::string& dbName, int keep,
                                             const std::string& keptStamp) {
    std::vector<std::string> out;
    if (keep <= 0) return out;
    std::set<std::string, std::greater<>> stamps;
    for (const std::string& name : fileNames) {
        if (auto s = ArchiveStamp(name, dbName); s && *s != keptStamp) stamps.insert(*s);
    }
    // The archive just made is one of the keep; the newest others fill the rest.
    std::set<std::string> kept{keptStamp};
    for (const std::string& s : stamps) {
        if (static_cast<int>(kept.size()) >= keep) break;
        kept.insert(s);
    }
    for (const std::string& name : fileNames) {
        if (auto s = ArchiveStamp(name, dbName); s && kept.count(*s) == 0) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string DatabaseNamePart(const std::string& archiveBaseName) {
    return platform::ExtractFileName(archiveBaseName);
}

}  // namespace qm::archiver
