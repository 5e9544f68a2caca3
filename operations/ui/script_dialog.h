#pragma once

#include <string>

#include "operations/ui/operation_dialog.h"

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace qm {

class TFileNameEdit;

// The script run dialog (instance name frmScriptBase): the user picks a script
// file (its text is previewed in MemoLog), the SQL dialect, the connection
// character set and a role; the run connects dm.DataBase, has the data module
// run the script with every failing statement logged and the run going on,
// disconnects and reports the outcome in one box. Its caption is "Выполнение
// скрипта: " and the record's Description; every box it shows carries the
// current caption as its title.
class TfrmScriptBase : public TOperationDialog {
    Q_OBJECT
public:
    // base and dm must outlive the dialog; the dialog owns neither.
    TfrmScriptBase(TFirebirdBase& base, Tdm& dm, QWidget* owner);

    static constexpr const char* kCaptionPrefix = "Выполнение скрипта: ";
    static constexpr const char* kOpenTitle = "Открыть скрипт...";
    static constexpr const char* kScriptFilter = "Файлы скрипта (*.sql)|*.sql|Все файлы|*.*";

    // The browse button: an open dialog; a chosen name goes into edScriptFile
    // and through edScriptFileAfterDialog.
    void edScriptFileBrowse();
    // When the file dialog was confirmed: MemoLog shows the file's text as a
    // preview (no time stamps), or an error box when it cannot be read.
    void edScriptFileAfterDialog(const std::string& name, bool confirmed);
    // The run button: checks the file, asks, connects, runs, disconnects and
    // reports. The wait window is hidden and the connection closed on every
    // way out.
    void btnOkClick() override;

    TFileNameEdit* edScriptFile;
    QSpinBox* seSQLDialect;
    QComboBox* cbCharSet;
    QLineEdit* edRole;

private:
    // Closes dm.DataBase when it is open; a failing detach is logged and the
    // attachment dropped all the same.
    void CloseConnection();
};

}  // namespace qm
