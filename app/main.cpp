#include "ui/application.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    qm::TApplication app(argc, argv);
    qm::InstallQtInteraction();
    qm::TMoorquill Moorquill;
    Moorquill.show();
    return app.exec();
}
