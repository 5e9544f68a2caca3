#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/services.h"
#include "operations/data_module.h"
#include "operations/ui/backup_dialog.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/wait_window.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tests/support/firebird_server.h"
#include "tests/support/scripted_interaction.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace qm {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr const char* kStartLine = "Архивация \"Склад\" началась...";
constexpr const char* kFailedLine = "Архивация прервана из-за ошибки.";
constexpr const char* kDoneLine = "Ручная архивация успешна завершена.";

// Runs one of Firebird's own tools to its end; its exit code, with standard
// output and error in *output.
int RunTool(std::vector<std::string> argv, std::string* output = nullptr) {
    test::TempDir scratch;
    const std::string out = scratch.File("out.txt");
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (output != nullptr) *output = test::ReadFile(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs an isql-fb script on the embedded engine; the tool's output.
std::string Isql(const std::string& dir, const std::string& script) {
    const std::string file = dir + "script.sql";
    test::WriteFile(file, script);
    std::string output;
    EXPECT_EQ(RunTool({"/usr/bin/isql-fb", "-q", "-b", "-ch", "UTF8", "-i", file}, &output), 0)
        << output;
    std::filesystem::remove(file);
    return output;
}

std::string SelectItems(const std::string& dir, const std::string& db) {
    return Isql(dir, "connect '" + db +
                         "' user 'SYSDBA';\n"
                         "select ID, NAME, PRICE from ITEMS order by ID;\n");
}

// A log view that keeps the lines and can act on them as they come.
class RecordingLog final : public ILogView {
public:
    void Clear() override { lines.clear(); }
    void AddLine(const std::string& line) override {
        lines.push_back(line);
        if (onLine) onLine(line);
    }
    // The lines without their time stamps, which are checked here once.
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const std::string& l : lines) {
            EXPECT_EQ(l.size() >= 22 ? l.substr(19, 3) : "", " > ") << l;
            out.push_back(l.size() >= 22 ? l.substr(22) : l);
        }
        return out;
    }
    std::vector<std::string> lines;
    std::function<void(const std::string&)> onLine;
};

class BackupTest : public ::testing::Test {
protected:
    BackupTest() {
        setting.LibraryName = platform::kDefaultClientLibrary;
        setting.SYSDBAPassword = "masterkey";
        dm = std::make_unique<Tdm>(&moorquill, setting);
        base.Description = "Склад";
        base.DBFile = dir.File("store.fdb");
        base.ArcDir = dir.Path();
    }

    void CreateStore() {
        Isql(dir.Path(),
             "create database '" + base.DBFile +
                 "' user 'SYSDBA' default character set UTF8;\n"
                 "create table ITEMS (ID integer not null primary key, NAME varchar(40),\n"
                 "  PRICE numeric(12,2));\n"
                 "commit;\n"
                 "insert into ITEMS values (1, 'Гвозди', 12.50);\n"
                 "insert into ITEMS values (2, 'Шурупы ''крупные''', 0.05);\n"
                 "insert into ITEMS values (3, null, 1000000.00);\n"
                 "commit;\n");
        ASSERT_TRUE(platform::FileExists(base.DBFile));
    }

    test::TempDir dir;
    TComponent moorquill{nullptr, "Moorquill"};
    TSetting setting{false};
    std::unique_ptr<Tdm> dm;
    TFirebirdBase base;
    RecordingLog log;
};

TEST_F(BackupTest, ArchiveOfARealDatabaseRestoresWithGbak) {
    CreateStore();
    const std::string archive = dir.File("store.fbk");
    ASSERT_TRUE(dm->BackupBase(base, archive, &log));
    EXPECT_THAT(log.Texts(), ElementsAre(kStartLine, "Создан архив: " + archive, kDoneLine));
    EXPECT_FALSE(dm->BackupService->Active());

    // The service manager was asked as "sysdba" in lower case.
    const std::string pw = "masterkey";
    Bytes spb = {2,   2,   28,  6,   's', 'y',
                 's', 'd', 'b', 'a', 29,  static_cast<std::uint8_t>(pw.size())};
    spb.insert(spb.end(), pw.begin(), pw.end());
    EXPECT_EQ(dm->BackupService->AttachRequest(), spb);

    const std::string restored = dir.File("restored.fdb");
    std::string output;
    ASSERT_EQ(RunTool({"/usr/bin/gbak", "-c", archive, restored, "-user", "SYSDBA"}, &output), 0)
        << output;
    const std::string original = SelectItems(dir.Path(), base.DBFile);
    EXPECT_THAT(original, HasSubstr("Шурупы 'крупные'"));
    EXPECT_EQ(SelectItems(dir.Path(), restored), original);
}

