// One archive run against real Firebird: the embedded engine, and the
// private loopback server as on an administrator's machine. Every archive is
// checked by restoring it with gbak and reading the restored data.

#include "archiver/archive_job.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "archiver/retention.h"
#include "archiver/system.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tests/operations/fakes/maintenance_fixture.h"
#include "tests/support/firebird_server.h"
#include "tests/archiver/slow_reader.h"
#include "tests/support/temp_dir.h"

namespace qm::archiver {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// 5 March 2024 14:30 local time names the archives of these tests.
std::time_t NameInstant() {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 30;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

class ArchiveJobTest : public ::testing::Test {
public:
    void SetUp() override {
        UseSystemLocale();  // as the service's main sets it
        setting.SYSDBAPassword = "masterkey";
        setting.LibraryName = platform::kDefaultClientLibrary;
        arc = dir.File("arc/");
        ASSERT_EQ(::mkdir(arc.c_str(), 0777), 0);
        base.Number = 0;
        base.Active = true;
        base.Description = "Склад";
        base.DBFile = test::MakeDatabase(dir, "Склад.fdb", 300);
        base.ArcDir = arc;
    }

    TJobResult Run(TCancel* cancel = nullptr) {
        TArchiveJob job(base, setting, log, cancel);
        job.NameTime = NameInstant();
        return job.Run("по расписанию 14:30");
    }
    std::string Name(const char* ext) const { return "Склад 2024_03_05 14-30" + std::string(ext); }
    std::vector<std::string> Files() const { return test::FilesIn(arc); }
    std::string Log() const { return test::ReadFile(log.Path()); }
    // The people of a database restored by gbak from an archive.
    std::string Restored(const std::string& fbk) {
        return test::Contents(dir, test::GbakRestore(fbk));
    }
    void Touch(const std::string& name, const std::string& text = "old archive") {
        test::WriteFile(arc + name, text);
    }

    test::TempDir dir;
    TSetting setting{false};
    TFirebirdBase base;
    std::string arc;
    TEventLog log{dir.File("Quillmoor.log")};
};

TEST_F(ArchiveJobTest, TheArchiveRestoresToTheSameData) {
    const std::string source = test::Contents(dir, base.DBFile);
    ASSERT_THAT(source, HasSubstr("Анна"));
    const TJobResult r = Run();
    ASSERT_TRUE(r.Ok) << Log();
    EXPECT_EQ(r.Archive, arc + Name(".fbk"));
    EXPECT_THAT(Files(), UnorderedElementsAre(Name(".fbk")));
    EXPECT_EQ(Restored(r.Archive), source);
    EXPECT_THAT(Log(), HasSubstr("Архивация \"Склад\" началась (по расписанию 14:30)"));
    EXPECT_THAT(Log(), HasSubstr("Архивация \"Склад\" завершена: " + r.Archive));
}

TEST_F(ArchiveJobTest, WithZipOnlyACheckedZipRemainsAndUnzipReadsIt) {
    base.DoZIP = true;
    const std::string source = test::Contents(dir, base.DBFile);
    const TJobResult r = Run();
    ASSERT_TRUE(r.Ok) << Log();
    EXPECT_EQ(r.Archive, arc + Name(".zip"));
    EXPECT_THAT(Files(), UnorderedElementsAre(Name(".zip")));
    const std::string tested =
        test::RunCommand(std::string(QM_UNZIP) + " -t " + test::ShellQuote(r.Archive));
    EXPECT_THAT(tested, HasSubstr("No errors detected")) << tested;
    const std::string out = dir.File("out/");
    test::RunCommand(std::string(QM_UNZIP) + " -q " + test::ShellQuote(r.Archive) + " -d " +
                     test::ShellQuote(out));
    EXPECT_EQ(Restored(out + Name(".fbk")), source);
    EXPECT_THAT(Log(), HasSubstr("Архив сжат в ZIP и проверен"));
}

TEST_F(ArchiveJobTest, KeepNDeletesOnlyTheOldestArchivesOfThisRecord) {
    base.DoZIP = true;
    base.ArcFileCount = 3;
    for (const char* n : {"Склад 2024_03_01 10-00.fbk", "Склад 2024_03_02 10-00.zip",
                          "Склад 2024_03_03 10-00.zip", "Склад 2024_03_04 10-00.zip"})
        Touch(n);
    const std::vector<std::string> unrelated = {
        "Склад.txt", "Другая 2024_03_01 10-00.fbk", "Склад 2024_03_01 10-00.fbk.bak",
        "Склад 2024_03_01 10-00 копия.zip", "Склад2 2024_01_01 10-00.zip"};
    for (const std::string& n : unrelated) Touch(n);
    // A directory named like an archive is no archive.
    ASSERT_EQ(::mkdir((arc + "Склад 2024_01_01 10-00.zip").c_str(), 0777), 0);

    const TJobResult r = Run();
    ASSERT_TRUE(r.Ok) << Log();
    EXPECT_THAT(r.Pruned, UnorderedElementsAre(arc + "Склад 2024_03_01 10-00.fbk",
                                               arc + "Склад 2024_03_02 10-00.zip"));
    std::vector<std::string> expected = {Name(".zip"), "Склад 2024_03_03 10-00.zip",
                                         "Склад 2024_03_04 10-00.zip", "Склад 2024_01_01 10-00.zip"};
    expected.insert(expected.end(), unrelated.begin(), unrelated.end());
    EXPECT_THAT(Files(), UnorderedElementsAre(expected[0], expected[1], expected[2], expected[3],
                                              expected[4], expected[5], expected[6], expected[7],
                                              expected[8]));
    EXPECT_THAT(Log(), HasSubstr("Удалён старый архив (хранятся 3 последних): " + arc +
                                 "Склад 2024_03_01 10-00.fbk"));
}

TEST_F(ArchiveJobTest, AFailedBackupKeepsEveryOldArchiveAndLeavesNoPart) {
    base.ArcFileCount = 1;
    Touch("Склад 2024_03_01 10-00.fbk");
    Touch("Склад 2024_03_02 10-00.zip");
    base.DBFile = dir.File("missing.fdb");
    const TJobResult r = Run();
    EXPECT_FALSE(r.Ok);
    EXPECT_THAT(Files(), UnorderedElementsAre("Склад 2024_03_01 10-00.fbk", "Склад 2024_03_02 10-00.zip"));
    EXPECT_THAT(Log(), HasSubstr("Архивация \"Склад\" прервана из-за ошибки."));

    // A missing archive directory, an existing archive of the same name.
    base.DBFile = dir.File("Склад.fdb");
    base.ArcDir = dir.File("no such dir/");
    EXPECT_FALSE(Run().Ok);
    EXPECT_THAT(Log(), HasSubstr("Каталог архивов не найден: " + base.ArcDir));
    base.ArcDir = arc;
    Touch(Name(".fbk"), "an archive made this minute");
    EXPECT_FALSE(Run().Ok);
    EXPECT_EQ(test::ReadFile(arc + Name(".fbk")), "an archive made this minute");
    EXPECT_THAT(Log(), HasSubstr("уже существует и не перезаписывается"));
    EXPECT_EQ(Files().size(), 3u);
}

// A file system of a set size, mounted for the test; Mounted() is false where
// the system does not let this process mount.
class SmallFileSystem {
public:
    SmallFileSystem(const std::string& dir, std::size_t bytes) : dir_(dir) {
        const std::string opts = "size=" + std::to_string(bytes) + ",mode=0777";
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

TEST_F(ArchiveJobTest, AFullDiskLeavesNoPartialFile) {
    // Incompressible rows, so the archive is large and its ZIP not much smaller.
    test::Isql(dir,
               "CREATE TABLE NOISE (N VARCHAR(2000));\nCOMMIT;\nSET TERM ^;\n"
               "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 800) DO BEGIN\n"
               "INSERT INTO NOISE VALUES (LPAD('', 1800, UUID_TO_CHAR(GEN_UUID()))); I = I + 1; "
               "END END^\nSET TERM ;^\nCOMMIT;\n",
               base.DBFile);
    ASSERT_TRUE(Run().Ok) << Log();
    const std::uint64_t fbkSize = platform::ProbeFile(arc + Name(".fbk")).size;
    ASSERT_GT(fbkSize, 1000000u);
    struct Case {
        const char* what;
        bool zip;
        std::uint64_t room;  // bytes of the file system
        std::vector<std::string> left;
    } cases[] = {
        {"the backup does not fit", false, fbkSize / 2, {"Склад 2024_03_01 10-00.fbk"}},
        {"the ZIP does not fit", true, fbkSize + 64 * 1024,
         {"Склад 2024_03_01 10-00.fbk", Name(".fbk")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string small = dir.File(std::string("small ") + (c.zip ? "zip/" : "fbk/"));
        ASSERT_EQ(::mkdir(small.c_str(), 0777), 0);
        SmallFileSystem fs(small, c.room);
        if (!fs.Mounted()) GTEST_SKIP() << "this process may not mount a file system";
        base.ArcDir = small;
        base.DoZIP = c.zip;
        base.ArcFileCount = 1;
        test::WriteFile(small + "Склад 2024_03_01 10-00.fbk", "old archive");
        const TJobResult r = Run();
        EXPECT_FALSE(r.Ok);
        std::vector<std::string> files = test::FilesIn(small);
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.left);
        EXPECT_EQ(test::ReadFile(small + "Склад 2024_03_01 10-00.fbk"), "old archive");
        if (c.zip) {
            EXPECT_THAT(Log(), HasSubstr("Архив оставлен несжатым"));
        }
    }
}

// Stops a backup midway: the server's backup ends, nothing of it is left.
void StopMidway(ArchiveJobTest& t, TJobResult& result, test::SlowReader& reader) {
    TCancel cancel;
    std::thread job([&] { result = t.Run(&cancel); });
    const bool started = reader.WaitFor(64 * 1024, 30);
    cancel.Request();
    job.join();
    ASSERT_TRUE(started) << "the backup never began writing";
}

TEST_F(ArchiveJobTest, AStopEndsTheBackupOnTheEngineAndRemovesThePart) {
    test::Isql(dir,
               "INSERT INTO PEOPLE SELECT ID + 1000, 'more ' || NAME FROM PEOPLE;\n"
               "CREATE TABLE NOISE (N VARCHAR(2000));\nCOMMIT;\nSET TERM ^;\n"
               "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 1000) DO BEGIN\n"
               "INSERT INTO NOISE VALUES (LPAD('', 1800, UUID_TO_CHAR(GEN_UUID()))); I = I + 1; "
               "END END^\nSET TERM ;^\nCOMMIT;\n",
               base.DBFile);
    TJobResult r;
    {
        test::SlowReader reader(arc + Name(".fbk") + kPartSuffix);
        StopMidway(*this, r, reader);
        EXPECT_LT(reader.Got(), 1500000u) << "the backup ran to its end";
    }
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Cancelled);
    EXPECT_THAT(Files(), IsEmpty());
    EXPECT_THAT(Log(), HasSubstr("отменена: служба автоархивации останавливается"));
    // The database is free again: the next run makes its archive.
    EXPECT_TRUE(Run().Ok) << Log();
}

class ThroughTheServer : public ArchiveJobTest {
protected:
    static void SetUpTestSuite() { server_ = new test::FirebirdServer("masterkey"); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (!server_->Running()) GTEST_SKIP() << server_->Reason();
        toServer_ = std::make_unique<test::ServerVariable>(server_->Address());
        ArchiveJobTest::SetUp();
    }
    static test::FirebirdServer* server_;
    std::unique_ptr<test::ServerVariable> toServer_;
};

test::FirebirdServer* ThroughTheServer::server_ = nullptr;

TEST_F(ThroughTheServer, TheServerWritesTheArchiveAndTheZipIsChecked) {
    base.DoZIP = true;
    const std::string source = test::Contents(dir, base.DBFile);
    // Another client of the server keeps the database open all along.
    test::HeldAttachment other(dir, server_->Address() + ":" + base.DBFile);
    const TJobResult r = Run();
    ASSERT_TRUE(r.Ok) << Log();
    EXPECT_THAT(Log(), HasSubstr("Архив пишет сервер Firebird " + server_->Address()));
    EXPECT_THAT(Files(), UnorderedElementsAre(Name(".zip")));
    const std::string out = dir.File("out/");
    test::RunCommand(std::string(QM_UNZIP) + " -q " + test::ShellQuote(r.Archive) + " -d " +
                     test::ShellQuote(out));
    EXPECT_EQ(Restored(out + Name(".fbk")), source);
}

TEST_F(ThroughTheServer, AStopEndsOnlyTheServiceBackupNotOtherClients) {
    test::Isql(dir,
               "CREATE TABLE NOISE (N VARCHAR(2000));\nCOMMIT;\nSET TERM ^;\n"
               "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 1000) DO BEGIN\n"
               "INSERT INTO NOISE VALUES (LPAD('', 1800, UUID_TO_CHAR(GEN_UUID()))); I = I + 1; "
               "END END^\nSET TERM ;^\nCOMMIT;\n",
               base.DBFile);
    test::HeldAttachment other(dir, server_->Address() + ":" + base.DBFile);
    ASSERT_TRUE(other.Holding());
    TJobResult r;
    {
        test::SlowReader reader(arc + Name(".fbk") + kPartSuffix);
        StopMidway(*this, r, reader);
        EXPECT_LT(reader.Got(), 1500000u) << "the backup ran to its end";
    }
    EXPECT_TRUE(r.Cancelled);
    EXPECT_THAT(Files(), IsEmpty());
    EXPECT_TRUE(other.StillWorks()) << "the stop ended another client's attachment";
}

}  // namespace
}  // namespace qm::archiver
