// The backup progress window: runs the backup job and shows its progress and outcome.
#pragma once

#include <QDialog>

namespace qb::ui {

class TForm2 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);
};

}  // namespace qb::ui
