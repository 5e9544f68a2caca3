#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QHBoxLayout>

#include "operations/interaction.h"
#include "operations/leftovers.h"
#include "operations/ui/qt_interaction.h"
#include "platform/exe_version.h"
#include "platform/paths.h"
#include "operations/ui/backup_dialog.h"
#include "operations/ui/optimization_dialog.h"
#include "operations/ui/restore_dialog.h"
#include "operations/ui/script_dialog.h"
#include "operations/ui/validation_dialog.h"
#include "service/ui/service_area.h"
#include "ui/base_editor.h"
#include "ui/application.h"
#include "operations/ui/link_label.h"
#include "operations/ui/operation_dialog.h"
#include "operations/ui/window_size.h"
#include "ui/setting_dialog.h"

namespace qm {

namespace {

TFirebirdBase* BaseOf(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<TFirebirdBase*>(item->data(0, Qt::UserRole).value<quintptr>())
                : nullptr;
}

}  // namespace

TMoorquill::TMoorquill(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Moorquill"));
    setWindowTitle(QString::fromUtf8(kCaption));
    // A fixed single border: minimise, no maximise.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 0);

    lblAddBase = new TLinkLabel(QStringLiteral("lblAddBase"),
                                QStringLiteral("Зарегистрированный базы данных :"),
                                QStringLiteral("Зарегистрировать новую базу данных"), central);
    layout->addWidget(lblAddBase, 0, Qt::AlignLeft);

    lvBase = new QTreeWidget(central);
    lvBase->setObjectName(QStringLiteral("lvBase"));
    lvBase->setColumnCount(2);
    lvBase->setHeaderLabels({QStringLiteral("Название базы"), QStringLiteral("Файл базы данных")});
    lvBase->setColumnWidth(0, 170);
    lvBase->setColumnWidth(1, 520);
    lvBase->setRootIsDecorated(false);
    lvBase->setSelectionMode(QAbstractItemView::SingleSelection);
    lvBase->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvBase->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvBase->setContextMenuPolicy(Qt::CustomContextMenu);
    // The selection stays visible when the list loses the focus.
    QPalette pal = lvBase->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    lvBase->setPalette(pal);
    layout->addWidget(lvBase, 3);

    serviceArea_ = new TServiceArea(this);
    auto* serviceRow = new QHBoxLayout;
    serviceRow->addWidget(serviceArea_->lblServiceInfo, 0, Qt::AlignLeft);
    serviceRow->addStretch(1);
    serviceRow->addWidget(serviceArea_->lblServiceStatus, 0, Qt::AlignRight);
    layout->addLayout(serviceRow);
    layout->addWidget(serviceArea_->MemoLog, 2);
    setCentralWidget(central);

    statusVersion_ = new QLabel(QStringLiteral("версия :"), this);
    statusVersion_->setObjectName(QStringLiteral("StatusPanel0"));
    statusVersion_->setMinimumWidth(150);
    statusVersion_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    statusAddress_ = new QLabel(QString::fromUtf8(kMakerAddress), this);
    statusAddress_->setObjectName(QStringLiteral("StatusPanel1"));
    statusAddress_->setMinimumWidth(200);
    statusAddress_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setCursor(Qt::PointingHandCursor);
    statusServer_ = new QLabel(this);
    statusServer_->setObjectName(QStringLiteral("StatusPanel2"));
    statusServer_->setMinimumWidth(1);
    statusBar()->addWidget(statusVersion_);
    statusBar()->addWidget(statusAddress_);
    statusBar()->addWidget(statusServer_, 1);
    statusBar()->installEventFilter(this);
    lvBase->installEventFilter(this);
    statusVersion_->installEventFilter(this);
    statusAddress_->installEventFilter(this);

    BuildMenus();

    connect(lblAddBase, &TLinkLabel::clicked, this, [this] { Guarded([this] { pmAddBaseClick(); }); });
    connect(lvBase, &QTreeWidget::itemClicked, this, [this] { Guarded([this] { lvBaseClick(); }); });
    // A check box toggled from the keyboard is a change like a click on it.
    connect(lvBase, &QTreeWidget::itemChanged, this, [this] {
        if (!filling_) Guarded([this] { lvBaseClick(); });
    });
    connect(lvBase, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ppmBase->popup(lvBase->viewport()->mapToGlobal(pos)); });