TEST_F(BackupTest, FailureBeforeTheServerWritesKeepsWhatWasThere) {
    struct Case {
        const char* name;
        bool oldArchive;
        bool missingLibrary;
    };
    const Case cases[] = {
        {"database missing, no archive", false, false},
        {"database missing, an older archive confirmed for overwrite", true, false},
        {"client library missing, an older archive", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string archive = dir.File("old.fbk");
        std::filesystem::remove(archive);
        if (c.oldArchive) test::WriteFile(archive, "an older archive");
        setting.LibraryName =
            c.missingLibrary ? dir.File("libnothing.so") : platform::kDefaultClientLibrary;
        log.Clear();

        EXPECT_FALSE(dm->BackupBase(base, archive, &log));
        const auto texts = log.Texts();
        ASSERT_EQ(texts.size(), 3u);
        EXPECT_EQ(texts[0], kStartLine);
        if (c.missingLibrary) {
            EXPECT_THAT(texts[1], HasSubstr("libnothing.so"));
        } else {
            EXPECT_THAT(texts[1], StartsWith("Moorquill.dm.BackupService:\r\n"));
            EXPECT_THAT(texts[1], HasSubstr(base.DBFile));
        }
        EXPECT_EQ(texts[2], kFailedLine);
        EXPECT_FALSE(dm->BackupService->Active());
        if (c.oldArchive)
            EXPECT_EQ(test::ReadFile(archive), "an older archive");
        else
            EXPECT_FALSE(std::filesystem::exists(archive));
    }
}

// The scripted client library of the services client's suite, built beside
// this suite; it answers the output queries from a script.
std::string FakeServicesLibrary() {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path() / "firebird" / "services" /
            "libqm_svc_fake_fbclient.so")
        .string();
}

Bytes LineAnswer(const std::string& text) {
    Bytes b = {62, static_cast<std::uint8_t>(text.size() & 0xFF),
               static_cast<std::uint8_t>(text.size() >> 8)};
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(1);
    return b;
}

TEST_F(BackupTest, AnArchiveTheFailedRunWroteIsDeleted) {
    const std::string lib = FakeServicesLibrary();
    if (!platform::FileExists(lib)) GTEST_SKIP() << "build qm_svc_fake_fbclient first: " << lib;
    platform::LibraryError err;
    void* module = platform::OpenLibrary(lib, &err);
    ASSERT_NE(module, nullptr) << err.text;
    auto reset = reinterpret_cast<void (*)()>(platform::FindSymbol(module, "fake_reset"));
    auto push = reinterpret_cast<void (*)(const unsigned char*, int)>(
        platform::FindSymbol(module, "fake_push_answer"));
    ASSERT_TRUE(reset && push);
    setting.LibraryName = lib;

    for (bool oldArchive : {false, true}) {
        SCOPED_TRACE(oldArchive ? "over an older archive" : "a new archive");
        const std::string archive = dir.File("partial.fbk");
        std::filesystem::remove(archive);
        if (oldArchive) test::WriteFile(archive, "old");
        reset();
        const Bytes line = LineAnswer("gbak: writing data for table ITEMS");
        push(line.data(), static_cast<int>(line.size()));
        const Bytes malformed = {63, 0, 0, 1};
        push(malformed.data(), static_cast<int>(malformed.size()));
        // The server writes while it reports; here the script stands in for it.
        log.Clear();
        log.onLine = [&](const std::string& l) {
            if (l.find("gbak: writing") != std::string::npos)
                test::WriteFile(archive, "partial data");
        };

        EXPECT_FALSE(dm->BackupBase(base, archive, &log));
        log.onLine = nullptr;
        const auto texts = log.Texts();
        ASSERT_EQ(texts.size(), 5u);
        EXPECT_EQ(texts[1], "gbak: writing data for table ITEMS");
        EXPECT_EQ(texts[2], "Unexpected Output buffer value");
        EXPECT_EQ(texts[3], kFailedLine);
        EXPECT_EQ(texts[4], "Повреждённый архив был удалён: " + archive);
        EXPECT_FALSE(std::filesystem::exists(archive));
        EXPECT_FALSE(dm->BackupService->Active());
    }
    platform::CloseLibrary(module);
}

