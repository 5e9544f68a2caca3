#include "ui/base_editor.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "operations/interaction.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/operation_dialog.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/typing_limit.h"
#include "operations/ui/window_size.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "ui/main_window.h"
#include "ui/setting_dialog.h"

namespace qm {

namespace {

// Blanks and control characters off both ends, and every run of control
// characters inside (the line break of a text pasted from a log) made one
// blank: the description is one line of the list file. Bytes of a multi-byte
// UTF-8 character are all above the blank, so only ASCII is ever touched.
std::string CleanDescription(const std::string& s) {
    auto control = [](char c) { return static_cast<unsigned char>(c) < ' ' || c == '\x7f'; };
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    std::string out;
    for (std::size_t i = b; i < e; ++i) {
        if (!control(s[i]))
            out += s[i];
        else if (!control(s[i - 1]))
            out += ' ';
    }
    return out;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Only a local path can name a database of this machine's server; a network
// name (\\server\share\file.fdb) cannot.
bool IsLocalAbsolutePath(const std::string& path) {
#ifdef _WIN32
    return path.size() > 2 && path[1] == ':';
#else
    return path.size() > 1 && path[0] == '/';
#endif
}

QCheckBox* MakeCheckBox(const char* name, const char* text, QWidget* parent) {
    auto* cb = new QCheckBox(QString::fromUtf8(text), parent);
    cb->setObjectName(QString::fromUtf8(name));
    return cb;
}

QLabel* MakeLabel(const char* name, const char* text, QWidget* parent) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(QString::fromUtf8(name));
    return l;
}

}  // namespace

TfrmBase::TfrmBase(TMoorquill& Moorquill, Tdm& dm, TSetting& setting, QWidget* owner)
    : QDialog(owner), moorquill_(Moorquill), dm_(dm), setting_(setting) {
    setObjectName(QStringLiteral("frmBase"));

    // --- the database ---------------------------------------------------
    auto* gbBase = new QGroupBox(QStringLiteral(" База данных "), this);
    gbBase->setObjectName(QStringLiteral("gbBase"));
    auto* lblDiscription = MakeLabel("lblDiscription", "Описание базы данных :", gbBase);
    edDiscription = new QLineEdit(gbBase);
    edDiscription->setObjectName(QStringLiteral("edDiscription"));
    descriptionLimit_ = new TTypingLimit(edDiscription, kDescriptionLength);
    auto* lbBaseFile = MakeLabel("lbBaseFile", "Файл базы данных :", gbBase);
    edBaseFile = new TFileNameEdit(QStringLiteral("edBaseFile"), gbBase);
    edBaseFile->OnBrowse = [this] { Guarded([this] { edBaseFileBrowse(); }); };
    cbActive = MakeCheckBox("cbActive", "Применять к базе автоматическую архивацию", gbBase);

    auto* baseGrid = new QGridLayout(gbBase);
    baseGrid->addWidget(lblDiscription, 0, 0);
    baseGrid->addWidget(edDiscription, 0, 1);
    baseGrid->addWidget(lbBaseFile, 1, 0);
    baseGrid->addWidget(edBaseFile, 1, 1);
    baseGrid->addWidget(cbActive, 2, 0, 1, 2);
    baseGrid->setColumnStretch(1, 1);

    // --- automatic archiving -------------------------------------------
    auto* gbAutoArc = new QGroupBox(QStringLiteral(" Параметры автоархивации "), this);
    gbAutoArc->setObjectName(QStringLiteral("gbAutoArc"));
    auto* lblBackupDir = MakeLabel("lblBackupDir", "Каталог для хранения архивов :", gbAutoArc);
    edBackupDir = new TFileNameEdit(QStringLiteral("edBackupDir"), gbAutoArc);
    edBackupDir->OnBrowse = [this] { Guarded([this] { edBackupDirBrowse(); }); };
    cbDoZIP =
        MakeCheckBox("cbDoZIP", "Сжимать созданный файл архива в ZIP после архивации", gbAutoArc);
    auto* lblBackupFileCount = MakeLabel(
        "lblBackupFileCount", "Хранить количество последних созданных архивов :", gbAutoArc);
    seBackupFileCount = new QSpinBox(gbAutoArc);
    seBackupFileCount->setObjectName(QStringLiteral("seBackupFileCount"));
    seBackupFileCount->setRange(0, 1000);
    seBackupFileCount->setValue(20);
    seBackupFileCount->setToolTip(QStringLiteral("0 - бесконечное количество архивов"));
    auto* lblTime = MakeLabel("lblTime", "Дни недели и время автоархивации :", gbAutoArc);
    cbMon = MakeCheckBox("cbMon", "Пн", gbAutoArc);
    cbTue = MakeCheckBox("cbTue", "Вт", gbAutoArc);
    cbWed = MakeCheckBox("cbWed", "Ср", gbAutoArc);
    cbThu = MakeCheckBox("cbThu", "Чт", gbAutoArc);
    cbFri = MakeCheckBox("cbFri", "Пт", gbAutoArc);
    cbSat = MakeCheckBox("cbSat", "Сб", gbAutoArc);
    cbSun = MakeCheckBox("cbSun", "Вс", gbAutoArc);
    for (QCheckBox* cb : {cbMon, cbTue, cbWed, cbThu, cbFri}) cb->setChecked(true);
    lbTime = new QListWidget(gbAutoArc);
    lbTime->setObjectName(QStringLiteral("lbTime"));
    lbTime->setSelectionMode(QAbstractItemView::SingleSelection);
    InsertTime("13:30");
    InsertTime("23:00");
    sbtnAddTime = new QToolButton(gbAutoArc);
    sbtnAddTime->setObjectName(QStringLiteral("sbtnAddTime"));
    sbtnAddTime->setText(QStringLiteral("+"));
    sbtnAddTime->setToolTip(QStringLiteral("Добавить время архивации"));
    sbtnAddTime->setFocusPolicy(Qt::NoFocus);
    sbtnDelTime = new QToolButton(gbAutoArc);
    sbtnDelTime->setObjectName(QStringLiteral("sbtnDelTime"));
    sbtnDelTime->setText(QStringLiteral("−"));
    sbtnDelTime->setToolTip(QStringLiteral("Удалить выбранное время архивации"));
    sbtnDelTime->setFocusPolicy(Qt::NoFocus);
    dtpBackupTime = new QTimeEdit(QTime(0, 0), gbAutoArc);
    dtpBackupTime->setObjectName(QStringLiteral("dtpBackupTime"));
    dtpBackupTime->setDisplayFormat(QStringLiteral("HH:mm"));

    auto* days = new QHBoxLayout;
    for (QCheckBox* cb : {cbMon, cbTue, cbWed, cbThu, cbFri, cbSat, cbSun}) days->addWidget(cb);
    days->addStretch(1);
    auto* timeButtons = new QVBoxLayout;
    timeButtons->addWidget(dtpBackupTime);
    auto* addDel = new QHBoxLayout;
    addDel->addWidget(sbtnAddTime);
    addDel->addWidget(sbtnDelTime);
    addDel->addStretch(1);
    timeButtons->addLayout(addDel);
    timeButtons->addStretch(1);
    auto* times = new QHBoxLayout;
    times->addWidget(lbTime, 1);
    times->addLayout(timeButtons);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(lblBackupFileCount);
    countRow->addWidget(seBackupFileCount);
    countRow->addStretch(1);

    auto* arcLayout = new QVBoxLayout(gbAutoArc);
    arcLayout->addWidget(lblBackupDir);
    arcLayout->addWidget(edBackupDir);
    arcLayout->addWidget(cbDoZIP);
    arcLayout->addLayout(countRow);
    arcLayout->addWidget(lblTime);
    arcLayout->addLayout(days);
    arcLayout->addLayout(times, 1);

    // --- buttons ----------------------------------------------------------
    btnSetting = new QPushButton(QStringLiteral("Настройки Firebird"), this);
    btnSetting->setObjectName(QStringLiteral("btnSetting"));
    btnSetting->setAutoDefault(false);
    btnOk = new QPushButton(QStringLiteral("Сохранить"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnSetting);
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(gbBase);
    layout->addWidget(gbAutoArc, 1);
    layout->addLayout(buttons);

    QWidget* order[] = {
        edDiscription, edBaseFile, cbActive,      edBackupDir, cbDoZIP, seBackupFileCount,
        cbMon,         cbTue,      cbWed,         cbThu,       cbFri,   cbSat,
        cbSun,         lbTime,     dtpBackupTime, btnSetting,  btnOk,   btnCancel};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnSetting, &QPushButton::clicked, this,
            [this] { Guarded([this] { btnSettingClick(); }); });
    connect(sbtnAddTime, &QToolButton::clicked, this,
            [this] { Guarded([this] { sbtnAddTimeClick(); }); });
    connect(sbtnDelTime, &QToolButton::clicked, this,
            [this] { Guarded([this] { sbtnDelTimeClick(); }); });

    FixWindowSize(this, 582, 443);
}

std::string TfrmBase::Caption() const { return S(windowTitle()); }

void TfrmBase::SetDescription(const QString& text) { descriptionLimit_->SetText(text); }

std::vector<std::string> TfrmBase::Times() const {
    std::vector<std::string> out;
    for (int i = 0; i < lbTime->count(); ++i) out.push_back(S(lbTime->item(i)->text()));
    return out;
}

void TfrmBase::InsertTime(const std::string& time) {
    const QString text = Q(time);
    int row = lbTime->count();
    while (row > 0 && text < lbTime->item(row - 1)->text()) --row;
    lbTime->insertItem(row, text);
}

void TfrmBase::BaseToControls() {
    cbActive->setChecked(Base->Active);
    SetDescription(Q(Base->Description));
    edBaseFile->SetName(Base->DBFile);
    edBackupDir->SetName(Base->ArcDir);
    cbDoZIP->setChecked(Base->DoZIP);
    seBackupFileCount->setValue(Base->ArcFileCount);
    cbMon->setChecked(Base->Mon);
    cbTue->setChecked(Base->Tue);
    cbWed->setChecked(Base->Wed);
    cbThu->setChecked(Base->Thu);
    cbFri->setChecked(Base->Fri);
    cbSat->setChecked(Base->Sat);
    cbSun->setChecked(Base->Sun);
    lbTime->clear();
    for (const std::string& t : Base->BackupTimes) InsertTime(t);
}

void TfrmBase::ControlsToBase() {
    Base->Active = cbActive->isChecked();
    Base->Description = S(edDiscription->text());
    Base->DBFile = edBaseFile->Name();
    Base->ArcDir = edBackupDir->Name();
    Base->DoZIP = cbDoZIP->isChecked();
    Base->ArcFileCount = seBackupFileCount->value();
    Base->Mon = cbMon->isChecked();
    Base->Tue = cbTue->isChecked();
    Base->Wed = cbWed->isChecked();
    Base->Thu = cbThu->isChecked();
    Base->Fri = cbFri->isChecked();
    Base->Sat = cbSat->isChecked();
    Base->Sun = cbSun->isChecked();
    Base->BackupTimes = Times();
}

int TfrmBase::NextNumber() const {
    const auto* lvBase = moorquill_.findChild<QTreeWidget*>(QStringLiteral("lvBase"));
    return lvBase != nullptr ? lvBase->topLevelItemCount() : 0;
}

void TfrmBase::btnOkClick() {
    const std::string description = CleanDescription(S(edDiscription->text()));
    SetDescription(Q(description));
    if (description.empty()) {
        edDiscription->setFocus();
        ShowError(Caption(), "Введите описание базы данных.");
        return;
    }
    // A name from the file dialogs may hold a line break, which the list file
    // cannot.
    if (HasLineBreak(edBaseFile->Name())) {
        edBaseFile->setFocus();
        ShowError(Caption(), "Имя файла базы данных содержит перевод строки.");
        return;
    }
    if (HasLineBreak(edBackupDir->Name())) {
        edBackupDir->setFocus();
        ShowError(Caption(), "Путь для создаваемых архивов содержит перевод строки.");
        return;
    }
    if (!platform::FileExists(edBaseFile->Name())) {
        edBaseFile->setFocus();
        ShowError(Caption(), "Файл базы данных не существует.");
        return;
    }
    if (!platform::DirectoryExists(edBackupDir->Name())) {
        edBackupDir->setFocus();
        ShowError(Caption(), "Путь для создаваемых архивов не существует.");
        return;
    }
    dm_.SetConnectParams(edBaseFile->Name(), "", "", 3);
    if (!dm_.TestConnect()) return;

    ControlsToBase();
    if (IsEdit) {
        moorquill_.ShowBaseInList(Base, false, true);
        TFirebirdBaseList::SaveFirebirdBase(*Base);
    } else {
        // A new record is written before it becomes a list item: a failed
        // write then leaves no item behind that refers to a record the main
        // window destroys when the dialog is cancelled. The number is the one
        // the list gives the new item.
        Base->Number = NextNumber();
        TFirebirdBaseList::SaveFirebirdBase(*Base);
        moorquill_.ShowBaseInList(Base, true, true);
    }
    accept();
}

void TfrmBase::sbtnAddTimeClick() {
    const std::string time = S(dtpBackupTime->time().toString(QStringLiteral("HH:mm")));
    for (const std::string& t : Times()) {
        if (t == time) {
            ShowWarning(Caption(), "Такое время архивации уже существует в списке.");
            return;
        }
    }
    InsertTime(time);
}

void TfrmBase::sbtnDelTimeClick() {
    const auto selected = lbTime->selectedItems();
    if (selected.isEmpty()) {
        ShowWarning(Caption(), "Необходимо выбрать нужное время для удаления его из списка.");
        return;
    }
    delete selected.front();
    // Nothing stays selected, so a second press asks for a new choice.
    lbTime->clearSelection();
    lbTime->setCurrentRow(-1);
}

void TfrmBase::btnSettingClick() {
    TfrmSetting frmSetting(setting_, this);
    frmSetting.exec();
}

void TfrmBase::edBaseFileBrowse() {
    edBaseFileAfterDialog(
        AskFileName(*edBaseFile, FileDialogKind::Open, kBaseFileTitle, kBaseFileFilter));
}

void TfrmBase::edBaseFileAfterDialog(const std::optional<std::string>& chosen) {
    if (!chosen) return;
    if (IsLocalAbsolutePath(*chosen)) {
        if (edBackupDir->Name().empty()) edBackupDir->SetName(platform::ExtractFilePath(*chosen));
        edBaseFile->SetName(*chosen);
    } else {
        edBaseFile->SetName("");
    }
}

void TfrmBase::edBackupDirBrowse() {
    FileDialogRequest r;
    r.kind = FileDialogKind::Folder;
    r.title = kBackupDirTitle;
    r.initialDir = edBackupDir->Name();
    if (auto chosen = FileDialogs().Run(r)) edBackupDir->SetName(*chosen);
}

}  // namespace qm
