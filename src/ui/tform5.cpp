#include "ui/tform5.h"

namespace qb::ui {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setObjectName("Form5");
}

}  // namespace qb::ui
