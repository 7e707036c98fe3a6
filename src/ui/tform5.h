// "Active windows...": lists the windows of a running e-mail client before a backup
// or restore and lets the person look again (OK), end the client ("Close all") or
// give up (Cancel). While it exists it is the program's dialog for that question.
#pragma once

#include <QDialog>

#include "support/running_check.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace qb::ui {

class TForm5 : public QDialog, public CloseProgramsDialog {
    Q_OBJECT
  public:
    explicit TForm5(QWidget* parent = nullptr);
    ~TForm5() override;

    // Shows the windows modally; the button pressed, Cancel for the window's frame.
    CloseChoice show(const std::vector<std::string>& windows, bool showWait) override;

    QLabel* Label1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;

  public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();

  private:
    void finish(CloseChoice choice);

    CloseProgramsDialog* previous_ = nullptr;
    CloseChoice choice_ = CloseChoice::Cancel;
};

}  // namespace qb::ui
