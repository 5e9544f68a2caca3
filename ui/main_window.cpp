#include "ui/main_window.h"

namespace qm {

TMoorquill::TMoorquill(QWidget* parent) : QMainWindow(parent) {}

}  // namespace qm
