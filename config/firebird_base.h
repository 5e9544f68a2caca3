#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "config/errors.h"

namespace qm {

// One registered database with its automatic-archiving schedule.
class TFirebirdBase {
public:
    std::int32_t Number = 0;
    bool Active = false;
    std::string Description;
    std::string DBFile;
    std::string ArcDir;
    std::int32_t ArcFileCount = 0;
    bool Sun = false, Mon = false, Tue = false, Wed = false, Thu = false, Fri = false, Sat = false;
    bool DoZIP = false;
    std::vector<std::string> BackupTimes;  // "HH:mm" each, in list order
};

// Path of the list file: the program's data directory and "Quillmoor.bse".
std::string ListFilePath();

// The register: an ordered list that owns its records.
class TFirebirdBaseList {
public:
    explicit TFirebirdBaseList(bool load);

    // Clears the list and reads the list file into it. Never fails: reading
    // stops silently at the first gap or problem.
    void Load();

    std::size_t Count() const { return items_.size(); }
    TFirebirdBase* operator[](std::size_t i) const { return items_[i].get(); }
    void Clear() { items_.clear(); }
    void Add(std::unique_ptr<TFirebirdBase> base) { items_.push_back(std::move(base)); }

    // Replaces the record's section (named by its Number) in the list file,
    // keeping every other line of the file; a missing section is appended, a
    // missing file created. The file is replaced atomically. Throws
    // EIniFileError when it cannot be written, and for a value holding a line
    // break, which would forge lines of its own; the file then stays as it was.
    static void SaveFirebirdBase(const TFirebirdBase& base);

    // Replaces the whole list file by one holding exactly these records, in
    // this order, as sections "0" to n-1, and then sets each record's Number
    // to its position; with no records the file is removed. Returns false and
    // changes nothing when the list file is missing, not a regular file, not
    // writable, or in a directory that is not writable. Throws EIniFileError,
    // with the file and the Numbers unchanged, when the new file cannot be
    // written or a value holds a line break.
    static bool RebuildListFile(const std::vector<TFirebirdBase*>& records);

    // ArcDir with a trailing delimiter, then DBFile's file name without its
    // extension.
    static std::string GetArchiveBaseName(const TFirebirdBase& base);
    // GetArchiveBaseName, " yyyy_mm_dd HH-nn" of the given local time, ".fbk".
    static std::string GetArchiveFileName(const TFirebirdBase& base, const std::tm& localTime);
    // The same at the current local time.
    static std::string GetArchiveFileName(const TFirebirdBase& base);

private:
    std::vector<std::unique_ptr<TFirebirdBase>> items_;
};

}  // namespace qm
