#include "operations/data_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <memory>
#include <string>
#include <vector>

#include "firebird/database.h"
#include "firebird/services.h"
#include "firebird/transaction.h"
#include "operations/ui/qt_interaction.h"
#include "platform/platform.h"
#include "tests/support/firebird_db.h"
#include "tests/support/firebird_server.h"
#include "tests/support/scripted_interaction.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class DataModuleTest : public ::testing::Test {
protected:
    DataModuleTest() {
        setting.LibraryName = platform::kDefaultClientLibrary;
        setting.SYSDBAPassword = "masterkey";
        dm = std::make_unique<Tdm>(&moorquill, setting);
    }

    // A database made by the engine itself through a connection of ours.
    std::string CreateDatabase(const std::string& name) {
        const std::string path = dir.File(name);
        test::CreateTestDatabase(path, 3, "");
        return path;
    }

    test::TempDir dir;
    test::ScriptedMessageBoxes boxes;
    TComponent moorquill{nullptr, "Moorquill"};
    TSetting setting{false};
    std::unique_ptr<Tdm> dm;
};

TEST_F(DataModuleTest, ComponentsCarryTheirNamesAndInitialValues) {
    EXPECT_EQ(dm->DataBase->OriginName(), "Moorquill.dm.DataBase");
    EXPECT_EQ(dm->Transaction->OriginName(), "Moorquill.dm.Transaction");
    EXPECT_EQ(dm->BackupService->OriginName(), "Moorquill.dm.BackupService");
    EXPECT_EQ(dm->RestoreService->OriginName(), "Moorquill.dm.RestoreService");
    EXPECT_EQ(dm->ValidationService->OriginName(), "Moorquill.dm.ValidationService");

    EXPECT_THAT(dm->DataBase->DBParams(),
                ElementsAre("user_name=SYSDBA", "lc_ctype=WIN1251", "password=plumstone"));
    EXPECT_EQ(dm->DataBase->SQLDialect(), 3);
    EXPECT_EQ(dm->DataBase->DBName(), "");
    EXPECT_FALSE(dm->BackupService->LoginPrompt);
    EXPECT_TRUE(dm->BackupService->Options.Empty());
    EXPECT_EQ(dm->BackupService->BlockingFactor, 0);
    EXPECT_FALSE(dm->BackupService->Verbose);
    EXPECT_EQ(dm->RestoreService->PageSize, 0);
    EXPECT_EQ(dm->RestoreService->Options, TRestoreOptions{TRestoreOption::Replace});
    EXPECT_EQ(dm->ValidationService->Options,
              (TValidateOptions{TValidateOption::CheckDB, TValidateOption::KillShadows,
                                TValidateOption::ValidateDB, TValidateOption::ValidateFull}));
    for (const TFbCustomService* s : {static_cast<TFbCustomService*>(dm->BackupService.get()),
                                      static_cast<TFbCustomService*>(dm->RestoreService.get()),
                                      static_cast<TFbCustomService*>(dm->ValidationService.get())})
        EXPECT_EQ(s->ServerName(), "") << s->Name();
}

TEST_F(DataModuleTest, SetConnectParamsBuildsTheParameterLines) {
    struct Case {
        const char* charSet;
        const char* role;
        const char* password;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", "", "pw", {"user_name=SYSDBA", "password=pw"}},
        {"NONE", "", "pw", {"user_name=SYSDBA", "password=pw"}},
        {"WIN1251", "", "pw", {"user_name=SYSDBA", "lc_ctype=WIN1251", "password=pw"}},
        {"", "ADMIN", "pw", {"user_name=SYSDBA", "sql_role_name=ADMIN", "password=pw"}},
        {"UTF8",
         "ADMIN",
         "",
         {"user_name=SYSDBA", "lc_ctype=UTF8", "sql_role_name=ADMIN", "password="}},
    };
    for (const Case& c : cases) {
        setting.SYSDBAPassword = c.password;
        setting.LibraryName = std::string("/opt/lib/client-") + c.charSet + ".so";
        dm->SetConnectParams("/data/store.fdb", c.charSet, c.role, 1);
        SCOPED_TRACE(std::string(c.charSet) + "/" + c.role + "/" + c.password);
        EXPECT_THAT(dm->DataBase->DBParams(), ElementsAreArray(c.lines));
        EXPECT_EQ(dm->DataBase->DBName(), "/data/store.fdb");
        EXPECT_EQ(dm->DataBase->SQLDialect(), 1);
        // Read from the settings at the moment of the call.
        EXPECT_EQ(dm->DataBase->LibraryName(), setting.LibraryName);
    }
}

TEST_F(DataModuleTest, SetConnectParamsClosesAnOpenConnectionFirst) {
    const std::string first = CreateDatabase("first.fdb");
    dm->SetConnectParams(first, "", "", 3);
    dm->DataBase->Connect();
    ASSERT_TRUE(dm->DataBase->Connected());
    dm->SetConnectParams(dir.File("second.fdb"), "UTF8", "", 3);
    EXPECT_FALSE(dm->DataBase->Connected());
    EXPECT_EQ(dm->DataBase->DBName(), dir.File("second.fdb"));
}

