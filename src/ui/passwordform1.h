// The password window: one hidden-text field with OK and Cancel. OK accepts the
// window, Cancel (or closing it) rejects it and empties the field, so a password
// typed and then cancelled is never tried.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

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

// Asks for the password of a protected backup in the program's password window,
// shown modally; after a wrong answer (`wrongBefore`) says so with "Message6"
// first. Nothing when the user cancels. The field is emptied again before this
// returns, so the password lives only in the caller's hands.
std::optional<std::string> AskBackupPassword(bool wrongBefore);

}  // namespace qb::ui
