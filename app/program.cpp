#include "app/program.h"

#include <cstdio>
#include <cstdlib>

#include "operations/ui/qt_timer.h"
#include "platform/termination.h"
#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/termination.h"

namespace qm {

void RunProgram(int argc, char** argv, const std::function<void(TMoorquill&)>& prepare) {
    platform::InterceptTerminationRequests(&TTerminationHandler::Request);
    int exitCode = 0;
    {
        TApplication app(argc, argv);
        InstallQtInteraction();
        InstallQtTimers();
        TMoorquill Moorquill;
        TTerminationHandler termination(Moorquill);
        if (prepare) prepare(Moorquill);
        Moorquill.show();
        exitCode = app.exec();
        TTerminationHandler::StopForwarding();
    }
    EndProcess(exitCode);
}

void EndProcess(int exitCode) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace qm