    // The client area is 714 x 492 (more where the texts need it); the menu
    // bar comes on top of it.
    FixWindowSize(this, 714, 492 + menuBar()->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // FormCreate: the data module, the settings, the register, the list.
    Setting_ = std::make_unique<TSetting>(false);
    dm_ = std::make_unique<Tdm>(&component_, *Setting_);
    Setting_->Load();
    BaseList_ = std::make_unique<TFirebirdBaseList>(true);
    FillBaseList();
}

TMoorquill::~TMoorquill() {
    alive_.reset();
    if (serverProbe_.joinable()) serverProbe_.join();
}

std::string TMoorquill::ServerStatusText(const TServerProbe& probe, std::string* tip) {
    if (probe.Route.IsEmbedded()) {
        if (!probe.Error.empty()) {
            *tip = probe.Error;
            return "Клиентская библиотека Firebird не загружена";
        }
        *tip = "Сервер Firebird " + probe.Asked +
               " не отвечает: базы данных открывает встроенный сервер программы.";
        return "Встроенный сервер Firebird";
    }
    const std::string name = "Сервер Firebird " + probe.Route.ServerName();
    if (!probe.Error.empty()) {
        *tip = probe.Error;
        return name + ": ошибка подключения";
    }
    *tip = name + ": " + probe.Version;
    return name + ": " + probe.Version;
}

void TMoorquill::RefreshServerStatus() {
    if (probing_) {
        probeAgain_ = true;
        return;
    }
    probing_ = true;
    if (serverProbe_.joinable()) serverProbe_.join();
    const std::string server = Setting_->Server;
    const std::string library = Setting_->LibraryName;
    const std::string password = Setting_->SYSDBAPassword;
    std::weak_ptr<bool> alive = alive_;
    serverProbe_ = std::thread([this, server, library, password, alive] {
        const TServerProbe probe = ProbeServerRoute(server, library, password, true);
        QMetaObject::invokeMethod(
            qApp,
            [this, alive, probe] {
                if (alive.lock()) ShowServerStatus(probe);
            },
            Qt::QueuedConnection);
    });
}

void TMoorquill::CleanLeftovers() {
    std::vector<TLeftover> leftovers = FindLeftovers(*BaseList_);
    if (leftovers.empty()) return;
    std::string text;
    for (const std::string& line : GiveBackDatabases(leftovers)) text += line + "\n";
    std::string garbage;
    for (const TLeftover& l : leftovers)
        if (l.kind != TLeftover::Kind::Aside && !l.path.empty()) garbage += l.path + "\n";
    if (garbage.empty()) {
        ShowWarning(kCaption, text);
        return;
    }
    if (!text.empty()) text += "\n";
    text += "Найдены файлы, оставшиеся от прерванного восстановления или оптимизации базы "
            "данных:\n" +
            garbage + "Удалить их?";
    if (!AskQuestion(kCaption, text, MsgIcon::Warning)) return;
    std::string failures;
    for (const std::string& line : RemoveLeftovers(leftovers)) failures += line + "\n";
    if (!failures.empty()) ShowError(kCaption, failures);
}

void TMoorquill::ShowServerStatus(const TServerProbe& probe) {
    probing_ = false;
    std::string tip;
    const QString text = Q(" " + ServerStatusText(probe, &tip));
    statusServer_->setText(
        statusServer_->fontMetrics().elidedText(text, Qt::ElideRight, statusServer_->width()));
    statusServer_->setToolTip(Q(tip));
    if (probeAgain_) {
        probeAgain_ = false;
        RefreshServerStatus();
    }
}

void TMoorquill::BuildMenus() {
    struct Item {
        const char* name;
        const char* caption;
        void (TMoorquill::*handler)();
    };
    auto add = [this](QMenu* menu, const Item& it) {
        if (it.name == nullptr) {
            menu->addSeparator();
            return;
        }
        QAction* a = menu->addAction(QString::fromUtf8(it.caption));
        a->setObjectName(QString::fromUtf8(it.name));
        auto handler = it.handler;
        connect(a, &QAction::triggered, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };

    const Item contextItems[] = {
        {"pmAddBase", "Зарегистрировать новую базу данных", &TMoorquill::pmAddBaseClick},
        {"pmEditBase", "Редактировать базу данных", &TMoorquill::pmEditBaseClick},
        {"pmDelBase", "Удалить зарегистрированную базу", &TMoorquill::pmDelBaseClick},
        {nullptr, nullptr, nullptr},
        {"pmBackupBase", "Архивация базы данных", &TMoorquill::pmBackupBaseClick},
        {"pmRestoreBase", "Востановить базу данных из архива", &TMoorquill::pmRestoreBaseClick},
        {"pmValidationBase", "Проверка базы данных на ошибки", &TMoorquill::pmValidationBaseClick},
        {"pmOptimizationBase", "Оптимизация работы базы данных",
         &TMoorquill::pmOptimizationBaseClick},
        {"pmScriptBase", "Выполнить скрипт для базы данных", &TMoorquill::pmScriptBaseClick},
        {nullptr, nullptr, nullptr},
        {"pmSetting", "Настройки сервера Firebird", &TMoorquill::pmSettingClick},
    };
    ppmBase = new QMenu(this);
    ppmBase->setObjectName(QStringLiteral("ppmBase"));
    for (const Item& it : contextItems) add(ppmBase, it);

    const Item mainItems[] = {
        {"mmAddBase", "Зарегистрировать базу данных", &TMoorquill::pmAddBaseClick},
        {"mmEditBase", "Редактировать базу данных", &TMoorquill::pmEditBaseClick},
        {"mmDelBase", "Удалить зарегистрированную базу", &TMoorquill::pmDelBaseClick},
        {nullptr, nullptr, nullptr},
        {"mmBackupBase", "Архивация базы данных", &TMoorquill::pmBackupBaseClick},
        {"mmRestoreBase", "Востановить базу данных из архива", &TMoorquill::pmRestoreBaseClick},
        {"mmValidationBase", "Проверка базы данных на ошибки", &TMoorquill::pmValidationBaseClick},
        {"mmOptimizationBase", "Оптимизация работы базы данных",
         &TMoorquill::pmOptimizationBaseClick},
        {"mmScriptBase", "Выполнить скрипт для базы данных", &TMoorquill::pmScriptBaseClick},
        {nullptr, nullptr, nullptr},
        {"mmSetting", "Настройки сервера Firebird", &TMoorquill::pmSettingClick},
        {nullptr, nullptr, nullptr},
        {"mmExit", "Выход", &TMoorquill::mmExitClick},
    };
    menuBar()->setObjectName(QStringLiteral("MainMenu"));
    QMenu* mmBase = menuBar()->addMenu(QStringLiteral("Бзаз данных"));
    mmBase->setObjectName(QStringLiteral("mmBase"));
    for (const Item& it : mainItems) add(mmBase, it);

    QMenu* mmService = menuBar()->addMenu(QStringLiteral("Служба"));
    mmService->setObjectName(QStringLiteral("mmService"));
    serviceArea_->FillServiceMenu(mmService);
}

void TMoorquill::ShowBaseInList(TFirebirdBase* base, bool isNew, bool select) {
    QTreeWidgetItem* item;
    if (isNew) {
        base->Number = lvBase->topLevelItemCount();
        item = new QTreeWidgetItem(lvBase);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    } else {
        const auto selected = lvBase->selectedItems();
        if (selected.isEmpty()) return;
        item = selected.front();
    }
    filling_ = true;
    item->setCheckState(0, base->Active ? Qt::Checked : Qt::Unchecked);
    item->setText(0, Q(base->Description));
    item->setText(1, Q(base->DBFile));
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(base)));
    filling_ = false;
    if (select) {
        lvBase->setCurrentItem(item);
        item->setSelected(true);
    }
}

