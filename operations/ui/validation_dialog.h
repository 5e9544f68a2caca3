#pragma once

#include "operations/ui/operation_dialog.h"

namespace qm {

// The validation dialog (instance name frmValidationBase): asks before it
// starts (warning when the database seems to be in use), runs the data
// module's validation under the wait window with the server's findings in
// MemoLog, and reports the outcome in one box. Its caption is "Проверка базы
// данных на ошибки: " and the record's Description; every box it shows
// carries the current caption as its title.
class TfrmValidationBase : public TOperationDialog {
    Q_OBJECT
public:
    // base and dm must outlive the dialog; the dialog owns neither.
    TfrmValidationBase(TFirebirdBase& base, Tdm& dm, QWidget* owner);

    static constexpr const char* kCaptionPrefix = "Проверка базы данных на ошибки: ";

    // The check button: checks the file, asks, runs the validation, reports.
    void btnOkClick() override;
};

}  // namespace qm
