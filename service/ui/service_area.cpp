#include "service/ui/service_area.h"

#include <QAction>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QPalette>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QWidget>
#include <algorithm>

#include "operations/interaction.h"
#include "operations/ui/link_label.h"
#include "operations/ui/qt_interaction.h"
#include "platform/files.h"
#include "service/archiver_service.h"
#include "service/service_control.h"

namespace qm {

namespace {

const QColor kMaroon(128, 0, 0);
const QColor kGreen(0, 128, 0);

const char* const kNotInstalled = "Служба автоархивации не установлена";
const char* const kUnknownState = "Статус службы автоархивации неизвестен";

void SetFontColour(QLabel* label, const QColor& colour) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

QAction* AddItem(QMenu* menu, const char* name, const char* caption) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromUtf8(name));
    return a;
}

}  // namespace

TServiceArea::TServiceArea(QWidget* window) : QObject(window), window_(window) {
    auto* info = new TLinkLabel(QStringLiteral("lblServiceInfo"),
                                QStringLiteral("Журнал событий службы автоархивации :"),
                                QStringLiteral("Обновить журнал и статус службы автоархивации"),
                                window);
    connect(info, &TLinkLabel::clicked, this, [this] { Guarded([this] { pmRefreshServiceClick(); }); });
    lblServiceInfo = info;

    lblServiceStatus = new QLabel(QString::fromUtf8(kUnknownState), window);
    lblServiceStatus->setObjectName(QStringLiteral("lblServiceStatus"));
    lblServiceStatus->setToolTip(QStringLiteral("Текущий статус службы автоархивации"));
    lblServiceStatus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont statusFont = lblServiceStatus->font();
    statusFont.setBold(true);
    lblServiceStatus->setFont(statusFont);
    SetFontColour(lblServiceStatus, kMaroon);
    // Room for the longest of the texts it shows, so that the window's size,
    // fixed before the first refresh, fits every one of them.
    int widest = 0;
    for (std::uint32_t state = kServiceStateUnknown; state <= kServicePaused + 1; ++state) {
        lblServiceStatus->setText(Q(state > kServicePaused ? kNotInstalled : StateText(state)));
        widest = std::max(widest, lblServiceStatus->sizeHint().width());
    }
    lblServiceStatus->setText(QString::fromUtf8(kUnknownState));
    lblServiceStatus->setMinimumWidth(widest);

    MemoLog = new QPlainTextEdit(window);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);
    MemoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette memoPal = MemoLog->palette();
    memoPal.setColor(QPalette::Base, memoPal.color(QPalette::Button));
    MemoLog->setPalette(memoPal);

    ppmService = new QMenu(MemoLog);
    ppmService->setObjectName(QStringLiteral("ppmService"));
    pmInstallService = AddItem(ppmService, "pmInstallService", "Установить службу автоархивации");
    pmUninstallService = AddItem(ppmService, "pmUninstallService", "Удалить службу автоархивации");
    ppmService->addSeparator();
    pmStartService = AddItem(ppmService, "pmStartService", "Запустить службу автоархивации");
    pmStopService = AddItem(ppmService, "pmStopService", "Остановить службу автоархивации");
    ppmService->addSeparator();
    pmRefreshService = AddItem(ppmService, "pmRefreshService", "Обновить журнал и статус службы");

    MemoLog->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(MemoLog, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        ppmService->popup(MemoLog->viewport()->mapToGlobal(pos));
    });

    connect(pmInstallService, &QAction::triggered, this,
            [this] { Guarded([this] { pmInstallServiceClick(); }); });
    connect(pmUninstallService, &QAction::triggered, this,
            [this] { Guarded([this] { pmUninstallServiceClick(); }); });
    connect(pmStartService, &QAction::triggered, this,
            [this] { Guarded([this] { pmStartServiceClick(); }); });
    connect(pmStopService, &QAction::triggered, this,
            [this] { Guarded([this] { pmStopServiceClick(); }); });
    connect(pmRefreshService, &QAction::triggered, this,
            [this] { Guarded([this] { pmRefreshServiceClick(); }); });
}

void TServiceArea::FillServiceMenu(QMenu* mmService) {
    mmInstallService = AddItem(mmService, "mmInstallService", "Установить службу автоархивации");
    mmUninstallService = AddItem(mmService, "mmUninstallService", "Удалить службу автоархивации");
    mmService->addSeparator();
    mmStartService = AddItem(mmService, "mmStartService", "Запустить службу автоархивации");
    mmStopService = AddItem(mmService, "mmStopService", "Остановить службу автоархивации");
    mmService->addSeparator();
    mmRefreshService = AddItem(mmService, "mmRefreshService", "Обновить журнал и статус службы");

    const std::pair<QAction*, QAction*> twins[] = {{mmInstallService, pmInstallService},
                                                   {mmUninstallService, pmUninstallService},
                                                   {mmStartService, pmStartService},
                                                   {mmStopService, pmStopService},
                                                   {mmRefreshService, pmRefreshService}};
    for (const auto& [mm, pm] : twins) mm->setEnabled(pm->isEnabled());
    connect(mmInstallService, &QAction::triggered, this,
            [this] { Guarded([this] { pmInstallServiceClick(); }); });
    connect(mmUninstallService, &QAction::triggered, this,
            [this] { Guarded([this] { pmUninstallServiceClick(); }); });
    connect(mmStartService, &QAction::triggered, this,
            [this] { Guarded([this] { pmStartServiceClick(); }); });
    connect(mmStopService, &QAction::triggered, this,
            [this] { Guarded([this] { pmStopServiceClick(); }); });
    connect(mmRefreshService, &QAction::triggered, this,
            [this] { Guarded([this] { pmRefreshServiceClick(); }); });
}

