// The running-programs window: the client programs that must close before a job.
#pragma once

#include <QDialog>

namespace qb::ui {

class TForm5 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm5(QWidget* parent = nullptr);
};

}  // namespace qb::ui
