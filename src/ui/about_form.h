// The about window: the program's name and version, and OK.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace qb::ui {

class TForm4 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm4(QWidget* parent = nullptr);

  public slots:
    void Button1Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void fitTexts();

    QLabel* label1_;
    QLabel* label2_;
    QLabel* label3_;
    QPushButton* button1_;
};

}  // namespace qb::ui
