#include "ui/termination.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <mutex>
#include <optional>

#include "operations/interaction.h"
#include "operations/ui/operation_dialog.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/wait_window.h"
#include "ui/main_window.h"

namespace qm {

namespace {

// Every box answered as if it had been closed without a button.
class UnansweredBoxes final : public IMessageBoxes {
public:
    MsgButton Show(const MessageRequest& r) override {
        if (r.buttons & mbNo) return mbNo;
        if (r.buttons & mbCancel) return mbCancel;
        return mbOK;
    }
};

// The hand-over from the thread that receives the requests: the handler to
// serve them, or the request that came before there was one.
std::mutex g_lock;
TTerminationHandler* g_handler = nullptr;
std::optional<platform::TerminationRequest> g_early;
bool g_stopped = false;

}  // namespace

TTerminationHandler::TTerminationHandler(TMoorquill& window) : window_(window) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { Step(); });
    std::optional<platform::TerminationRequest> early;
    {
        const std::lock_guard lock(g_lock);
        g_handler = this;
        early.swap(g_early);
    }
    if (early) QTimer::singleShot(0, this, [this, r = *early] { Serve(r); });
}

TTerminationHandler::~TTerminationHandler() {
    {
        const std::lock_guard lock(g_lock);
        if (g_handler == this) g_handler = nullptr;
    }
    if (unanswered_) InstallMessageBoxes(nullptr);
}

void TTerminationHandler::Request(platform::TerminationRequest request) {
    const std::lock_guard lock(g_lock);
    if (g_stopped) return;
    if (g_handler == nullptr) {
        // The session end outweighs an interrupt.
        if (!g_early || request == platform::TerminationRequest::SessionEnd) g_early = request;
        return;
    }
    // Queued, also on the user-interface thread: a request is served between
    // two events, never inside whatever runs.
    TTerminationHandler* handler = g_handler;
    QMetaObject::invokeMethod(
        handler, [handler, request] { handler->Serve(request); }, Qt::QueuedConnection);
}

void TTerminationHandler::StopForwarding() {
    const std::lock_guard lock(g_lock);
    g_stopped = true;
}

void TTerminationHandler::Serve(platform::TerminationRequest request) {
    if (request == platform::TerminationRequest::SessionEnd && !sessionEnds_) {
        sessionEnds_ = true;
        unanswered_ = std::make_unique<UnansweredBoxes>();
        InstallMessageBoxes(unanswered_.get());
    }
    if (!pending_ && OperationRunning()) {
        if (TWaitThread* wait = WaitThread()) {
            QLabel* info = wait->WaitForm()->lblInfo;
            wait->WaitForm()->SetText(S(info->text()) + "\n" + kWaitNote);
        }
    }
    pending_ = true;
    Step();
}

void TTerminationHandler::Step() {
    if (!pending_) return;
    // Whatever an operation made must be finished or removed by it; the
    // operation's own end is the safe point.
    if (OperationRunning()) {
        retry_.start(100);
        return;
    }
    // A dialog's loop ends only when control returns to it; the next step
    // runs from the loop outside it.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        retry_.start(0);
        return;
    }
    pending_ = false;
    if (sessionEnds_)
        window_.CloseWithoutQuery();
    else
        window_.close();
}

}  // namespace qm
