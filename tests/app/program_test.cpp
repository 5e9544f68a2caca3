// The program in a child process of its own, through its real start-up:
// asked to end by the system while idle and while an operation runs, and
// ending after it has used the server's services. It must never crash, never
// lose what an operation was doing, and leave the embedded engine working.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/setting.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace qm {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kCloseQuery =
    "box: Служба автоархивации баз данных Firebird не запущенна. Завершить программу всё равно?";
constexpr const char* kBackupDone = "log: Ручная архивация успешна завершена.";
constexpr const char* kRestoreDone = "log: Восстановление успешно завершено.";

// One run of the program: what it printed, line by line, and how it ended.
class Program {
public:
    Program(const test::TempDir& data, const std::vector<std::string>& args) {
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                        "QUILLMOOR_DATA_DIR=" + data.Path(),
                                        "QUILLMOOR_SYSTEMD_UNIT_DIR=" + data.File("units"),
                                        // No systemctl: the service is simply unknown.
                                        "PATH=" + data.File("bin"), "ISC_USER=", "ISC_PASSWORD="};
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string v = *e;
            if (v.rfind("ASAN_OPTIONS=", 0) == 0 || v.rfind("UBSAN_OPTIONS=", 0) == 0 ||
                v.rfind("LSAN_OPTIONS=", 0) == 0 || v.rfind("HOME=", 0) == 0 ||
                v.rfind("TMPDIR=", 0) == 0 || v.rfind("QUILLMOOR_FIREBIRD_SERVER=", 0) == 0)
                env.push_back(v);
        }
        std::vector<std::string> argv = {QM_DRIVEN_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> a, e;
        for (std::string& s : argv) a.push_back(s.data());
        a.push_back(nullptr);
        for (std::string& s : env) e.push_back(s.data());
        e.push_back(nullptr);

        int out[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        EXPECT_EQ(::posix_spawn(&pid_, a[0], &actions, nullptr, a.data(), e.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
    }
    ~Program() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    // Reads until a line equal to `line` came (true) or the program ended.
    bool WaitFor(const std::string& line) {
        while (ReadSome())
            for (const std::string& l : lines)
                if (l == line) return true;
        return false;
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    // Reads to the end and waits for the program; its wait status.
    int Wait() {
        while (ReadSome()) {
        }
        ::waitpid(pid_, &status_, 0);
        return status_;
    }
    // Everything printed, for the messages of failed expectations.
    std::string All() const {
        std::string all;
        for (const std::string& l : lines) all += l + "\n";
        return all;
    }

    std::vector<std::string> lines;

private:
    // False at the end of the output, or when a minute has gone by.
    bool ReadSome() {
        if (out_ < 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) {
            ADD_FAILURE() << "the program hangs; it printed:\n" << All();
            ::close(out_);
            out_ = -1;
            return false;
        }
        char buf[4096];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) {
            ::close(out_);
            out_ = -1;
            return false;
        }
        partial_.append(buf, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
            lines.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    std::string partial_;
};

bool EndedNormally(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(data.File("bin").c_str(), 0755);
        ::mkdir(data.File("units").c_str(), 0755);
        // The database is made by Firebird's own tool: this process never
        // loads the engine.
        const std::string db = data.File("store.fdb");
        test::WriteFile(data.File("make.sql"),
                        "create database '" + db +
                            "' user 'SYSDBA' password 'masterkey';\n"
                            "create table T (ID integer, NAME varchar(20));\n"
                            "insert into T values (1, 'Склад');\ncommit;\n");
        const std::string command = std::string(QM_APP_ISQL) + " -q -i " + data.File("make.sql") +
                                    " >/dev/null 2>&1 </dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        test::WriteFile(data.File("Quillmoor.bse"), "[0]\nActive=1\nDiscription=Склад\nDBFile=" +
                                                        db + "\nArcDir=" + data.Path() + "\n");
        test::ScopedDataDir dir(data.Path());
        TSetting setting(false);
        setting.LibraryName = "libfbclient.so.2";
        setting.SYSDBAPassword = "masterkey";
        setting.Save();
    }

    test::TempDir data;
};

TEST_F(ProgramTest, TheEndOfTheSessionClosesAnIdleProgramWithoutAsking) {
    for (int signal : {SIGTERM, SIGHUP}) {
        Program p(data, {"wait"});
        ASSERT_TRUE(p.WaitFor("ready")) << p.All();
        p.Signal(signal);
        EXPECT_TRUE(EndedNormally(p.Wait())) << signal << "\n" << p.All();
        EXPECT_THAT(p.lines, Not(Contains(HasSubstr("box:")))) << p.All();
    }
    // An open dialog is cancelled first.
    const std::string before = test::ReadFile(data.File("Quillmoor.bse"));
    Program p(data, {"editor-term"});
    EXPECT_TRUE(EndedNormally(p.Wait())) << p.All();
    EXPECT_THAT(p.lines, Contains("editor open")) << p.All();
    EXPECT_THAT(p.lines, Contains("step: editor-term")) << p.All();
    EXPECT_THAT(p.lines, Not(Contains(HasSubstr("box:")))) << p.All();
    EXPECT_EQ(test::ReadFile(data.File("Quillmoor.bse")), before);
}

// Ctrl+C asks as "Выход" does; No keeps the program, and the embedded
// engine, working.
TEST_F(ProgramTest, AnInterruptAsksAndNoKeepsEverythingWorking) {
    Program p(data, {"backup,int,backup,exit", "no,yes"});
    EXPECT_TRUE(EndedNormally(p.Wait())) << p.All();
    EXPECT_EQ(std::count(p.lines.begin(), p.lines.end(), kCloseQuery), 2) << p.All();
    EXPECT_EQ(std::count(p.lines.begin(), p.lines.end(), kBackupDone), 2) << p.All();
    EXPECT_EQ(std::count(p.lines.begin(), p.lines.end(), "box: Архивация завершена."), 2)
        << p.All();
}

TEST_F(ProgramTest, AskedToEndDuringABackupTheProgramLetsItFinishFirst) {
    for (const char* step : {"backup-term", "backup-int"}) {
        ::unlink(data.File("a.fbk").c_str());
        Program p(data, {step});
        EXPECT_TRUE(EndedNormally(p.Wait())) << step << "\n" << p.All();
        EXPECT_THAT(p.lines, Contains(kBackupDone)) << p.All();
        EXPECT_TRUE(std::filesystem::exists(data.File("a.fbk")));
        if (std::string(step) == "backup-int") {
            // At the terminal the user is there: the outcome and the close
            // query are shown.
            EXPECT_THAT(p.lines, Contains("box: Архивация завершена.")) << p.All();
            EXPECT_THAT(p.lines, Contains(kCloseQuery)) << p.All();
        } else {
            EXPECT_THAT(p.lines, Not(Contains(HasSubstr("box: Архивация")))) << p.All();
            EXPECT_THAT(p.lines, Not(Contains(kCloseQuery))) << p.All();
        }
    }
}

// The client library's own code at exit unloads the embedded engine while
// the engine's threads may still wind down a service request, which crashes
// the process (one time in four for a program that exits right after the
// request). The program ends without running the process's exit handlers.
TEST_F(ProgramTest, ExitAfterBackupAndRestoreSkipsTheExitHandlersAndNeverCrashes) {
    for (int run = 0; run < 5; ++run) {
        ::unlink(data.File("a.fbk").c_str());
        ::unlink(data.File("restored.fdb").c_str());
        Program p(data, {"backup,restore,exit"});
        const int status = p.Wait();
        ASSERT_TRUE(EndedNormally(status)) << "run " << run << ", status " << status << "\n"
                                           << p.All();
        EXPECT_THAT(p.lines, Contains(kBackupDone)) << p.All();
        EXPECT_THAT(p.lines, Contains(kRestoreDone)) << p.All();
        EXPECT_THAT(p.lines, Not(Contains("exit handlers ran"))) << p.All();
    }
}

}  // namespace
}  // namespace qm
