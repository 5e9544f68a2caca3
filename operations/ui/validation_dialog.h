#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "config/firebird_base.h"
#include "operations/data_module.h"
#include "operations/ui/qt_interaction.h"

class QPlainTextEdit;
class QPushButton;

namespace qm {

// The validation dialog (instance name frmValidationBase): asks before it
// starts (warning when the database seems to be in use), runs the data
// module's validation under the wait window with the server's findings in
// MemoLog, and reports the outcome in one box. Its caption is "Проверка базы
// данных на ошибки: " and the record's Description; every box it shows
// carries the current caption as its title.
class TfrmValidationBase : public QDialog {
    Q_OBJECT
public:
    // base and dm must outlive the dialog; the dialog owns neither.
    TfrmValidationBase(TFirebirdBase& base, Tdm& dm, QWidget* owner);

    static constexpr const char* kCaptionPrefix = "Проверка базы данных на ошибки: ";

    TFirebirdBase* Base;

    // The check button: checks the file, asks, runs the validation, reports.
    void btnOkClick();

    QPlainTextEdit* MemoLog;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    std::string Caption() const;

    Tdm& dm_;
    std::unique_ptr<QtLogView> log_;
};

}  // namespace qm
