// Draws every window of the program with sample content and saves each as a
// PNG in the given folder, for the documentation and for checking by eye that
// every text shows whole and in Russian. Run it on a real display server (for
// example under xvfb-run with -dpi 96 or 120): scripts/screenshots.sh does.
//
// Usage: qm_screenshots <output folder>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "operations/data_module.h"
#include "operations/interaction.h"
#include "operations/ui/backup_dialog.h"
#include "operations/ui/optimization_dialog.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/restore_dialog.h"
#include "operations/ui/script_dialog.h"
#include "operations/ui/validation_dialog.h"
#include "operations/ui/wait_window.h"
#include "ui/application.h"
#include "ui/base_editor.h"
#include "ui/main_window.h"
#include "ui/setting_dialog.h"

namespace qm {
namespace {

QString g_out;
int g_failures = 0;

void Save(QWidget* w, const char* name) {
    QApplication::processEvents();
    const QString path = g_out + "/" + QString::fromUtf8(name) + ".png";
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
        ++g_failures;
    }
}

void Show(QWidget* w) {
    w->show();
    w->activateWindow();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// Runs open(), which shows a modal window through the program's own code, and
// saves that window before closing it.
void SaveModal(const char* name, const std::function<void()>& open) {
    QTimer::singleShot(300, [name] {
        QWidget* m = QApplication::activeModalWidget();
        if (m == nullptr) {
            std::fprintf(stderr, "no modal window for %s\n", name);
            ++g_failures;
            return;
        }
        Save(m, name);
        if (auto* d = qobject_cast<QDialog*>(m)) d->reject();
    });
    open();
}

void AddLogLines(QPlainTextEdit* memo, std::initializer_list<const char*> lines) {
    for (const char* l : lines)
        memo->appendPlainText(QString::fromUtf8("07.03.2011 09:05:02 > ") + QString::fromUtf8(l));
}

void WriteFile(const std::string& path, const std::string& text) {
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

int Run() {
    const std::string data = QDir::tempPath().toStdString() + "/quillmoor-screenshots/";
    QDir().mkpath(QString::fromStdString(data + "units"));
    QDir().mkpath(QString::fromStdString(data + "archive/old"));
    for (const char* name :
         {"archive/store 2012_03_05 13-30.fbk", "archive/store 2012_03_06 13-30.fbk",
          "archive/accounts 2012_03_05 23-00.fbk", "archive/README"})
        WriteFile(data + name, "-");
    const std::string archive = data + "archive";
    ::setenv("QUILLMOOR_DATA_DIR", data.c_str(), 1);
    ::setenv("QUILLMOOR_SYSTEMD_UNIT_DIR", (data + "units").c_str(), 1);
    std::string list;
    const char* bases[][2] = {{"Склад", "/srv/firebird/store.fdb"},
                              {"Бухгалтерия", "/srv/firebird/accounts.fdb"},
                              {"Кадры", "/srv/firebird/staff.fdb"}};
    for (int i = 0; i < 3; ++i)
        list += "[" + std::to_string(i) + "]\nActive=" + (i != 1 ? "1" : "0") +
                "\nDiscription=" + bases[i][0] + "\nDBFile=" + bases[i][1] +
                "\nArcDir=/srv/archive/\nDoZIP=0\nArcArcFileCountDir=20\nMon=1\nTue=1\nWed=1\n"
                "Thu=1\nFri=1\nSat=0\nSun=0\nBackupTime0=13:30\nBackupTime1=23:00\n";
    WriteFile(data + "Quillmoor.bse", list);
    WriteFile(data + "Quillmoor.log",
              "05.03.2012 13:30:00 > Архивация \"Склад\" началась...\n"
              "05.03.2012 13:30:41 > Создан архив: /srv/archive/store 2012_03_05 13-30.fbk\n"
              "05.03.2012 13:30:41 > Автоматическая архивация успешно завершена.\n");

    TMoorquill w;
    Show(&w);
    w.findChild<QTreeWidget*>("lvBase")->topLevelItem(0)->setSelected(true);
    Save(&w, "main-window");
    TFirebirdBase& base = *w.BaseList()[0];

    {
        TfrmBackupBase d(base, w.dm(), &w);
        Show(&d);
        AddLogLines(d.MemoLog, {"Архивация \"Склад\" началась...",
                                "Создан архив: /srv/archive/store 2012_03_05 14-30.fbk",
                                "Ручная архивация успешна завершена."});
        Save(&d, "backup-dialog");
    }
    {
        TfrmRestoreBase d(&base, w.dm(), &w);
        Show(&d);
        Save(&d, "restore-dialog");
    }
    {
        TfrmValidationBase d(base, w.dm(), &w);
        Show(&d);
        Save(&d, "validation-dialog");
    }
    {
        TfrmOptimizationBase d(base, w.dm(), &w);
        Show(&d);
        Save(&d, "optimization-dialog");
    }
    {
        TfrmScriptBase d(base, w.dm(), &w);
        Show(&d);
        Save(&d, "script-dialog");
    }
    {
        TfrmBase d(w, w.dm(), w.Setting(), &w);
        d.setWindowTitle(QStringLiteral("Зарегистрировать базу данных"));
        Show(&d);
        Save(&d, "database-editor");
    }
    {
        TfrmSetting d(w.Setting(), &w);
        Show(&d);
        Save(&d, "settings-dialog");
    }
    {
        TfrmRestoreBase d(&base, w.dm(), &w);
        Show(&d);
        ShowWait(&d, "Выполняется восстановление базы данных из архива...");
        Save(WaitThread()->WaitForm(), "wait-window");
        HideWait();
    }
    SaveModal("question-box", [] {
        AskQuestion(kAppTitle,
                    "Служба автоархивации баз данных Firebird не запущенна. Завершить программу "
                    "всё равно?",
                    MsgIcon::Warning, mbYes);
    });
    SaveModal("error-box", [] { ShowError(kAppTitle, "Файл архива не указан."); });
    auto fileDialog = [&](FileDialogKind kind, const char* title, const char* filter,
                          const char* defaultExt) {
        return [&archive, kind, title, filter, defaultExt] {
            FileDialogRequest r;
            r.kind = kind;
            r.title = title;
            r.filter = filter;
            r.defaultExt = defaultExt;
            r.initialDir = archive;
            FileDialogs().Run(r);
        };
    };
    SaveModal("open-dialog", fileDialog(FileDialogKind::Open, "Открыть архив...",
                                        TfrmBackupBase::kArchiveFilter, ""));
    SaveModal("save-dialog", fileDialog(FileDialogKind::Save, TfrmBackupBase::kSaveTitle,
                                        TfrmBackupBase::kArchiveFilter, "fbk"));
    SaveModal("folder-dialog",
              fileDialog(FileDialogKind::Folder, TfrmBase::kBackupDirTitle, "", ""));
    {
        QLineEdit edit(QStringLiteral("Склад"));
        Show(&edit);
        edit.selectAll();
        QMenu* menu = edit.createStandardContextMenu();
        menu->popup(edit.mapToGlobal(QPoint(0, 0)));
        Save(menu, "edit-context-menu");
        delete menu;
    }
    {
        QWidget* menuBar = w.findChild<QMenu*>("mmBase");
        auto* mm = qobject_cast<QMenu*>(menuBar);
        mm->popup(w.mapToGlobal(QPoint(0, 20)));
        Save(mm, "database-menu");
        mm->hide();
    }
    QDir(QString::fromStdString(data)).removeRecursively();
    return g_failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace qm

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    qm::TApplication app(argc, argv);
    qm::InstallQtInteraction();
    qm::g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(qm::g_out);
    return qm::Run();
}
