#include "operations/ui/wait_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "operations/ui/qt_interaction.h"

namespace qm {

namespace {

constexpr std::chrono::milliseconds kWaitCycle{100};

// Eight dots on a ring; each frame darkens a different opposite pair, so the
// four frames read as a turning spinner.
QImage DrawStrip() {
    constexpr int n = TAnimatedImage::kFrameCount;
    constexpr int size = TAnimatedImage::kFrameSize;
    QImage strip(n * size, size, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QColor lit(0x1f, 0x4e, 0x9c);
    const QColor trail(0x7f, 0x9f, 0xd0);
    const QColor idle(0xc8, 0xc8, 0xc8);
    for (int f = 0; f < n; ++f) {
        p.save();
        p.translate(f * size + size / 2.0, size / 2.0);
        for (int dot = 0; dot < 8; ++dot) {
            const int phase = dot % n;
            if (phase == f)
                p.setBrush(lit);
            else if (phase == (f + n - 1) % n)
                p.setBrush(trail);
            else
                p.setBrush(idle);
            p.drawEllipse(QPointF(0, -11), 3.5, 3.5);
            p.rotate(45);
        }
        p.restore();
    }
    return strip;
}

// The window the wait window is centred over: the program's main window when
// there is one, else the window of the owner form, else the screen.
QRect CentreReference(QWidget* owner) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && qobject_cast<QMainWindow*>(w) != nullptr) return w->frameGeometry();
    if (owner != nullptr && owner->window()->isVisible()) return owner->window()->frameGeometry();
    if (QScreen* s = QGuiApplication::primaryScreen()) return s->availableGeometry();
    return {};
}

std::unique_ptr<TWaitThread> g_waitThread;

}  // namespace

TAnimatedImage::TAnimatedImage(QWidget* parent)
    : QWidget(parent), strip_(DrawStrip()), timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("AnimatedImage"));
    setFixedSize(kFrameSize, kFrameSize);
    timer_->setInterval(kFrameInterval);
    connect(timer_, &QTimer::timeout, this, &TAnimatedImage::Step);
}

void TAnimatedImage::SetActive(bool active) {
    if (active)
        timer_->start();
    else
        timer_->stop();
}

bool TAnimatedImage::Active() const { return timer_->isActive(); }

void TAnimatedImage::Step() {
    frame_ = (frame_ + 1) % kFrameCount;
    update();
}

void TAnimatedImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(QPoint(0, 0), strip_, QRect(frame_ * kFrameSize, 0, kFrameSize, kFrameSize));
}

TWaitForm::TWaitForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("WaitForm"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(kClientWidth, kClientHeight);
    // The window only reports progress; it must neither keep the program
    // running nor end it.
    setAttribute(Qt::WA_QuitOnClose, false);

    AnimatedImage = new TAnimatedImage(this);
    AnimatedImage->move(8, 16);

    lblInfo = new QLabel(QStringLiteral("lblInfo"), this);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setGeometry(kTextLeft, kTextTop, kClientWidth - kTextLeft - kTextRight,
                         lblInfo->sizeHint().height());
}

void TWaitForm::SetText(const std::string& text) {
    lblInfo->setText(Q(text));
    // The window is as designed, or wider and taller where the text needs it,
    // and keeps its centre.
    const QSize hint = lblInfo->sizeHint();
    lblInfo->resize(std::max(kClientWidth - kTextLeft - kTextRight, hint.width()), hint.height());
    const QSize size(std::max(kClientWidth, kTextLeft + lblInfo->width() + kTextRight),
                     std::max(kClientHeight, kTextTop + hint.height() + kTextTop));
    if (size == this->size()) return;
    const QPoint centre = geometry().center();
    setFixedSize(size);
    move(centre - QPoint(size.width() / 2, size.height() / 2));
}

void TWaitForm::UpdateWaitForm() {
    ++updates_;
    repaint();
    QApplication::processEvents();
}

void TWaitForm::closeEvent(QCloseEvent* event) { event->ignore(); }

// The hand-over between the wait thread and the user-interface thread. A
// request is a queued call on the application object; it carries its own
// reference to this state, so a request still queued after the thread has
// ended finds `stop` set and does nothing.
struct TWaitThread::HandOver {
    std::mutex mutex;
    std::condition_variable cv;
    bool stop = false;
    bool pending = false;
};

namespace {

void Serve(const std::shared_ptr<TWaitThread::HandOver>& h, const QPointer<TWaitForm>& form) {
    {
        std::lock_guard lock(h->mutex);
        if (h->stop || !h->pending) return;
    }
    if (form) form->UpdateWaitForm();
    {
        std::lock_guard lock(h->mutex);
        h->pending = false;
    }
    h->cv.notify_all();
}

}  // namespace

TWaitThread::TWaitThread(QWidget* ownerForm)
    : handOver_(std::make_shared<HandOver>()), owner_(ownerForm) {
    if (owner_) {
        ownerWasDisabled_ = owner_->testAttribute(Qt::WA_ForceDisabled);
        owner_->setEnabled(false);
    }
    form_ = new TWaitForm;
    // Keep the window stacked over the operation dialog without making it a
    // child of the dialog, whose disabling would reach it.
    if (owner_ != nullptr) {
        form_->winId();
        QWindow* over = owner_->window()->windowHandle();
        if (over != nullptr && form_->windowHandle() != nullptr)
            form_->windowHandle()->setTransientParent(over);
    }
    const QRect ref = CentreReference(owner_);
    if (ref.isValid()) form_->move(ref.center() - QPoint(form_->width() / 2, form_->height() / 2));
    form_->AnimatedImage->SetActive(true);
    form_->show();
    thread_ = std::thread([this] { Run(); });
}

TWaitThread::~TWaitThread() {
    {
        std::lock_guard lock(handOver_->mutex);
        handOver_->stop = true;
    }
    handOver_->cv.notify_all();
    thread_.join();
    delete form_.data();
    if (owner_ && !ownerWasDisabled_) owner_->setEnabled(true);
}

bool TWaitThread::RequestPending() const {
    std::lock_guard lock(handOver_->mutex);
    return handOver_->pending;
}

void TWaitThread::Run() {
    const std::shared_ptr<HandOver> h = handOver_;
    const QPointer<TWaitForm> form = form_;
    std::unique_lock lock(h->mutex);
    while (!h->stop) {
        h->pending = true;
        lock.unlock();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [h, form] { Serve(h, form); }, Qt::QueuedConnection);
        lock.lock();
        // The stop request releases this wait too: HideWait need not serve a
        // request that the user-interface thread never got to.
        h->cv.wait(lock, [&] { return h->stop || !h->pending; });
        if (h->stop) break;
        h->cv.wait_for(lock, kWaitCycle, [&] { return h->stop; });
    }
    h->pending = false;
}

void ShowWait(QWidget* form, const std::string& text) {
    HideWait();
    g_waitThread = std::make_unique<TWaitThread>(form);
    g_waitThread->WaitForm()->SetText(text);
    QApplication::processEvents();
}

void HideWait() {
    // Cleared first so that a HideWait reached from the events processed
    // while this one runs finds nothing to do.
    std::unique_ptr<TWaitThread> current = std::move(g_waitThread);
    current.reset();
}

TWaitThread* WaitThread() { return g_waitThread.get(); }

}  // namespace qm
