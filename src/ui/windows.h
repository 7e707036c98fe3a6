// The program's windows, created once at start-up in this order: the main window
// (Form1), the backup progress window (TForm2), the restore progress window
// (TForm3), the password window (Tpasswordform1), the running-programs window
// (TForm5), and the about window (TForm4). The dialogs are top-level windows
// (no parent) so each is a section of its own in the language file; they are
// destroyed with the Windows object.
#pragma once

#include <QList>
#include <memory>

class QWidget;

namespace qb::ui {

class Form1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class Tpasswordform1;

struct Windows {
    Form1* form1 = nullptr;
    TForm2* form2 = nullptr;
    TForm3* form3 = nullptr;
    Tpasswordform1* passwordform1 = nullptr;
    TForm5* form5 = nullptr;
    TForm4* form4 = nullptr;

    // Every window, in creation order: what the language file applies to.
    QList<QWidget*> all() const;
};

// The windows of the run; all null before CreateWindows.
Windows& windows();

// Creates the windows in start-up order (a QApplication must exist) and records
// each translatable widget's design text, so a language switch can start from it.
// Does not run Form1::FormCreate.
void CreateWindows();
// Deletes them, in reverse order.
void DestroyWindows();

}  // namespace qb::ui
