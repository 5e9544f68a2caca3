#pragma once

#include <QDialog>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "config/firebird_base.h"
#include "operations/data_module.h"
#include "operations/interaction.h"
#include "operations/ui/qt_interaction.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace qm {

class TFileNameEdit;

// What the five operation dialogs share: a fixed 734 × 442 dialog (larger
// where its texts need more at the fonts in use) whose object name is the
// instance name and whose caption titles every box it shows; the read-only log
// view MemoLog (the window's colour behind it, the vertical scroll bar always
// shown) with its ILogView; btnOk (at least 99 × 25, the operation's own text)
// and btnCancel ("Отмена", at least 75 × 25), neither of them a default button,
// so that Enter starts nothing unasked. btnOk runs btnOkClick under the
// top-level error handler; btnCancel and Escape reject the dialog. While its
// operation runs the dialog cannot be closed by any means (window manager,
// Alt+F4, Escape, reject): the operation works on objects that closing would
// let the main window destroy.
class TOperationDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 734;
    static constexpr int kHeight = 442;
    static constexpr const char* kCancelText = "Отмена";

    // The record the dialog works on; null only where a dialog allows it.
    // Neither it nor the data module is owned by the dialog.
    TFirebirdBase* Base;

    QPlainTextEdit* MemoLog;
    QPushButton* btnOk;
    QPushButton* btnCancel;

    // Runs once, when the dialog is first shown, under the top-level error
    // handler; the first control of the tab order takes the focus after it.
    virtual void FormShow() {}
    // The operation: checks, asks, runs, reports.
    virtual void btnOkClick() = 0;

    void setVisible(bool visible) override;
    // Refused while the operation runs.
    void done(int result) override;

    // True while this dialog's operation runs.
    bool Running() const { return running_; }

protected:
    // base and dm must outlive the dialog. objectName is the instance name,
    // caption the window title, okText the text of btnOk.
    TOperationDialog(TFirebirdBase* base, Tdm& dm, QWidget* owner, const char* objectName,
                     const std::string& caption, const char* okText);

    // The current caption, the title of every box the dialog shows.
    std::string Caption() const;
    ILogView* Log() const { return log_.get(); }

    // A label of this dialog with an object name.
    QLabel* NamedLabel(const char* name, const char* text);
    // Completes layout below what the caller has put in it: logLabel, MemoLog
    // taking the spare height, then the button row at the right with
    // buttonGap pixels between btnOk and btnCancel.
    void AddLogAndButtons(QVBoxLayout* layout, QLabel* logLabel, int buttonGap);
    // The warning about other applications at the top of the dialogs that
    // work on a database in place: Label_Warning (word-wrapped text), gap
    // pixels (none for 0), then the sunken line Bevel.
    void AddWarning(QVBoxLayout* layout, const char* text, int gap);
    // Tab order: the given controls in turn, then MemoLog, btnOk, btnCancel.
    // The first of them is the one focused on the first show.
    void SetTabOrder(std::initializer_list<QWidget*> leading);

    // True when Base's database file exists; otherwise shows "Файл базы
    // данных не найден." as an error. Base must be set.
    bool DatabaseFileFound() const;
    // The confirmation before a run on Base's database: question with a
    // question icon while the database file is free, inUseQuestion with a
    // warning icon when something seems to hold it. True only for Yes. Base
    // must be set.
    bool ConfirmRun(const std::string& question, const std::string& inUseQuestion) const;
    // Shows the wait window with waitText over the dialog, empties MemoLog
    // and runs operation with the log view. The wait window is hidden on
    // every way out, an escaping error included, so that the caller's box
    // about the outcome never stands under it. Returns what operation returns.
    bool RunOperation(const std::string& waitText, const std::function<bool(ILogView*)>& operation);
    // The one box with the outcome: doneText as information, or failedText as
    // an error.
    void ShowOutcome(bool ok, const std::string& doneText, const std::string& failedText) const;

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    Tdm& dm_;

private:
    std::unique_ptr<QtLogView> log_;
    QWidget* firstFocus_ = nullptr;
    bool shown_ = false;
    bool sized_ = false;
    bool running_ = false;
};

// True while an operation of an operation dialog runs; the main window must
// not close then.
bool OperationRunning();

// Asks for a name through FileDialogs(): a dialog of kind with title and
// filter, opened on the current name of edit and in initialDir ("" for the
// toolkit's choice); defaultExt (without the dot) is what the toolkit appends
// to a name without extension. Returns the chosen name, or nothing when the
// dialog was cancelled; edit itself is left as it is.
std::optional<std::string> AskFileName(const TFileNameEdit& edit, FileDialogKind kind,
                                       const std::string& title, const std::string& filter,
                                       const std::string& initialDir = {},
                                       const std::string& defaultExt = {});

}  // namespace qm
