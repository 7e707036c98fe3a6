// The "Backing Up" window: runs one backup of the Backup tab inside its own modal
// loop, moves its bar with the job's progress, lets the person abort and shows the
// outcome, with a way to the backup's folder.
#pragma once

#include <string>

#include "ui/progress_window.h"

class QLabel;
class QPushButton;

namespace qb::ui {

class TForm2 : public ProgressWindow {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);

    // What the next showing backs up: the file, the client and the Backup tab's two
    // check lists, read when the job starts.
    void setJob(std::string backupPath, ClientKind kind, const QListWidget* identities,
                const QListWidget* items);

    QLabel* Label1 = nullptr;  // caption
    QLabel* Label2 = nullptr;  // the backup's path
    QLabel* Label3 = nullptr;  // heading
    QPushButton* Button2 = nullptr;

  public slots:
    void FormShow() override;
    void Timer1Timer() override;
    void Button1Click() override;
    void Button2Click();
};

}  // namespace qb::ui
