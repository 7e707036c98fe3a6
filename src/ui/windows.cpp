#include "ui/windows.h"

#include <QLabel>

#include "ui/about_form.h"
#include "ui/form1.h"
#include "ui/lng_ini_supp.h"
#include "ui/passwordform1.h"
#include "ui/tform2.h"
#include "ui/tform3.h"
#include "ui/tform5.h"

namespace qb::ui {

QList<QWidget*> Windows::all() const {
    QList<QWidget*> list;
    for (QWidget* w :
         std::initializer_list<QWidget*>{form1, form2, form3, passwordform1, form5, form4})
        if (w) list.append(w);
    return list;
}

Windows& windows() {
    static Windows w;
    return w;
}

void CreateWindows() {
    Windows& w = windows();
    w.form1 = new Form1;
    w.form2 = new TForm2;
    w.form3 = new TForm3;
    w.passwordform1 = new Tpasswordform1;
    w.form5 = new TForm5;
    w.form4 = new TForm4;
    for (QWidget* window : w.all()) {
        RecordDesignTexts(*window);
        // Labels show names and paths read from backup files and language files:
        // never as markup, so a name that looks like HTML reads as it is.
        for (QLabel* label : window->findChildren<QLabel*>())
            label->setTextFormat(Qt::PlainText);
    }
}

void DestroyWindows() {
    Windows& w = windows();
    delete w.form4;
    delete w.form5;
    delete w.passwordform1;
    delete w.form3;
    delete w.form2;
    delete w.form1;
    w = Windows{};
}

}  // namespace qb::ui
