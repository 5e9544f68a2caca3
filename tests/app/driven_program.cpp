// The program as it is, started through its real start-up, driven by a list
// of steps instead of a user, for the tests of tests/app. It prints what a
// user would see, one line each: "box: <text>" for every message box, "log:
// <line>" for every line of an operation's log (without the time stamp),
// "step: <name>" when a step is done, "ready" when it waits for the test, and
// "exit handlers ran" if the process's exit handlers run at its end.
//
// Usage: qm_driven_program <steps> [<answers>]
//   steps    comma-separated, run in order:
//            wait      print "ready" and wait for whatever the test sends
//            backup    back up the first registered database to <data>/a.fbk
//            backup-term, backup-int
//                      the same, raising SIGTERM or SIGINT in the process
//                      while the server works on it
//            restore   restore <data>/a.fbk to <data>/restored.fdb
//            editor-term
//                      raise SIGTERM while the database editor is open
//            int       raise SIGINT while idle and wait for the close query
//            exit      the menu command "Выход"
//   answers  comma-separated "yes"/"no" for the close queries in turn
//            (default: yes)
// Every other question is answered Yes, every other box OK.

#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "app/program.h"
#include "operations/interaction.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/operation_dialog.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/restore_dialog.h"
#include "platform/paths.h"
#include "ui/main_window.h"

namespace qm {
namespace {

void Print(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::deque<std::string> Split(const std::string& list) {
    std::deque<std::string> out;
    std::size_t from = 0;
    while (from <= list.size() && !list.empty()) {
        const std::size_t comma = list.find(',', from);
        out.push_back(
            list.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return out;
}

bool IsCloseQuery(const std::string& text) {
    return text == "Завершить программу?" ||
           text.rfind("Служба автоархивации баз данных Firebird не запущенна.", 0) == 0;
}

class PrintingBoxes final : public IMessageBoxes {
public:
    explicit PrintingBoxes(std::deque<std::string> closeAnswers)
        : closeAnswers_(std::move(closeAnswers)) {}
    MsgButton Show(const MessageRequest& r) override {
        Print("box: " + r.text);
        if (IsCloseQuery(r.text)) {
            ++closeQueries;
            const std::string answer = closeAnswers_.empty() ? "yes" : closeAnswers_.front();
            if (!closeAnswers_.empty()) closeAnswers_.pop_front();
            return answer == "no" ? mbNo : mbYes;
        }
        return (r.buttons & mbYes) ? mbYes : mbOK;
    }
    int closeQueries = 0;

private:
    std::deque<std::string> closeAnswers_;
};

class Driver {
public:
    Driver(TMoorquill& w, std::deque<std::string> steps, PrintingBoxes& boxes)
        : w_(w), steps_(std::move(steps)), boxes_(boxes) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }

private:
    // Runs the operation dialog that `open` shows modally: fills it, presses
    // its button, prints its log and closes it.
    void RunDialog(const char* action, const std::function<void(TOperationDialog&)>& fill,
                   int signal = 0) {
        QTimer::singleShot(0, [this, fill, signal] {
            auto* d = qobject_cast<TOperationDialog*>(QApplication::activeModalWidget());
            if (d == nullptr) {
                Print("error: no dialog");
                return;
            }
            fill(*d);
            auto raised = std::make_shared<bool>(false);
            QObject::connect(d->MemoLog, &QPlainTextEdit::textChanged, d, [d, signal, raised] {
                // While the operation runs, its service attached.
                if (signal != 0 && !*raised && d->MemoLog->toPlainText().contains("Создан архив")) {
                    *raised = true;
                    ::kill(::getpid(), signal);
                }
            });
            d->btnOk->click();
            for (const QString& line : d->MemoLog->toPlainText().split('\n'))
                Print("log: " + S(line.mid(22)));
            d->reject();
        });
        w_.findChild<QAction*>(action)->trigger();
    }

    void Tick() {
        if (busy_) return;
        if (waitingForCloseQuery_) {
            if (boxes_.closeQueries == closeQueriesBefore_) return;
            waitingForCloseQuery_ = false;
            Print("step: int");
        }
        if (steps_.empty()) return;
        const std::string step = steps_.front();
        steps_.pop_front();
        busy_ = true;
        const std::string data = platform::DataDir();
        if (step == "wait") {
            Print("ready");
        } else if (step == "backup" || step == "backup-term" || step == "backup-int") {
            w_.findChild<QTreeWidget*>("lvBase")->topLevelItem(0)->setSelected(true);
            const int signal = step == "backup-term" ? SIGTERM : step == "backup-int" ? SIGINT : 0;
            RunDialog(
                "mmBackupBase",
                [data](TOperationDialog& d) {
                    d.findChild<TFileNameEdit*>("edBackupFile")->SetName(data + "a.fbk");
                },
                signal);
            Print("step: " + step);
        } else if (step == "restore") {
            RunDialog("mmRestoreBase", [data](TOperationDialog& d) {
                auto& r = static_cast<TfrmRestoreBase&>(d);
                r.edBackupFile->SetName(data + "a.fbk");
                r.edBaseFile->SetName(data + "restored.fdb");
            });
            Print("step: restore");
        } else if (step == "editor-term") {
            // The end of the session while the editor is open: it is cancelled.
            QTimer::singleShot(0, [] {
                if (QApplication::activeModalWidget() != nullptr) Print("editor open");
                ::kill(::getpid(), SIGTERM);
            });
            w_.findChild<QAction*>("mmAddBase")->trigger();
            Print("step: editor-term");
        } else if (step == "int") {
            closeQueriesBefore_ = boxes_.closeQueries;
            waitingForCloseQuery_ = true;
            ::kill(::getpid(), SIGINT);
        } else if (step == "exit") {
            w_.findChild<QAction*>("mmExit")->trigger();
            Print("step: exit");
        } else {
            Print("error: unknown step " + step);
        }
        busy_ = false;
    }

    TMoorquill& w_;
    std::deque<std::string> steps_;
    PrintingBoxes& boxes_;
    QTimer timer_;
    bool busy_ = false;
    bool waitingForCloseQuery_ = false;
    int closeQueriesBefore_ = 0;
};

}  // namespace
}  // namespace qm

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <steps> [<close answers>]\n", argv[0]);
        return 2;
    }
    // The exit handlers of the process, the client library's among them, must
    // not run when the program ends.
    std::atexit([] { qm::Print("exit handlers ran"); });
    static qm::PrintingBoxes boxes(qm::Split(argc > 2 ? argv[2] : ""));
    static std::unique_ptr<qm::Driver> driver;
    const std::deque<std::string> steps = qm::Split(argv[1]);
    qm::RunProgram(argc, argv, [&](qm::TMoorquill& w) {
        qm::InstallMessageBoxes(&boxes);
        driver = std::make_unique<qm::Driver>(w, steps, boxes);
    });
}
