#include "ui/tform3.h"

namespace qb::ui {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("Form3");
}

}  // namespace qb::ui