TEST_F(BackupTest, WrongPasswordOfARealServerIsLoggedWithItsOrigin) {
    test::FirebirdServer server("rightpass");
    if (!server.Running()) GTEST_SKIP() << server.Reason();
    const test::ServerVariable toServer(server.Address());
    setting.SYSDBAPassword = "wrongpass";
    base.DBFile = server.Directory() + "store.fdb";
    const std::string archive = server.Directory() + "store.fbk";

    EXPECT_FALSE(dm->BackupBase(base, archive, &log));
    const auto texts = log.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], kStartLine);
    EXPECT_THAT(texts[1], StartsWith("Moorquill.dm.BackupService:\r\n"));
    EXPECT_THAT(texts[1], HasSubstr("password"));
    EXPECT_EQ(texts[2], kFailedLine);
    EXPECT_FALSE(dm->BackupService->Active());
    EXPECT_FALSE(std::filesystem::exists(archive));
}

// ---------------------------------------------------------------------------
// The dialog, driven headless through the message-box and file-dialog seams.

class BackupDialogTest : public BackupTest {
protected:
    BackupDialogTest() { InstallEventPump(&pump); }
    ~BackupDialogTest() override {
        form.reset();
        InstallEventPump(nullptr);
        EXPECT_THAT(test::VisibleTopLevels(), IsEmpty());
    }

    TfrmBackupBase& Open() {
        form = std::make_unique<TfrmBackupBase>(base, *dm, nullptr);
        form->show();
        form->activateWindow();
        QApplication::processEvents();
        return *form;
    }
    std::vector<std::string> MemoLines() const {
        std::vector<std::string> out;
        const QString text = form->MemoLog->toPlainText();
        if (text.isEmpty()) return out;
        for (const QString& l : text.split('\n')) out.push_back(S(l.mid(22)));
        return out;
    }

    QtEventPump pump;
    test::ScriptedMessageBoxes boxes;
    test::ScriptedFileDialogs dialogs;
    std::unique_ptr<TfrmBackupBase> form;
};

TEST_F(BackupDialogTest, OpensWithItsControlsAndTheProposedName) {
    const std::string before = TFirebirdBaseList::GetArchiveFileName(base);
    TfrmBackupBase& f = Open();
    const std::string after = TFirebirdBaseList::GetArchiveFileName(base);
    EXPECT_EQ(f.objectName(), "frmBackupBase");
    EXPECT_EQ(S(f.windowTitle()), "Ручная архивация: Склад");
    EXPECT_EQ(f.size(), QSize(734, 442));
    const std::string name = f.edBackupFile->Name();
    EXPECT_TRUE(name == before || name == after) << name;
    EXPECT_THAT(name, StartsWith(dir.Path() + "store "));
    EXPECT_EQ(S(f.findChild<QLabel*>("lbBackupFile")->text()), "Создать архив :");
    EXPECT_EQ(S(f.findChild<QLabel*>("lblBackupLog")->text()), "Журнал архивации :");
    EXPECT_EQ(S(f.btnOk->text()), "Архивировать");
    EXPECT_EQ(S(f.btnCancel->text()), "Отмена");
    EXPECT_TRUE(f.MemoLog->isReadOnly());
    EXPECT_TRUE(f.MemoLog->toPlainText().isEmpty());
    EXPECT_EQ(f.focusWidget(), f.edBackupFile);

    // Typing and pasting change nothing.
    QTest::keyClicks(f.edBackupFile, "abc");
    QTest::keyClick(f.edBackupFile, Qt::Key_Backspace);
    QTest::keySequence(f.edBackupFile, QKeySequence::Paste);
    EXPECT_EQ(f.edBackupFile->Name(), name);

    QTest::keyClick(&f, Qt::Key_Escape);
    EXPECT_EQ(f.result(), QDialog::Rejected);
    EXPECT_FALSE(f.isVisible());
}

