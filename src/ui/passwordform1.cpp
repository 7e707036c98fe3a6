#include "ui/passwordform1.h"

namespace qb::ui {

Tpasswordform1::Tpasswordform1(QWidget* parent) : QDialog(parent) {
    setObjectName("passwordform1");
}

}  // namespace qb::ui