void TMoorquill::FillBaseList() {
    lvBase->clear();
    for (std::size_t i = 0; i < BaseList_->Count(); ++i) ShowBaseInList((*BaseList_)[i], true, false);
}

TFirebirdBase* TMoorquill::SelectedBase() const {
    const auto selected = lvBase->selectedItems();
    return selected.isEmpty() ? nullptr : BaseOf(selected.front());
}

void TMoorquill::AdoptBase(std::unique_ptr<TFirebirdBase> base) { adopted_.push_back(std::move(base)); }

void TMoorquill::lvBaseClick() {
    const auto selected = lvBase->selectedItems();
    if (selected.isEmpty()) return;
    TFirebirdBase* base = BaseOf(selected.front());
    if (base == nullptr) return;
    bool checked = selected.front()->checkState(0) == Qt::Checked;
    if (checked == base->Active) return;
    base->Active = checked;
    TFirebirdBaseList::SaveFirebirdBase(*base);
}

TFirebirdBase* TMoorquill::RequireSelection(const char* warning) {
    TFirebirdBase* base = SelectedBase();
    if (base == nullptr) ShowWarning(kCaption, warning);
    return base;
}

void TMoorquill::pmAddBaseClick() {
    TfrmBase frmBase(*this, *dm_, *Setting_, this);
    auto base = std::make_unique<TFirebirdBase>();
    frmBase.Base = base.get();
    frmBase.IsEdit = false;
    frmBase.setWindowTitle(QStringLiteral("Зарегистрировать базу данных"));
    // On OK the record is already shown as the new item; the window keeps it.
    if (frmBase.exec() == QDialog::Accepted) AdoptBase(std::move(base));
}

void TMoorquill::pmEditBaseClick() {
    TFirebirdBase* base = RequireSelection("Выделите базу для редактирования.");
    if (base == nullptr) return;
    TfrmBase frmBase(*this, *dm_, *Setting_, this);
    frmBase.Base = base;
    frmBase.IsEdit = true;
    frmBase.setWindowTitle("Редактировать базу данных: " + Q(base->Description));
    frmBase.BaseToControls();
    frmBase.exec();
}

