#include "config/firebird_base.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "config/ini_file.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "platform/platform.h"

namespace qm {

namespace {

// Key names of the stored format, misspellings included: the auto-archiving
// service reads the same file.
constexpr const char* kActive = "Active";
constexpr const char* kDescription = "Discription";
constexpr const char* kDBFile = "DBFile";
constexpr const char* kArcDir = "ArcDir";
constexpr const char* kDoZIP = "DoZIP";
constexpr const char* kArcFileCount = "ArcArcFileCountDir";
constexpr const char* kBackupTime = "BackupTime";
constexpr std::int32_t kDefaultArcFileCount = 20;

const char* Flag(bool b) { return b ? "1" : "0"; }

std::vector<TIniKey> SectionKeys(const TFirebirdBase& b) {
    std::vector<TIniKey> keys = {
        {kActive, Flag(b.Active)},
        {kDescription, b.Description},
        {kDBFile, b.DBFile},
        {kArcDir, b.ArcDir},
        {kDoZIP, Flag(b.DoZIP)},
        {kArcFileCount, std::to_string(b.ArcFileCount)},
        // Monday first, Sunday last, whatever the order of the fields.
        {"Mon", Flag(b.Mon)},
        {"Tue", Flag(b.Tue)},
        {"Wed", Flag(b.Wed)},
        {"Thu", Flag(b.Thu)},
        {"Fri", Flag(b.Fri)},
        {"Sat", Flag(b.Sat)},
        {"Sun", Flag(b.Sun)},
    };
    for (std::size_t i = 0; i < b.BackupTimes.size(); ++i)
        keys.emplace_back(kBackupTime + std::to_string(i), b.BackupTimes[i]);
    return keys;
}

std::unique_ptr<TFirebirdBase> ReadSection(const TIniFile& ini, std::int32_t number) {
    const std::string s = std::to_string(number);
    auto b = std::make_unique<TFirebirdBase>();
    b->Number = number;
    b->Active = ini.ReadBool(s, kActive, false);
    b->Description = ini.ReadString(s, kDescription, "");
    b->DBFile = ini.ReadString(s, kDBFile, "");
    b->ArcDir = ini.ReadString(s, kArcDir, "");
    b->DoZIP = ini.ReadBool(s, kDoZIP, false);
    b->ArcFileCount = ini.ReadInteger(s, kArcFileCount, kDefaultArcFileCount);
    b->Mon = ini.ReadBool(s, "Mon", false);
    b->Tue = ini.ReadBool(s, "Tue", false);
    b->Wed = ini.ReadBool(s, "Wed", false);
    b->Thu = ini.ReadBool(s, "Thu", false);
    b->Fri = ini.ReadBool(s, "Fri", false);
    b->Sat = ini.ReadBool(s, "Sat", false);
    b->Sun = ini.ReadBool(s, "Sun", false);
    // An empty time is skipped; only a missing key ends the times.
    for (std::size_t k = 0;; ++k) {
        const std::string key = kBackupTime + std::to_string(k);
        if (!ini.ValueExists(s, key)) break;
        std::string t = ini.ReadString(s, key, "");
        if (!t.empty()) b->BackupTimes.push_back(std::move(t));
    }
    return b;
}

}  // namespace

std::string ListFilePath() { return platform::DataDir() + "Quillmoor.bse"; }

TFirebirdBaseList::TFirebirdBaseList(bool load) {
    if (load) Load();
}

void TFirebirdBaseList::Load() {
    items_.clear();
    try {
        TIniFile ini(ListFilePath());
        for (std::int32_t n = 0; n >= 0 && ini.SectionExists(std::to_string(n)); ++n)
            items_.push_back(ReadSection(ini, n));
    } catch (const std::exception&) {
        // Reading never fails: the records read so far are the register.
    }
}

void TFirebirdBaseList::SaveFirebirdBase(const TFirebirdBase& base) {
    TIniFile ini(ListFilePath());
    ini.ReplaceSection(std::to_string(base.Number), SectionKeys(base));
    ini.UpdateFile();
}

bool TFirebirdBaseList::RebuildListFile(const std::vector<TFirebirdBase*>& records) {
    const std::string path = ListFilePath();
    if (!platform::FileExists(path) || !platform::IsWritableFile(path) ||
        !platform::IsWritableDirectory(platform::ExtractFilePath(path)))
        return false;
    // A list file kept elsewhere through a symbolic link stays there.
    if (records.empty()) return platform::DeleteFile(platform::ResolveSymbolicLinks(path));

    TIniFile ini = TIniFile::Empty(path);
    for (std::size_t i = 0; i < records.size(); ++i)
        ini.ReplaceSection(std::to_string(i), SectionKeys(*records[i]));
    ini.UpdateFile();
    // Numbers follow the file only once it holds them.
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i]->Number = static_cast<std::int32_t>(i);
    return true;
}

std::string TFirebirdBaseList::GetArchiveBaseName(const TFirebirdBase& base) {
    std::string dir = base.ArcDir;
    if (dir.empty() || dir.back() != platform::kPathDelim) dir += platform::kPathDelim;
    std::string name = platform::ExtractFileName(base.DBFile);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    return dir + name;
}

std::string TFirebirdBaseList::GetArchiveFileName(const TFirebirdBase& base,
                                                  const std::tm& localTime) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, " %04d_%02d_%02d %02d-%02d", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min);
    return GetArchiveBaseName(base) + stamp + ".fbk";
}

std::string TFirebirdBaseList::GetArchiveFileName(const TFirebirdBase& base) {
    const std::time_t now = std::time(nullptr);
    return GetArchiveFileName(base, platform::LocalTime(now));
}

}  // namespace qm