std::string TServiceArea::StateText(std::uint32_t state) {
    switch (state) {
        case kServiceStopped:
            return "Служба автоархивации остановлена";
        case kServiceStartPending:
            return "Служба автоархивации запускается...";
        case kServiceStopPending:
            return "Служба автоархивации останавливается...";
        case kServiceRunning:
            return "Служба автоархивации работает";
        case kServiceContinuePending:
            return "SERVICE_CONTINUE_PENDING";
        case kServicePausePending:
            return "SERVICE_PAUSE_PENDING";
        case kServicePaused:
            return "Пауза";
        default:
            return kUnknownState;
    }
}

void TServiceArea::ReloadLog() {
    // The log is only a view: nothing that goes wrong here is worth a box.
    try {
        MemoLog->clear();
        // The service holds the file locked while it writes; the view then
        // stays empty until the next refresh.
        auto data = platform::ReadFileDenyWrite(ServiceLogPath());
        if (!data) return;
        QString text = QString::fromLocal8Bit(data->data(), static_cast<qsizetype>(data->size()));
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        // The line break that ends the last line starts no line of its own.
        if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
        MemoLog->setPlainText(text);
        MemoLog->moveCursor(QTextCursor::End);
        MemoLog->ensureCursorVisible();
    } catch (...) {
    }
}

void TServiceArea::RefreshServiceStatus() {
    ReloadLog();

    SetFontColour(lblServiceStatus, kMaroon);
    if (!ServiceExists(kServiceName)) {
        pmInstallService->setEnabled(true);
        pmUninstallService->setEnabled(false);
        pmStartService->setEnabled(false);
        pmStopService->setEnabled(false);
        lblServiceStatus->setText(QString::fromUtf8(kNotInstalled));
    } else {
        pmInstallService->setEnabled(false);
        SERVICE_STATUS status;
        ServiceGetStatus(kServiceName, status);
        const std::uint32_t state = status.dwCurrentState;
        lblServiceStatus->setText(Q(StateText(state)));
        if (state == kServiceRunning) SetFontColour(lblServiceStatus, kGreen);
        pmUninstallService->setEnabled(state == kServiceStopped);
        pmStartService->setEnabled(state != kServiceRunning);
        pmStopService->setEnabled(state == kServiceRunning);
    }

    const std::pair<QAction*, QAction*> twins[] = {{mmInstallService, pmInstallService},
                                                   {mmUninstallService, pmUninstallService},
                                                   {mmStartService, pmStartService},
                                                   {mmStopService, pmStopService}};
    for (const auto& [mm, pm] : twins)
        if (mm != nullptr) mm->setEnabled(pm->isEnabled());
    pmRefreshService->setEnabled(true);
    if (mmRefreshService != nullptr) mmRefreshService->setEnabled(true);
}

void TServiceArea::Report(bool ok, const char* success, const char* failure) {
    if (ok)
        ShowInformation(Caption(), success);
    else
        ShowError(Caption(), failure);
    RefreshServiceStatus();
}

void TServiceArea::pmInstallServiceClick() {
    Report(ServiceInstall(kServiceName, kServiceDisplayName, ServiceExecutablePath(),
                          ServiceDescription()),
           "Служба автоархивации установлена.",
           "Невозможно установить службу. Возможно у вас нет прав администратора.");
}

void TServiceArea::pmUninstallServiceClick() {
    Report(ServiceUninstall(kServiceName), "Служба автоархивации удалена.",
           "Невозможно удалить службу. Возможно у вас нет прав администратора.");
}

void TServiceArea::pmStartServiceClick() {
    Report(ServiceStart(kServiceName), "Служба автоархивации запущена.",
           "Невозможно запустить службу. Возможно у вас нет прав администратора.");
}

void TServiceArea::pmStopServiceClick() {
    Report(ServiceStop(kServiceName), "Служба автоархивации остановлена.",
           "Невозможно остановить службу. Возможно у вас нет прав администратора.");
}

void TServiceArea::pmRefreshServiceClick() { RefreshServiceStatus(); }

bool TServiceArea::FormCloseQuery() {
    SERVICE_STATUS status;
    ServiceGetStatus(kServiceName, status);
    if (status.dwCurrentState == kServiceRunning)
        return AskQuestion(Caption(), "Завершить программу?", MsgIcon::Question, mbNo);
    return AskQuestion(
        Caption(),
        "Служба автоархивации баз данных Firebird не запущенна. Завершить программу всё равно?",
        MsgIcon::Warning, mbYes);
}

std::string TServiceArea::Caption() const {
    QString title = window_->windowTitle();
    return title.isEmpty() ? std::string(kAppTitle) : S(title);
}

}  // namespace qm