void TMoorquill::pmDelBaseClick() {
    const auto selected = lvBase->selectedItems();
    if (selected.isEmpty()) {
        ShowWarning(kCaption, "Выделите базу для удаления.");
        return;
    }
    std::string question =
        "Удалить зарегистрированную базу \"" + S(selected.front()->text(0)) + "\"?";
    if (!AskQuestion(kCaption, question)) return;
    DeleteBase(selected.front());
}

void TMoorquill::DeleteBase(QTreeWidgetItem* item) {
    // The new register is written before anything in memory changes, and in
    // one replace of the file: a failure or a crash leaves the old register.
    std::vector<TFirebirdBase*> rest;
    for (int i = 0; i < lvBase->topLevelItemCount(); ++i) {
        QTreeWidgetItem* it = lvBase->topLevelItem(i);
        if (it != item) rest.push_back(BaseOf(it));
    }
    if (!TFirebirdBaseList::RebuildListFile(rest)) {
        ShowWarning(kCaption, "Нет доступа к файлу конфигурации: Quillmoor.bse");
        return;
    }
    lvBase->clear();
    BaseList_->Load();
    adopted_.clear();
    FillBaseList();
}

void TMoorquill::pmBackupBaseClick() {
    TFirebirdBase* base = RequireSelection("Выделите базу для архивации.");
    if (base == nullptr) return;
    TfrmBackupBase frmBackupBase(*base, *dm_, this);
    frmBackupBase.exec();
    RefreshServerStatus();
}

void TMoorquill::pmRestoreBaseClick() {
    TfrmRestoreBase frmRestoreBase(SelectedBase(), *dm_, this);
    frmRestoreBase.exec();
    RefreshServerStatus();
}

void TMoorquill::pmValidationBaseClick() {
    TFirebirdBase* base = RequireSelection("Выделите базу для проверки.");
    if (base == nullptr) return;
    TfrmValidationBase frmValidationBase(*base, *dm_, this);
    frmValidationBase.exec();
    RefreshServerStatus();
}

void TMoorquill::pmOptimizationBaseClick() {
    TFirebirdBase* base = RequireSelection("Выделите базу для оптимизации.");
    if (base == nullptr) return;
    TfrmOptimizationBase frmOptimizationBase(*base, *dm_, this);
    frmOptimizationBase.exec();
    RefreshServerStatus();
}

void TMoorquill::pmScriptBaseClick() {
    TFirebirdBase* base = RequireSelection("Выделите базу для выполнения скрипта.");
    if (base == nullptr) return;
    TfrmScriptBase frmScriptBase(*base, *dm_, this);
    frmScriptBase.exec();
    RefreshServerStatus();
}

void TMoorquill::pmSettingClick() {
    TfrmSetting frmSetting(*Setting_, this);
    frmSetting.exec();
    RefreshServerStatus();
}

void TMoorquill::mmExitClick() { close(); }

void TMoorquill::StatusBarClick() {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kMakerAddress).trimmed()));
}

std::string TMoorquill::GetVersionText(const std::string& exePath) {
    auto v = platform::ExecutableFileVersion(exePath);
    if (!v) return "0.0.0.0";
    return std::to_string((*v)[0]) + "." + std::to_string((*v)[1]) + "." +
           std::to_string((*v)[2]) + "." + std::to_string((*v)[3]);
}

void TMoorquill::RefreshServiceStatus() { serviceArea_->RefreshServiceStatus(); }

void TMoorquill::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    statusVersion_->setText(" версия : " + Q(GetVersionText(platform::ExecutablePath())));
    Guarded([this] { RefreshServiceStatus(); });
    RefreshServerStatus();
    Guarded([this] { CleanLeftovers(); });
}

void TMoorquill::CloseWithoutQuery() {
    withoutQuery_ = true;
    close();
    withoutQuery_ = false;
}

void TMoorquill::closeEvent(QCloseEvent* event) {
    // A running operation and an open dialog work on dm, Setting and BaseList,
    // which the close destroys.
    if (OperationRunning() || QApplication::activeModalWidget() != nullptr) {
        event->ignore();
        return;
    }
    if (!withoutQuery_ && !serviceArea_->FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TMoorquill::FormClose() {
    dm_.reset();
    lvBase->clear();
    adopted_.clear();
    BaseList_.reset();
    Setting_.reset();
}

bool TMoorquill::eventFilter(QObject* watched, QEvent* event) {
    // Space toggles the check box of the current database whichever column
    // holds the focus mark.
    if (watched == lvBase && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        if (QTreeWidgetItem* item = lvBase->currentItem()) {
            item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        (watched == statusVersion_ || watched == statusAddress_ || watched == statusBar())) {
        StatusBarClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace qm
