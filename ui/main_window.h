#pragma once

#include <QMainWindow>

namespace qm {

class TMoorquill : public QMainWindow {
    Q_OBJECT
public:
    explicit TMoorquill(QWidget* parent = nullptr);
};

}  // namespace qm
