#pragma once

#include <string>

#include "operations/ui/operation_dialog.h"

namespace qm {

// The optimization dialog (instance name frmOptimizationBase): asks before it
// starts (warning when the database seems to be in use), runs backup, restore
// over the database, deletion of the temporary archive and validation
// (OptimizeBase) under the wait window with every step's lines in MemoLog,
// and reports the outcome in one box. Its caption is "Оптимизация работы базы
// данных : " and the record's Description; every box it shows carries the
// current caption as its title.
class TfrmOptimizationBase : public TOperationDialog {
    Q_OBJECT
public:
    // base and dm must outlive the dialog; the dialog owns neither.
    TfrmOptimizationBase(TFirebirdBase& base, Tdm& dm, QWidget* owner);

    static constexpr const char* kCaptionPrefix = "Оптимизация работы базы данных : ";

    // The optimize button: checks the file, asks, runs the optimization under
    // a temporary archive name of its own, reports.
    void btnOkClick() override;

    // The temporary archive of the last run ("" before the first).
    const std::string& LastArchive() const { return lastArchive_; }

private:
    std::string lastArchive_;
};

}  // namespace qm
