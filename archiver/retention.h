#pragma once

#include <optional>
#include <string>
#include <vector>

// Which files are a record's archives, and which of them "keep N" removes.
namespace qm::archiver {

// The suffix of a temporary file of the service: the name an archive will
// have, followed by it. Nothing with it is ever an archive.
inline constexpr const char* kPartSuffix = ".qmpart";

// The stamp "yyyy_mm_dd HH-nn" of a file name that one of the record's
// archives has: its database name (GetArchiveBaseName without the directory),
// a blank, the stamp, and ".fbk" or ".zip". Nothing for any other name. On
// Windows names compare without regard to letter case.
std::optional<std::string> ArchiveStamp(const std::string& fileName, const std::string& dbName);

// True for the name of a temporary file the service leaves when it is ended
// mid-run: any archive name of some database followed by kPartSuffix.
bool IsPartFileName(const std::string& fileName);

// The names to delete so that the newest keep archives remain. An archive is
// all the files of one stamp (its .fbk and its .zip). The archive of keptStamp
// (the one just made) always stays and counts as one of them; names that are
// not the record's archives are never chosen. keep <= 0 keeps everything.
std::vector<std::string> ArchivesBeyondCount(const std::vector<std::string>& fileNames,
                                             const std::string& dbName, int keep,
                                             const std::string& keptStamp);

// The file name part of GetArchiveBaseName: the database file's name without
// its extension.
std::string DatabaseNamePart(const std::string& archiveBaseName);

}  // namespace qm::archiver
