// The restore progress window: runs the restore job and shows its progress and outcome.
#pragma once

#include <QDialog>

namespace qb::ui {

class TForm3 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm3(QWidget* parent = nullptr);
};

}  // namespace qb::ui
