#include "ui/about_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/artwork.h"

namespace qb::ui {

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
    setObjectName("Form4");
    setWindowTitle("About Quillbox");
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setObjectName("Image1");
    icon->setPixmap(AppIcon().pixmap(64, 64));
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    label1_ = new QLabel("Quillbox", this);
    label1_->setObjectName("Label1");
    QFont big = label1_->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    label1_->setFont(big);
    label2_ = new QLabel("Version " QB_VERSION, this);
    label2_->setObjectName("Label2");
    label2_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label3_ = new QLabel("Backs up and restores the data of your e-mail clients.", this);
    label3_->setObjectName("Label3");
    texts->addWidget(label1_);
    texts->addWidget(label2_);
    texts->addWidget(label3_);
    top->addLayout(texts, 1);
    layout->addLayout(top);
    button1_ = new QPushButton("OK", this);
    button1_->setObjectName("Button1");
    button1_->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button1_);
    layout->addLayout(row);
    connect(button1_, &QPushButton::clicked, this, &TForm4::Button1Click);
    fitTexts();
}

void TForm4::fitTexts() {
    // One line for the description, in whatever language it is.
    label3_->setMinimumWidth(label3_->fontMetrics().horizontalAdvance(label3_->text()) + 8);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setFixedSize(sizeHint());
}

void TForm4::showEvent(QShowEvent* event) {
    fitTexts();
    QDialog::showEvent(event);
}

void TForm4::Button1Click() {
    accept();
}

}  // namespace qb::ui