TEST_F(DataModuleTest, TestConnectOpensAndClosesARealDatabase) {
    dm->SetConnectParams(CreateDatabase("store.fdb"), "", "", 3);
    EXPECT_TRUE(dm->TestConnect());
    EXPECT_FALSE(dm->DataBase->Connected());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DataModuleTest, TestConnectReportsAPathThatIsNoDatabase) {
    const std::string path = dir.File("notes.fdb");
    test::WriteFile(path, std::string(64 * 1024, 'x'));
    dm->SetConnectParams(path, "", "", 3);
    EXPECT_FALSE(dm->TestConnect());
    EXPECT_FALSE(dm->DataBase->Connected());
    ASSERT_EQ(boxes.shown.size(), 1u);
    const MessageRequest& box = boxes.shown[0].request;
    EXPECT_EQ(box.title, "Ошибка тестового подключения");
    EXPECT_EQ(box.icon, MsgIcon::Error);
    EXPECT_EQ(box.buttons, unsigned{mbOK});
    // The server's message, with the component it came from on the first line.
    EXPECT_THAT(box.text, StartsWith("Moorquill.dm.DataBase:\r\n"));
    EXPECT_THAT(box.text, HasSubstr(path));
}

TEST_F(DataModuleTest, TestConnectReportsAWrongPasswordOfARealServer) {
    test::FirebirdServer server("rightpass");
    if (!server.Running()) GTEST_SKIP() << server.Reason();
    setting.SYSDBAPassword = "wrongpass";
    dm->SetConnectParams(server.DatabasePath("none.fdb"), "", "", 3);
    EXPECT_FALSE(dm->TestConnect());
    EXPECT_FALSE(dm->DataBase->Connected());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.title, "Ошибка тестового подключения");
    EXPECT_THAT(boxes.shown[0].request.text, StartsWith("Moorquill.dm.DataBase:\r\n"));
    EXPECT_THAT(boxes.shown[0].request.text, HasSubstr("password"));
}

TEST(LogPrefix, FormatsLocalDateAndTime) {
    struct Case {
        int year, month, day, hour, minute, second;
        const char* prefix;
    };
    const Case cases[] = {
        {2011, 3, 7, 9, 5, 2, "07.03.2011 09:05:02 > "},
        {1999, 12, 31, 23, 59, 59, "31.12.1999 23:59:59 > "},
        {2024, 2, 29, 0, 0, 0, "29.02.2024 00:00:00 > "},
    };
    for (const Case& c : cases) {
        std::tm t{};
        t.tm_year = c.year - 1900;
        t.tm_mon = c.month - 1;
        t.tm_mday = c.day;
        t.tm_hour = c.hour;
        t.tm_min = c.minute;
        t.tm_sec = c.second;
        EXPECT_EQ(Tdm::LogPrefix(t), c.prefix);
    }
}

class CountingPump final : public IEventPump {
public:
    CountingPump() { InstallEventPump(this); }
    ~CountingPump() override { InstallEventPump(nullptr); }
    void ProcessEvents() override { ++count; }
    int count = 0;
};

TEST(AddLog, AppendsStampedLinesAndProcessesEventsOncePerLine) {
    QPlainTextEdit view;
    QtLogView log(&view);
    CountingPump pump;
    Tdm::AddLog("Архивация началась...", &log);
    // A text that begins with a line break: the stamp stands alone on its line.
    Tdm::AddLog("\nСоздан архив: /arc/a.fbk", &log);
    EXPECT_EQ(pump.count, 2);

    const QStringList lines = view.toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 3);
    const QRegularExpression stamp(
        QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d > "));
    EXPECT_TRUE(stamp.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" > Архивация началась...")));
    EXPECT_TRUE(QRegularExpression(stamp.pattern() + '$').match(lines[1]).hasMatch())
        << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("Создан архив: /arc/a.fbk"));

    Tdm::AddLog("nowhere", nullptr);
    EXPECT_EQ(pump.count, 2);
}

TEST_F(DataModuleTest, IsFileFreeIsFalseWhileAnAttachmentHoldsTheDatabase) {
    const std::string path = CreateDatabase("held.fdb");
    EXPECT_TRUE(IsFileFree(path));
    dm->SetConnectParams(path, "", "", 3);
    dm->DataBase->Connect();
    EXPECT_FALSE(IsFileFree(path));
    dm->DataBase->Disconnect();
    EXPECT_TRUE(IsFileFree(path));
    EXPECT_FALSE(IsFileFree(dir.File("missing.fdb")));
}

TEST_F(DataModuleTest, ClusterSizeOfTheVolumeThatHoldsThePath) {
    const std::uint32_t size = GetClusterSize(dir.File("new.fdb"));
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size & (size - 1), 0u) << size;
    EXPECT_EQ(GetClusterSize("/no/such/directory/new.fdb"), 0u);
}

}  // namespace
}  // namespace qm
