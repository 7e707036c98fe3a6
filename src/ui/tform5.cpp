#include "ui/tform5.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/window_support.h"

namespace qb::ui {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setObjectName("Form5");
    setWindowTitle("Active windows...");
    setModal(true);

    Label1 = new QLabel("To backup you must close these programs:", this);
    Label1->setObjectName("Label1");
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    Label1->setBuddy(ListBox1);
    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Button2 = new QPushButton("Wait 5 minutes", this);
    Button2->setObjectName("Button2");
    Button2->hide();
    Button3 = new QPushButton("Close all", this);
    Button3->setObjectName("Button3");
    Button4 = new QPushButton("Cancel", this);
    Button4->setObjectName("Button4");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {Button1, Button2, Button3, Button4}) {
        b->setMinimumWidth(90);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(ListBox1);
    layout->addLayout(buttons);
    setMinimumSize(440, 260);
    setTabOrder(ListBox1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);

    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm5::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm5::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm5::Button4Click);
    previous_ = setCloseProgramsDialog(this);
}

TForm5::~TForm5() {
    if (&closeProgramsDialog() == this) setCloseProgramsDialog(previous_);
}

CloseChoice TForm5::show(const std::vector<std::string>& windows, bool showWait) {
    ListBox1->clear();
    for (const std::string& w : windows)
        ListBox1->addItem(Q(w));
    if (ListBox1->count() > 0) ListBox1->setCurrentRow(0);
    Button2->setVisible(showWait);
    choice_ = CloseChoice::Cancel;
    CentreOnMainWindow(*this);
    Button1->setFocus();
    exec();
    ListBox1->clear();
    return choice_;
}

void TForm5::Button1Click() {
    finish(CloseChoice::Ok);
}

void TForm5::Button2Click() {
    finish(CloseChoice::Wait);
}

void TForm5::Button3Click() {
    finish(CloseChoice::CloseAll);
}

void TForm5::Button4Click() {
    finish(CloseChoice::Cancel);
}

void TForm5::finish(CloseChoice choice) {
    choice_ = choice;
    if (choice == CloseChoice::Cancel)
        reject();
    else
        accept();
}

}  // namespace qb::ui
