#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "platform/termination.h"

namespace qm {

class IMessageBoxes;
class TMoorquill;

// What the program does when the system asks it to end (Ctrl+C at the
// terminal, the end of the session, a polite kill):
// - while an operation runs, it lets the operation end (the wait window says
//   so) and then goes on as below;
// - open dialogs and boxes are closed as cancelled, then the main window
//   closes as "Выход" closes it: with the close query for an Interrupt, which
//   the user may answer No; without it when the session ends, and then every
//   box the program would still show is answered as if closed unanswered.
class TTerminationHandler : public QObject {
    Q_OBJECT
public:
    explicit TTerminationHandler(TMoorquill& window);
    ~TTerminationHandler() override;

    // Serves a request on the user-interface thread; callable from any
    // thread, also before the handler exists (the request is then served
    // when it does).
    static void Request(platform::TerminationRequest request);
    // From now on requests from other threads are dropped: the application
    // object is about to go.
    static void StopForwarding();

    // The line the wait window shows below its text once a request waits for
    // the operation to end.
    static constexpr const char* kWaitNote = "Программа будет закрыта после завершения операции.";

private:
    void Serve(platform::TerminationRequest request);
    void Step();

    TMoorquill& window_;
    QTimer retry_;
    bool pending_ = false;
    bool sessionEnds_ = false;
    std::unique_ptr<IMessageBoxes> unanswered_;
};

}  // namespace qm
