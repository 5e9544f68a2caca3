#include "ui/setting_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "operations/ui/file_name_edit.h"
#include "tests/support/scripted_interaction.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using ::testing::IsEmpty;

class SettingDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        setting.LibraryName = "libfbclient.so.2";
        setting.SYSDBAPassword = "masterkey12";  // longer than can be typed
    }
    void TearDown() override { EXPECT_THAT(test::VisibleTopLevels(), IsEmpty()); }

    std::string SettingsFile() const { return dir.File("Quillmoor.srv"); }

    test::TempDir dir;
    test::ScopedDataDir dataDir{dir.Path()};
    test::ScriptedMessageBoxes boxes;
    test::ScriptedFileDialogs dialogs;
    TSetting setting{false};
};

struct Controls {
    explicit Controls(TfrmSetting& d)
        : library(d.findChild<TFileNameEdit*>("edLibraryName")),
          password(d.findChild<QLineEdit*>("edPassword")),
          show(d.findChild<QCheckBox*>("cbShowPassword")),
          ok(d.findChild<QPushButton*>("btnOk")) {}
    TFileNameEdit* library;
    QLineEdit* password;
    QCheckBox* show;
    QPushButton* ok;
};

TEST_F(SettingDialogTest, ShowsTheSettingsAndLimitsOnlyTyping) {
    TfrmSetting d(setting, nullptr);
    Controls c(d);
    EXPECT_EQ(d.windowTitle().toStdString(), "Настройки сервера Firebird");
    EXPECT_EQ(c.library->text().toStdString(), "libfbclient.so.2");
    EXPECT_EQ(c.password->text().toStdString(), "masterkey12");
    EXPECT_EQ(c.password->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(c.ok->isDefault());

    QTest::keyClick(c.password, Qt::Key_Backspace);
    EXPECT_EQ(c.password->text().toStdString(), "masterkey1");
    c.password->clear();
    QTest::keyClicks(c.password, "abcdefghijkl");
    EXPECT_EQ(c.password->text().toStdString(), "abcdefghi");

    // A paste is cut to what fits, as typing is.
    c.password->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("0123456789abc"));
    QTest::keySequence(c.password, QKeySequence::Paste);
    EXPECT_EQ(c.password->text().toStdString(), "012345678");
    EXPECT_EQ(c.password->displayText().toStdString(), "*********");
    c.password->setText(QStringLiteral("abcdefghi"));

    c.show->click();
    EXPECT_EQ(c.password->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(c.password->displayText().toStdString(), "abcdefghi");
    c.show->click();
    EXPECT_EQ(c.password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(c.password->text().toStdString(), "abcdefghi");

    // Typing into the library's edit changes nothing.
    QTest::keyClicks(c.library, "xyz");
    EXPECT_EQ(c.library->text().toStdString(), "libfbclient.so.2");
}

TEST_F(SettingDialogTest, BrowsingTakesTheChosenLibraryUnchanged) {
    TfrmSetting d(setting, nullptr);
    Controls c(d);
    dialogs.Answer("/opt/fb/lib/libfbclient.so.3.0.11");
    c.library->BrowseAction()->trigger();
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].title, "Открыть клиентскую библиотеку");
    EXPECT_EQ(dialogs.requests[0].filter, "Клиентская библиотека  (*.so*)|*.so*");
    EXPECT_EQ(c.library->text().toStdString(), "/opt/fb/lib/libfbclient.so.3.0.11");
    c.library->BrowseAction()->trigger();  // cancelled: the name stays
    EXPECT_EQ(c.library->text().toStdString(), "/opt/fb/lib/libfbclient.so.3.0.11");
}

TEST_F(SettingDialogTest, RefusesMissingLibraryAndEmptyPassword) {
    struct Case {
        std::string library;
        std::string password;
        const char* text;
        const char* focus;
    } cases[] = {
        {"", "pw", "Клиентская библиотека не найдена.", "edLibraryName"},
        {dir.File("missing.so"), "pw", "Клиентская библиотека не найдена.", "edLibraryName"},
        {"libfbclient.so.2", "", "Введите пароль пользователя SYSDBA.", "edPassword"},
    };
    for (const Case& k : cases) {
        boxes.shown.clear();
        setting.LibraryName = k.library;
        TfrmSetting d(setting, nullptr);
        d.show();
        d.findChild<QLineEdit*>("edPassword")->setText(QString::fromStdString(k.password));
        d.btnOkClick();
        ASSERT_EQ(boxes.shown.size(), 1u) << k.text;
        EXPECT_EQ(boxes.shown[0].request.title, "Настройки сервера Firebird");
        EXPECT_EQ(boxes.shown[0].request.text, k.text);
        EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
        EXPECT_EQ(boxes.shown[0].request.buttons, unsigned(mbOK));
        EXPECT_EQ(boxes.shown[0].focusName, k.focus) << k.text;
        EXPECT_TRUE(d.isVisible());
        EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
        d.reject();
    }
}

TEST_F(SettingDialogTest, SavesABareLibraryNameThatIsNotInTheCurrentDirectory) {
    setting.LibraryName = "fbclient-not-here.so";
    TfrmSetting d(setting, nullptr);
    d.findChild<QLineEdit*>("edPassword")->setText("newpass");
    d.btnOkClick();
    EXPECT_THAT(boxes.shown, IsEmpty());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    TSetting reread(true);
    EXPECT_EQ(reread.LibraryName, "fbclient-not-here.so");
    EXPECT_EQ(reread.SYSDBAPassword, "newpass");
    EXPECT_EQ(test::ReadFile(SettingsFile()).find("newpass"), std::string::npos);
}

TEST_F(SettingDialogTest, TheServerIsCheckedAndSaved) {
    setting.Server = "db.example/3051";
    TfrmSetting d(setting, nullptr);
    d.show();
    auto* server = d.findChild<QLineEdit*>("edServer");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->text().toStdString(), "db.example/3051");
    d.findChild<QLineEdit*>("edPassword")->setText("pw");

    server->setText("db.example:3051");
    d.btnOkClick();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].request.text.rfind("Сервер Firebird указан неверно: ", 0), 0u)
        << boxes.shown[0].request.text;
    EXPECT_EQ(boxes.shown[0].focusName, "edServer");
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));

    // Empty is the local server, or the embedded engine where none runs.
    server->setText("  ");
    d.btnOkClick();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(TSetting(true).Server, "");
}

TEST_F(SettingDialogTest, CancelChangesNothing) {
    TfrmSetting d(setting, nullptr);
    d.findChild<QLineEdit*>("edPassword")->setText("other");
    d.findChild<QPushButton*>("btnCancel")->click();
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(setting.SYSDBAPassword, "masterkey12");
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

}  // namespace
}  // namespace qm
