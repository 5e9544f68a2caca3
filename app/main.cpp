#include "operations/ui/qt_timer.h"
#include "ui/application.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    qm::TApplication app(argc, argv);
    qm::InstallQtInteraction();
    qm::InstallQtTimers();
    qm::TMoorquill Moorquill;
    Moorquill.show();
    return app.exec();
}
