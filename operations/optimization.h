#pragma once

#include <ctime>
#include <string>

#include "config/firebird_base.h"
#include "operations/data_module.h"
#include "operations/interaction.h"

namespace qm {

// The temporary archive of one optimization run: GetArchiveBaseName of the
// record, "_yyyymmddhhnnss" of the given local time, ".tmp".
std::string OptimizationArchiveName(const TFirebirdBase& base, const std::tm& localTime);
// The same at the current local time.
std::string OptimizationArchiveName(const TFirebirdBase& base);

// Rebuilds the registered database through the temporary archive, every step
// logging to the same view: BackupBase to the archive, RestoreBase from it over
// the database file, deletion of the archive, ValidationBase of the rebuilt
// database, and the closing line. True when the rebuilt database passed the
// validation.
//
// At every point either the database file or a complete archive of it exists:
// the restore replaces the database only once the new one is complete, and the
// archive is deleted only after a successful restore. When the restore fails
// the archive is kept and the log names it; when the backup fails, only an
// archive this run wrote is deleted. Never raises and shows no box.
bool OptimizeBase(Tdm& dm, const TFirebirdBase& base, const std::string& tempArchive,
                  ILogView* log);

}  // namespace qm
