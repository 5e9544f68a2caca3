// The service program as a process, as systemd and an administrator run it:
// its commands, its second instance, the service making archives at their
// time, stopped in the middle of a backup and killed in the middle of one.
// Every child runs on the embedded engine (the test program points the
// server variable at a port where nothing answers).

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <ctime>
#include <thread>

#include "archiver/retention.h"
#include "archiver/run_state.h"
#include "config/firebird_base.h"
#include "config/setting.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tests/operations/fakes/maintenance_fixture.h"
#include "tests/archiver/slow_reader.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace qm::archiver {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr const char* kPassword = "Pa55-w0rd-secret";

// The service program started with its output going to a file.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& output) {
        std::vector<std::string> all = {QM_SERVICE_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        // The engine leaves its caches to the end of the process, as in the
        // test programs.
        std::vector<std::string> env = {"LSAN_OPTIONS=suppressions=" QM_LSAN_SUPPRESSIONS
                                        ":print_suppressions=0:use_tls=0"};
        for (char** e = environ; *e != nullptr; ++e)
            if (std::string(*e).rfind("LSAN_OPTIONS=", 0) != 0) env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            Wait(10);
        }
    }
    void Signal(int sig) { ::kill(pid_, sig); }
    // The exit code, 128 + the signal for a killed child; nothing while it
    // still runs after the seconds given.
    std::optional<int> Wait(int seconds) {
        if (status_) return status_;
        for (int i = 0; i < seconds * 20; ++i) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                return status_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string Stamp(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y_%m_%d %H-%M", &tm);
    return buf;
}

std::string HourMinute(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[8];
    std::strftime(buf, sizeof buf, "%H:%M", &tm);
    return buf;
}

class ServiceProcess : public ::testing::Test {
protected:
    ServiceProcess() : dataDir(data.Path()) {}

    void SetUp() override {
        TSetting s(false);
        s.SYSDBAPassword = kPassword;
        s.LibraryName = platform::kDefaultClientLibrary;
        s.Save();
        arc = data.File("arc/");
        ASSERT_EQ(::mkdir(arc.c_str(), 0777), 0);
    }

    TFirebirdBase& Add(const std::string& description, const std::string& db,
                       std::vector<std::string> times, bool zip = false, int keep = 0) {
        auto& b = records.emplace_back();
        b.Number = static_cast<std::int32_t>(records.size() - 1);
        b.Active = true;
        b.Description = description;
        b.DBFile = db;
        b.ArcDir = arc;
        b.DoZIP = zip;
        b.ArcFileCount = keep;
        b.Mon = b.Tue = b.Wed = b.Thu = b.Fri = b.Sat = b.Sun = true;
        b.BackupTimes = std::move(times);
        return b;
    }
    void SaveRegister() {
        for (const TFirebirdBase& b : records) TFirebirdBaseList::SaveFirebirdBase(b);
    }
    // A database whose backup is over a megabyte of text that does not compress.
    std::string BigDatabase(const std::string& name) {
        const std::string db = test::MakeDatabase(data, name, 300);
        test::Isql(data,
                   "CREATE TABLE NOISE (N VARCHAR(2000));\nCOMMIT;\nSET TERM ^;\n"
                   "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 1000) DO BEGIN\n"
                   "INSERT INTO NOISE VALUES (LPAD('', 1800, UUID_TO_CHAR(GEN_UUID()))); "
                   "I = I + 1; END END^\nSET TERM ;^\nCOMMIT;\n",
                   db);
        return db;
    }
    std::string Log() const { return test::ReadFile(data.File("Quillmoor.log")); }
    std::string Output() const { return test::ReadFile(data.File("out.txt")); }
    // Runs a command to its end: its exit code.
    int Command(const std::vector<std::string>& args) {
        std::remove(data.File("out.txt").c_str());
        Child c(args, data.File("out.txt"));
        return c.Wait(120).value_or(-1);
    }
    bool WaitForLog(const std::string& text, int seconds) const {
        for (int i = 0; i < seconds * 10; ++i) {
            if (Log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    std::vector<std::string> Archives() const {
        std::vector<std::string> out;
        for (const std::string& f : test::FilesIn(arc)) {
            if (f.size() > 4 && (f.ends_with(".fbk") || f.ends_with(".zip"))) out.push_back(f);
        }
        return out;
    }
    std::vector<std::string> Parts() const {
        std::vector<std::string> out;
        for (const std::string& f : test::FilesIn(arc))
            if (f.ends_with(kPartSuffix)) out.push_back(f);
        return out;
    }

    test::TempDir data;
    test::ScopedDataDir dataDir;
    std::string arc;
    std::deque<TFirebirdBase> records;
};

TEST_F(ServiceProcess, TheAdministratorsCommands) {
    Add("Склад", test::MakeDatabase(data, "Склад.fdb"), {"13:30", "7:61"}, true);
    Add("Касса", data.File("missing.fdb"), {"08:00"});
    records.back().ArcDir = data.File("no such dir");
    SaveRegister();

    EXPECT_EQ(Command({"--help"}), 0);
    EXPECT_THAT(Output(), HasSubstr("--now N"));
    EXPECT_EQ(Command({"--frobnicate"}), 2);
    EXPECT_THAT(Output(), HasSubstr("Неизвестная команда: --frobnicate"));
    EXPECT_EQ(Command({"--now"}), 2);
    EXPECT_EQ(Command({"--now", "x1"}), 2);
    EXPECT_EQ(Command({"--now", "7"}), 2);
    EXPECT_THAT(Output(), HasSubstr("нет базы № 7"));

    EXPECT_EQ(Command({"--list"}), 0);
    EXPECT_THAT(Output(), HasSubstr("№ 0  \"Склад\"  [автоархивация включена]"));
    EXPECT_THAT(Output(), HasSubstr("время:             13:30 (неверное время \"7:61\")"));
    EXPECT_THAT(Output(), HasSubstr("следующий запуск:  "));

    EXPECT_EQ(Command({"--now", "0"}), 0) << Output();
    EXPECT_THAT(Output(), HasSubstr("Архивация \"Склад\" началась (по команде --now)"));
    ASSERT_EQ(Archives().size(), 1u);
    EXPECT_TRUE(Archives()[0].ends_with(".zip"));
    EXPECT_THAT(Log(), HasSubstr("Архивация \"Склад\" завершена"));
    EXPECT_EQ(Command({"--now", "1"}), 1);
    EXPECT_THAT(Output(), HasSubstr("Каталог архивов не найден"));

    EXPECT_EQ(Command({"--check"}), 1);
    EXPECT_THAT(Output(), HasSubstr("в порядке: клиентская библиотека"));
    EXPECT_THAT(Output(), HasSubstr("время \"7:61\" не в форме ЧЧ:ММ"));
    EXPECT_THAT(Output(), HasSubstr("База \"Касса\" (№ 1): файл базы не найден"));
    EXPECT_THAT(Output(), HasSubstr("каталог архивов не найден: " + data.File("no such dir")));
    EXPECT_THAT(Output(), HasSubstr("Найдено проблем: 3."));
    EXPECT_THAT(Output() + Log(), Not(HasSubstr(kPassword)));
}

TEST_F(ServiceProcess, ASecondInstanceRefusesToStartAndSigtermStopsTheFirst) {
    Add("Склад", test::MakeDatabase(data, "Склад.fdb"), {"03:00"});
    SaveRegister();
    Child first({}, data.File("first.txt"));
    ASSERT_TRUE(WaitForLog("Служба автоархивации запущена. Баз в списке: 1, активных: 1.", 30))
        << Log();
    Child second({}, data.File("second.txt"));
    EXPECT_EQ(second.Wait(30), 3);
    EXPECT_THAT(Log(), HasSubstr("второй экземпляр не запускается"));
    EXPECT_FALSE(first.Wait(0).has_value());
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(30), 0);
    EXPECT_THAT(Log(), HasSubstr("Служба автоархивации остановлена."));
    // The journal gets the same lines.
    EXPECT_THAT(test::ReadFile(data.File("first.txt")), HasSubstr("Служба автоархивации запущена"));
}

// A register whose time falls in the next minute: the service archives the
// first database at that minute, then stops in the middle of the second's
// backup when told to.
TEST_F(ServiceProcess, ArchivesAtTheNextMinuteAndStopsMidBackup) {
    std::time_t slot = (std::time(nullptr) / 60 + 1) * 60;
    if (slot - std::time(nullptr) < 10) slot += 60;
    Add("Склад", test::MakeDatabase(data, "Склад.fdb"), {HourMinute(slot)}, true, 2);
    Add("Большая", BigDatabase("Большая.fdb"), {HourMinute(slot)});
    SaveRegister();
    // Older archives of the first, one of which the count removes.
    test::WriteFile(arc + "Склад 2020_01_01 10-00.zip", "old");
    test::WriteFile(arc + "Склад 2020_01_02 10-00.zip", "old");

    Child service({}, data.File("journal.txt"));
    ASSERT_TRUE(WaitForLog("Служба автоархивации запущена", 30)) << Log();
    test::SlowReader reader(arc + "Большая " + Stamp(slot) + ".fbk" + kPartSuffix);
    ASSERT_TRUE(WaitForLog("Архивация \"Склад\" завершена", 100)) << Log();
    EXPECT_THAT(Log(), HasSubstr("Архивация \"Склад\" началась (по расписанию " + HourMinute(slot)));
    ASSERT_TRUE(reader.WaitFor(64 * 1024, 60)) << Log();

    service.Signal(SIGTERM);
    EXPECT_EQ(service.Wait(30), 0) << Log();
    EXPECT_LT(reader.Got(), 1500000u) << "the backup ran to its end";
    EXPECT_THAT(Log(), HasSubstr("Архивация \"Большая\" отменена: служба автоархивации останавливается."));
    EXPECT_THAT(Log(), HasSubstr("Служба автоархивации остановлена."));
    const std::string made = "Склад " + Stamp(slot) + ".zip";
    EXPECT_THAT(test::FilesIn(arc), ::testing::UnorderedElementsAre(made, "Склад 2020_01_02 10-00.zip"));
    const std::string tested =
        test::RunCommand(std::string(QM_UNZIP) + " -t " + test::ShellQuote(arc + made));
    EXPECT_THAT(tested, HasSubstr("No errors detected"));
}

TEST_F(ServiceProcess, AKillMidRunLeavesNoArchiveAndTheNextStartCleansUp) {
    Add("Большая", BigDatabase("Большая.fdb"), {"03:00"});
    SaveRegister();
    // The archive is named by the minute the run starts in.
    const std::time_t now = std::time(nullptr);
    std::optional<test::SlowReader> readers[2];
    readers[0].emplace(arc + "Большая " + Stamp(now) + ".fbk" + kPartSuffix);
    readers[1].emplace(arc + "Большая " + Stamp(now + 60) + ".fbk" + kPartSuffix);
    {
        Child now0({"--now", "0"}, data.File("now.txt"));
        bool started = false;
        for (int i = 0; i < 600 && !started; ++i) {
            started = readers[0]->Got() + readers[1]->Got() >= 64 * 1024;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(started) << test::ReadFile(data.File("now.txt"));
        now0.Signal(SIGKILL);
        EXPECT_EQ(now0.Wait(30), 128 + SIGKILL);
    }
    EXPECT_THAT(Archives(), IsEmpty());
    EXPECT_EQ(Parts().size(), 2u);

    Child service({}, data.File("journal.txt"));
    ASSERT_TRUE(WaitForLog("Служба автоархивации запущена", 30)) << Log();
    EXPECT_THAT(Log(), HasSubstr("Удалён неполный архив, оставшийся от прерванной работы: " + arc));
    EXPECT_THAT(Parts(), IsEmpty());
    EXPECT_THAT(Archives(), IsEmpty());
    service.Signal(SIGTERM);
    EXPECT_EQ(service.Wait(30), 0);
}

TEST_F(ServiceProcess, ASlotMissedWhileDownIsCaughtUpOnceAtStart) {
    const std::time_t now = std::time(nullptr);
    Add("Склад", test::MakeDatabase(data, "Склад.fdb"), {HourMinute(now - 3600)});
    SaveRegister();
    TRunState state;
    state.Seen = now - 2 * 3600;  // the service last ran two hours ago
    ASSERT_TRUE(SaveRunState(RunStatePath(), state));

    Child service({}, data.File("journal.txt"));
    ASSERT_TRUE(WaitForLog("Архивация \"Склад\" завершена", 60)) << Log();
    EXPECT_THAT(Log(), HasSubstr("был пропущен, пока служба не работала"));
    EXPECT_THAT(Log(), HasSubstr("(пропущенный запуск "));
    EXPECT_EQ(Archives().size(), 1u);
    service.Signal(SIGTERM);
    EXPECT_EQ(service.Wait(30), 0);
    // Done once: the next start has nothing to catch up.
    Child again({}, data.File("journal.txt"));
    ASSERT_TRUE(WaitForLog("Служба автоархивации запущена", 30));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    again.Signal(SIGTERM);
    EXPECT_EQ(again.Wait(30), 0);
    EXPECT_EQ(Archives().size(), 1u);
    const std::string log = Log();
    EXPECT_EQ(log.find("был пропущен"), log.rfind("был пропущен"));
}

}  // namespace
}  // namespace qm::archiver
