// Figures of a script whose every statement the server refuses: 5,000
// statements, half refused when prepared (a table that does not exist), half
// when executed (a duplicate primary key). Fresh databases on the embedded
// engine, alternately run by `isql-fb -q -i`, by the data module's ScriptBase
// without a window (its error handler logging every refusal, rolling back and
// going on) and by the script dialog itself, offscreen. Prints the time of
// each and their ratios to isql-fb.
//
// Usage: script_refusal_bench [rounds] [statements]   (defaults 3 and 5000)

#include <sys/resource.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/component.h"
#include "firebird/database.h"
#include "operations/data_module.h"
#include "operations/interaction.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/script_dialog.h"

namespace {

using namespace qm;
using namespace qm::bench;

std::string Script(int statements) {
    std::string s;
    for (int i = 0; i < statements; ++i) {
        s += i % 2 == 0 ? "INSERT INTO MISSING VALUES (" + std::to_string(i) + ");\n"
                        : "INSERT INTO T VALUES (1);\n";
    }
    return s;
}

long long Count(const std::string& text, const std::string& what) {
    long long n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size()))
        ++n;
    return n;
}

// A log view that keeps its lines, as the script run's view does without a window.
class KeptLog final : public ILogView {
public:
    void Clear() override { text.clear(); }
    void AddLine(const std::string& line) override {
        text += line;
        text += '\n';
    }
    std::string text;
};

// Every question answered Yes, every outcome taken.
class YesBoxes final : public IMessageBoxes {
public:
    MsgButton Show(const MessageRequest& r) override {
        last = r.text;
        return (r.buttons & mbYes) != 0 ? mbYes : mbOK;
    }
    std::string last;
};

constexpr const char* kErrorLine = "Ошибка в строке номер: ";

struct Program {
    TComponent moorquill{nullptr, "Moorquill"};
    TSetting setting{false};
    std::unique_ptr<Tdm> dm;
    Program() {
        setting.LibraryName = "libfbclient.so.2";
        setting.SYSDBAPassword = "masterkey";
        dm = std::make_unique<Tdm>(&moorquill, setting);
    }
};

// The data module's run as the dialog makes it, without the dialog.
long long RunScriptBase(const std::string& db, const std::string& file) {
    Program p;
    KeptLog log;
    p.dm->SetConnectParams(db, "WIN1251", "", 3);
    p.dm->DataBase->Connect();
    p.dm->ScriptBase(file, &log, "WIN1251");
    p.dm->DataBase->Disconnect();
    return Count(log.text, kErrorLine);
}

long long RunDialog(const std::string& db, const std::string& file) {
    Program p;
    YesBoxes boxes;
    InstallMessageBoxes(&boxes);
    TFirebirdBase base;
    base.Description = "bench";
    base.DBFile = db;
    long long errors = 0;
    {
        TfrmScriptBase form(base, *p.dm, nullptr);
        form.show();
        QApplication::processEvents();
        form.edScriptFile->SetName(file);
        form.btnOk->click();
        errors = Count(S(form.MemoLog->toPlainText()), kErrorLine);
    }
    InstallMessageBoxes(nullptr);
    return errors;
}

long long RunIsqlSide(const std::string& dir, const std::string& db, const std::string& file) {
    const std::string out = dir + "isql.out";
    RunProgram({kIsql, "-q", "-user", "SYSDBA", "-password", "masterkey", "-i", file, db}, out);
    return Count(ReadText(out), "Statement failed");
}

}  // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QtEventPump pump;
    InstallEventPump(&pump);
    return RunReportingErrors("script_refusal_bench", [&] {
        const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
        const int statements = argc > 2 ? std::max(2, std::atoi(argv[2])) : 5000;
        const std::string dir = ScratchDirectory("qm_script_refusal_bench");
        const std::string file = dir + "refused.sql";
        WriteText(file, Script(statements));
        std::printf("script: %d statements, every one refused by the server\n", statements);

        const char* const names[] = {"isql-fb", "ScriptBase", "dialog"};
        std::vector<double> times[3];
        std::vector<double> cpuTimes[3];
        for (int round = 0; round < rounds; ++round) {
            for (int side = 0; side < 3; ++side) {
                const std::string db = dir + "refused" + std::to_string(side) + ".fdb";
                FreshIsqlDatabase(dir, db,
                                  "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY);\n"
                                  "INSERT INTO T VALUES (1);\n"
                                  "COMMIT;\n");
                const int who = side == 0 ? RUSAGE_CHILDREN : RUSAGE_SELF;
                const double cpuStart = CpuSeconds(who);
                const auto start = Clock::now();
                const long long refused = side == 0   ? RunIsqlSide(dir, db, file)
                                          : side == 1 ? RunScriptBase(db, file)
                                                      : RunDialog(db, file);
                const double t = SecondsSince(start);
                const double cpu = CpuSeconds(who) - cpuStart;
                if (refused != statements) {
                    std::fprintf(stderr, "%s reported %lld refusals of %d\n", names[side], refused,
                                 statements);
                    return 1;
                }
                times[side].push_back(t);
                cpuTimes[side].push_back(cpu);
                std::printf("round %d %-10s %8.3f s  %9.0f statements/s   (processor %6.3f s)\n",
                            round + 1, names[side], t, statements / t, cpu);
                std::fflush(stdout);
            }
        }
        const double isql = Median(times[0]);
        for (int side = 0; side < 3; ++side)
            std::printf("median %-10s %8.3f s   (processor %6.3f s)\n", names[side],
                        Median(times[side]), Median(cpuTimes[side]));
        for (int side = 1; side < 3; ++side)
            std::printf("ratio %s / isql-fb = %.2f (goal <= 1.20), by processor time %.2f\n",
                        names[side], Median(times[side]) / isql,
                        Median(cpuTimes[side]) / Median(cpuTimes[0]));
        std::filesystem::remove_all(dir);
        return 0;
    });
}
