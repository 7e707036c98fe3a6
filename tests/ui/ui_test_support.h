// The kit of the window tests: the adapter tests' two machines, plus acting on
// modal windows while they run (they run their jobs in their own event loops).
#pragma once

#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "clients/adapter_test_support.h"

namespace qb::ui {
class Form1;
}

namespace qb::test {

// Ann's Outlook Express identity, and Bob's own older one.
inline const std::string kMain = "{3F1B2E8A-6C1D-4E7B-9A52-0D4C8E7F1A21}";
inline const std::string kOld = "{00000000-1111-2222-3333-444444444444}";
// Outlook Express's Inbox of Ann's identity, below a user's profile folder.
inline const std::string kInbox =
    "Local Settings/Application Data/Identities/" + kMain + "/Microsoft/Outlook Express/Inbox.dbx";

// Runs `step` on every pass of the event loop until it returns true (or `limit`
// passes have gone). The step sees the modal windows that are open then.
class WhileModal {
  public:
    explicit WhileModal(std::function<bool()> step, int limit = 2000000);
    ~WhileModal();
    bool done() const { return done_; }

  private:
    QTimer timer_;
    std::function<bool()> step_;
    int passes_ = 0;
    int limit_;
    bool done_ = false;
};

// The open modal window of class T (nullptr when the top one is another).
template <class T>
T* modal() {
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

// A check list of the windows: one checkable line per name.
void fillCheckList(QListWidget& list, const std::vector<std::string>& names, bool checked = true);

// A click near the left edge, where a check or radio button has its mark.
void click(QWidget* w);
// A click on a tree's or list's entry, scrolled into view first.
void clickEntry(QTreeWidget* tree, QTreeWidgetItem* item);
// The first entry with this text, at any depth; nullptr when there is none.
QTreeWidgetItem* entryLabelled(QTreeWidget* tree, const QString& text);
// The texts of a check list's lines, in order; only the checked ones on request.
std::vector<std::string> lines(const QListWidget* list, bool checkedOnly = false);

class WindowTest : public AdapterTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The program's windows on the current machine with fresh settings, created and
    // FormCreate run (with `openFile` as "/o" gives it); `adjust` then changes the
    // settings before the main window is shown.
    void openMainWindow(const std::function<void(app::Settings&)>& adjust,
                        const std::string& openFile = {});
    void closeWindows();

    // Answers the password window each time it comes up: the text typed into its
    // (empty) field and whether OK (else Cancel) is clicked; notes in boxesBefore
    // how many message boxes were shown before each showing.
    struct Answer {
        std::string typed;
        bool ok;
    };
    std::unique_ptr<WhileModal> answering(std::vector<Answer> answers);

    // Bob's machine, current afterwards, with his own old Outlook Express identity
    // and the backup the program made of Ann's at `as`; the path of the backup on
    // Ann's machine ("" after a failure).
    std::string bobWithAnnsBackup(const std::string& as);
    // The same with a backup the program protected with `password`; Ann's Inbox as
    // it was backed up ("" after a failure).
    std::string bobWithAnnsProtectedBackup(const std::string& password, const std::string& as);

    // Bob's user folders (but for temporary files and automatic backups) and Outlook
    // Express's store setting the same after a restore on each machine; Ann's Inbox
    // among them. The current machine stays current.
    void expectRestoredAlike(const FakeMachine& restored, const FakeMachine& byProgram);

    // Makes D: of the current machine a CD drive.
    void addCdDrive();
    // Fails for every file of the machine that holds `secret` (the registry written
    // out first).
    static void expectNowhereOn(const FakeMachine& m, const std::string& secret);

    ui::Form1* form = nullptr;
    std::vector<size_t> boxesBefore;
};

}  // namespace qb::test
