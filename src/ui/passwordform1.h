// The password window: asks for the password of a protected backup file.
#pragma once

#include <QDialog>

namespace qb::ui {

class Tpasswordform1 : public QDialog {
    Q_OBJECT
  public:
    explicit Tpasswordform1(QWidget* parent = nullptr);
};

}  // namespace qb::ui
