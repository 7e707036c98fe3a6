#include "ui/passwordform1.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/backup_run.h"
#include "ui/window_support.h"
#include "ui/windows.h"

namespace qb::ui {

Tpasswordform1::Tpasswordform1(QWidget* parent) : QDialog(parent) {
    setObjectName("passwordform1");
    setWindowTitle("Password ...");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    Label1 = new QLabel("Backup password:", this);
    Label1->setObjectName("Label1");
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setEchoMode(QLineEdit::Password);
    Edit1->setMinimumWidth(177);
    Label1->setBuddy(Edit1);
    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Button2 = new QPushButton("Cancel", this);
    Button2->setObjectName("Button2");

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->addWidget(Label1, 0, 0);
    layout->addWidget(Edit1, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addStretch();
    layout->addLayout(buttons, 1, 0, 1, 2);
    setMinimumSize(289, 105);
    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, &Tpasswordform1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tpasswordform1::Button2Click);
}

void Tpasswordform1::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void Tpasswordform1::FormShow() {
    setWindowTitle("Password");
    CentreOnMainWindow(*this);
    Edit1->clear();
    Label1->setText("Password:");
    Edit1->setFocus();
}

void Tpasswordform1::Button1Click() {
    accept();
}

void Tpasswordform1::Button2Click() {
    Edit1->clear();
    reject();
}

std::optional<std::string> AskBackupPassword(bool wrongBefore) {
    Tpasswordform1* window = windows().passwordform1;
    if (!window) return std::nullopt;
    if (wrongBefore) Refuse(app::MessageText("Message6"));
    const bool answered = window->exec() == QDialog::Accepted;
    std::optional<std::string> password;
    if (answered) password = S(window->Edit1->text());
    window->Edit1->clear();
    return password;
}

}  // namespace qb::ui