TEST_F(BackupDialogTest, BrowseAppendsFbkOnlyToANameWithoutExtension) {
    TfrmBackupBase& f = Open();
    const std::string proposed = f.edBackupFile->Name();
    struct Case {
        std::optional<std::string> answer;
        std::string expected;
    };
    const Case cases[] = {
        {std::nullopt, proposed},
        {"/arc/weekly", "/arc/weekly.fbk"},
        {"/arc/weekly.bak", "/arc/weekly.bak"},
        {"/arc.d/weekly", "/arc.d/weekly.fbk"},
        {"/arc/weekly.fbk", "/arc/weekly.fbk"},
    };
    for (const Case& c : cases) {
        dialogs.Answer(c.answer);
        f.edBackupFile->BrowseAction()->trigger();
        EXPECT_EQ(f.edBackupFile->Name(), c.expected);
    }
    ASSERT_FALSE(dialogs.requests.empty());
    const FileDialogRequest& r = dialogs.requests[0];
    EXPECT_EQ(r.kind, FileDialogKind::Save);
    EXPECT_EQ(r.title, "Сохранить архив как..");
    EXPECT_EQ(r.filter, "Архив базы Firebird (*.fbk)|*.fbk|Все файлы|*.*");
    EXPECT_EQ(r.initialDir, base.ArcDir);
    EXPECT_EQ(r.fileName, proposed);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(BackupDialogTest, WithoutANameNothingStarts) {
    TfrmBackupBase& f = Open();
    f.edBackupFile->SetName("");
    f.btnOk->setFocus();
    f.btnOk->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    const test::ShownBox& box = boxes.shown[0];
    EXPECT_EQ(box.request.title, "Ручная архивация: Склад");
    EXPECT_EQ(box.request.text, "Файл архива не указан.");
    EXPECT_EQ(box.request.icon, MsgIcon::Error);
    EXPECT_EQ(box.request.buttons, unsigned{mbOK});
    EXPECT_EQ(box.focusName, "edBackupFile");
}

TEST_F(BackupDialogTest, AnExistingArchiveIsNamedInAWarningAndNoLeavesItAlone) {
    CreateStore();
    TfrmBackupBase& f = Open();
    const std::string archive = dir.File("store.fbk");
    test::WriteFile(archive, "last week");
    f.edBackupFile->SetName(archive);
    f.btnOk->click();  // no answer queued: the default button, No
    ASSERT_EQ(boxes.shown.size(), 1u);
    const MessageRequest& q = boxes.shown[0].request;
    EXPECT_EQ(q.title, "Ручная архивация: Склад");
    EXPECT_EQ(q.text,
              "Файл архива \"" + archive + "\" уже существует. Начать архивацию всё равно?");
    EXPECT_EQ(q.icon, MsgIcon::Warning);
    EXPECT_EQ(q.buttons, unsigned{mbYes | mbNo});
    EXPECT_EQ(q.defaultButton, mbNo);
    EXPECT_EQ(test::ReadFile(archive), "last week");
    EXPECT_TRUE(f.MemoLog->toPlainText().isEmpty());
}

TEST_F(BackupDialogTest, YesBacksUpToTheProposedNameAndReportsSuccess) {
    CreateStore();
    TfrmBackupBase& f = Open();
    const std::string archive = f.edBackupFile->Name();
    f.MemoLog->setPlainText(QStringLiteral("a previous run"));
    // Every change of the log happens under the wait window, the dialog disabled.
    std::vector<std::string> duringRun;
    QObject::connect(f.MemoLog, &QPlainTextEdit::textChanged, &f, [&] {
        TWaitThread* w = WaitThread();
        duringRun.push_back(w == nullptr    ? "no wait window"
                            : f.isEnabled() ? "dialog enabled"
                                            : S(w->WaitForm()->lblInfo->text()));
    });
    boxes.Answer(mbYes);
    f.btnOk->click();
    EXPECT_THAT(duringRun, ElementsAre("Выполняется архивация базы данных...",
                                       "Выполняется архивация базы данных...",
                                       "Выполняется архивация базы данных...",
                                       "Выполняется архивация базы данных..."));

    ASSERT_EQ(boxes.shown.size(), 2u);
    const MessageRequest& q = boxes.shown[0].request;
    EXPECT_EQ(q.text, "Начать архивацию \"Склад\"?");
    EXPECT_EQ(q.icon, MsgIcon::Question);
    EXPECT_EQ(q.buttons, unsigned{mbYes | mbNo});
    EXPECT_EQ(q.defaultButton, mbNo);
    const MessageRequest& done = boxes.shown[1].request;
    EXPECT_EQ(done.title, "Ручная архивация: Склад");
    EXPECT_EQ(done.text, "Архивация завершена.");
    EXPECT_EQ(done.icon, MsgIcon::Information);
    EXPECT_EQ(done.buttons, unsigned{mbOK});

    EXPECT_THAT(MemoLines(), ElementsAre(kStartLine, "Создан архив: " + archive, kDoneLine));
    EXPECT_TRUE(platform::FileExists(archive));
    EXPECT_EQ(WaitThread(), nullptr);
    EXPECT_TRUE(f.isEnabled());
    EXPECT_TRUE(f.isVisible());
}

TEST_F(BackupDialogTest, NoWayOfClosingTheDialogWorksWhileTheBackupRuns) {
    CreateStore();
    TfrmBackupBase& f = Open();
    const std::string archive = f.edBackupFile->Name();
    // At the first log line: the window manager's close button and Alt+F4 (a
    // close event), Escape, and a reject from the program, all posted or
    // made while the backup goes on.
    bool tried = false;
    std::vector<bool> visibleDuringRun;
    QObject::connect(f.MemoLog, &QPlainTextEdit::textChanged, &f, [&] {
        visibleDuringRun.push_back(f.isVisible());
        if (tried) return;
        tried = true;
        QCoreApplication::postEvent(&f, new QCloseEvent);
        QCoreApplication::postEvent(
            &f, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        f.close();
        f.reject();
        f.btnCancel->click();
    });
    boxes.Answer(mbYes);
    f.btnOk->click();

    ASSERT_TRUE(tried);
    EXPECT_THAT(visibleDuringRun, Each(true));
    EXPECT_TRUE(f.isVisible());
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].request.text, "Архивация завершена.");
    EXPECT_THAT(MemoLines(), ElementsAre(kStartLine, "Создан архив: " + archive, kDoneLine));
    EXPECT_FALSE(OperationRunning());
    // Once the backup has ended, Escape closes the dialog again.
    QTest::keyClick(&f, Qt::Key_Escape);
    EXPECT_FALSE(f.isVisible());
}

