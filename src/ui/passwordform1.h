// The password window: one hidden-text field with OK and Cancel. Neither button
// sets a result; the caller reads the text left in the field.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qb::ui {

class Tpasswordform1 : public QDialog {
    Q_OBJECT
  public:
    explicit Tpasswordform1(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

  public slots:
    void FormShow();
    void Button1Click();
    void Button2Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
};

}  // namespace qb::ui
