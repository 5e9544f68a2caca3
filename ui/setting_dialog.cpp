#include "ui/setting_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "firebird/server_route.h"
#include "operations/interaction.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/typing_limit.h"
#include "operations/ui/window_size.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qm {

namespace {

#ifdef _WIN32
const char* const kLibraryFilter = "Клиентская библиотека  (*.dll)|*.dll";
#else
const char* const kLibraryFilter = "Клиентская библиотека  (*.so*)|*.so*";
#endif

}  // namespace

TfrmSetting::TfrmSetting(TSetting& setting, QWidget* owner) : QDialog(owner), setting_(setting) {
    setObjectName(QStringLiteral("frmSetting"));
    setWindowTitle(QString::fromUtf8(kCaption));

    auto* lbLibraryName = new QLabel(QStringLiteral("Клиентская библиотека :"), this);
    lbLibraryName->setObjectName(QStringLiteral("lbLibraryName"));
    edLibraryName = new TFileNameEdit(QStringLiteral("edLibraryName"), this);
    edLibraryName->SetName(setting.LibraryName);
    edLibraryName->OnBrowse = [this] { BrowseLibrary(); };

    auto* lbPassword = new QLabel(QStringLiteral("Пароль пользователя SYSDBA :"), this);
    lbPassword->setObjectName(QStringLiteral("lbPassword"));
    edPassword = new QLineEdit(this);
    edPassword->setObjectName(QStringLiteral("edPassword"));
    edPassword->setEchoMode(QLineEdit::Password);
    // Each character shows as "*", whatever the style would draw.
    edPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    edPassword->setToolTip(
        QStringLiteral("Введите пароль пользователя SYSDBA для подключения к базе данных"));
    (new TTypingLimit(edPassword, 9))->SetText(Q(setting.SYSDBAPassword));

    cbShowPassword = new QCheckBox(QStringLiteral("Показать пароль"), this);
    cbShowPassword->setObjectName(QStringLiteral("cbShowPassword"));

    auto* lbServer = new QLabel(QStringLiteral("Сервер Firebird :"), this);
    lbServer->setObjectName(QStringLiteral("lbServer"));
    edServer = new QLineEdit(this);
    edServer->setObjectName(QStringLiteral("edServer"));
    edServer->setPlaceholderText(
        QStringLiteral("локальный сервер, а где он не запущен — встроенный"));
    edServer->setToolTip(QStringLiteral(
        "Оставьте пустым для сервера этого компьютера (где он не запущен, базы данных "
        "открывает встроенный сервер) или укажите сервер: имя или адрес, а после \"/\" порт. "
        "Пути к базам данных тогда — пути на этом сервере."));
    edServer->setText(Q(setting.Server));

    btnOk = new QPushButton(QStringLiteral("Сохранить"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(lbLibraryName, 0, 0);
    grid->addWidget(edLibraryName, 1, 0, 1, 3);
    grid->addWidget(lbPassword, 2, 0);
    grid->addWidget(edPassword, 3, 0);
    grid->addWidget(cbShowPassword, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    grid->addWidget(lbServer, 4, 0);
    grid->addWidget(edServer, 5, 0, 1, 3);
    grid->addLayout(buttons, 6, 0, 1, 3);
    grid->setColumnStretch(2, 1);

    setTabOrder(edLibraryName, edPassword);
    setTabOrder(edPassword, cbShowPassword);
    setTabOrder(cbShowPassword, edServer);
    setTabOrder(edServer, btnOk);
    setTabOrder(btnOk, btnCancel);

    connect(cbShowPassword, &QCheckBox::toggled, this, [this] { cbShowPasswordClick(); });
    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FixWindowSize(this, 643, 210);
}

void TfrmSetting::BrowseLibrary() {
    FileDialogRequest r;
    r.kind = FileDialogKind::Open;
    r.title = "Открыть клиентскую библиотеку";
    r.filter = kLibraryFilter;
    r.fileName = edLibraryName->Name();
    if (auto chosen = FileDialogs().Run(r)) edLibraryName->SetName(*chosen);
}

void TfrmSetting::cbShowPasswordClick() {
    edPassword->setEchoMode(cbShowPassword->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}

void TfrmSetting::btnOkClick() {
    const std::string library = edLibraryName->Name();
    if (library.empty() ||
        (!platform::FileExists(library) && !platform::ExtractFilePath(library).empty())) {
        edLibraryName->setFocus();
        ShowError(kCaption, "Клиентская библиотека не найдена.");
        return;
    }
    if (edPassword->text().isEmpty()) {
        edPassword->setFocus();
        ShowError(kCaption, "Введите пароль пользователя SYSDBA.");
        return;
    }
    const std::string server = S(edServer->text().trimmed());
    if (const std::string why = CheckServerSetting(server); !why.empty()) {
        edServer->setFocus();
        ShowError(kCaption, "Сервер Firebird указан неверно: " + why);
        return;
    }
    setting_.LibraryName = library;
    setting_.SYSDBAPassword = S(edPassword->text());
    setting_.Server = server;
    setting_.Save();
    accept();
}

}  // namespace qm