// Answers Yes to the question and notes, for every box, whether a wait
// window stood over the program and whether the dialog was enabled.
class WaitAwareBoxes final : public IMessageBoxes {
public:
    explicit WaitAwareBoxes(QWidget* form) : form_(form) { InstallMessageBoxes(this); }
    ~WaitAwareBoxes() override { InstallMessageBoxes(nullptr); }
    MsgButton Show(const MessageRequest& r) override {
        shown.push_back(r);
        waitShown.push_back(WaitThread() != nullptr);
        formEnabled.push_back(form_->isEnabled());
        return (r.buttons & mbYes) ? mbYes : mbOK;
    }
    std::vector<MessageRequest> shown;
    std::vector<bool> waitShown, formEnabled;

private:
    QWidget* form_;
};

TEST_F(BackupDialogTest, AFailedBackupIsReportedAfterTheWaitWindowIsGone) {
    TfrmBackupBase& f = Open();  // no database file was made
    WaitAwareBoxes seen(&f);
    f.btnOk->click();
    ASSERT_EQ(seen.shown.size(), 2u);
    EXPECT_THAT(seen.waitShown, ElementsAre(false, false));
    EXPECT_THAT(seen.formEnabled, ElementsAre(true, true));
    const MessageRequest& failed = seen.shown[1];
    EXPECT_EQ(failed.title, "Ручная архивация: Склад");
    EXPECT_EQ(failed.text, "Архивация прервана из-за ошибки.");
    EXPECT_EQ(failed.icon, MsgIcon::Error);
    EXPECT_EQ(failed.buttons, unsigned{mbOK});
    const QStringList lines = f.MemoLog->toPlainText().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(S(lines.front().mid(22)), kStartLine);
    EXPECT_EQ(S(lines.back().mid(22)), kFailedLine);
}

}  // namespace
}  // namespace qm
