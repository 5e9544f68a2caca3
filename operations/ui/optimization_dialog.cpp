#include "operations/ui/optimization_dialog.h"

#include <QVBoxLayout>

#include "operations/optimization.h"

namespace qm {

TfrmOptimizationBase::TfrmOptimizationBase(TFirebirdBase& base, Tdm& dm, QWidget* owner)
    : TOperationDialog(&base, dm, owner, "frmOptimizationBase", kCaptionPrefix + base.Description,
                       "Оптимизировать") {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 13, 17);
    AddWarning(layout,
               "Оптимизация базы данных - тест базы данных на наличие ошибок; архивирование "
               "и последующее восстановление базы данных; улучшение производительности "
               "индексов. Оптимизация уменьшает размер базы данных, повышает скорость "
               "работы с ней.\nПри ремонте базы данных все приложения работающие с ней "
               "должны быть закрыты!",
               10);
    AddLogAndButtons(layout, NamedLabel("lblOptimizationLog", "Журнал оптимизации :"), 29);

    SetTabOrder({});
}

void TfrmOptimizationBase::btnOkClick() {
    if (!DatabaseFileFound()) return;
    if (!ConfirmRun("Начать оптимизацию базы данны \"" + Base->Description + "\" ?",
                    "Возможно к базе данных подключены другие приложения. Начать оптимизацию "
                    "базы данны \"" +
                        Base->Description + "\" всё равно?"))
        return;

    const bool ok = RunOperation("Выполняется оптимизация базы данных...", [this](ILogView* log) {
        lastArchive_ = OptimizationArchiveName(*Base);
        return OptimizeBase(dm_, *Base, lastArchive_, log);
    });
    ShowOutcome(ok, "Оптимизация завершена.", "Оптимизация прервана из-за ошибки.");
}

}  // namespace qm
