#include "operations/ui/validation_dialog.h"

#include <QVBoxLayout>

namespace qm {

TfrmValidationBase::TfrmValidationBase(TFirebirdBase& base, Tdm& dm, QWidget* owner)
    : TOperationDialog(&base, dm, owner, "frmValidationBase", kCaptionPrefix + base.Description,
                       "Проверить") {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 14, 13, 17);
    AddWarning(layout,
               "При проверке базы данных на наличие ошибок все приложения работающие с ней "
               "должны быть закрыты!",
               0);
    AddLogAndButtons(layout, NamedLabel("lblValidationLog", "Журнал проверки :"), 29);

    SetTabOrder({});
}

void TfrmValidationBase::btnOkClick() {
    if (!DatabaseFileFound()) return;
    // Advice only: on Yes the check runs while others may hold the database.
    if (!ConfirmRun("Начать проверку базы данны \"" + Base->Description + "\" ?",
                    "Возможно к базе данных подключены другие приложения. Начать проверку базы "
                    "данны \"" +
                        Base->Description + "\" всё равно?"))
        return;

    const bool ok = RunOperation("Выполняется проверка базы данных...",
                                 [this](ILogView* log) { return dm_.ValidationBase(*Base, log); });
    // The "c" before "ошибками" is the Latin letter, as the text has it.
    ShowOutcome(ok, "Проверка завершена.", "Проверка завершена c ошибками.");
}

}  // namespace qm
