#include "ui/tform2.h"

namespace qb::ui {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName("Form2");
}

}  // namespace qb::ui
