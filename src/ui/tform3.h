// The "Restoring" window: runs one restore of the Restore tab inside its own modal
// loop, into the client or into a folder, shows its progress and the outcome.
#pragma once

#include <string>

#include "ui/progress_window.h"

class QLabel;

namespace qb::ui {

class TForm3 : public ProgressWindow {
    Q_OBJECT
  public:
    explicit TForm3(QWidget* parent = nullptr);

    // What the next showing restores: the backup file, its client, the Restore tab's
    // two check lists (read when the job starts), and the target: the client itself
    // (empty folder) or a folder of the machine.
    void setJob(std::string backupPath, ClientKind kind, const QListWidget* identities,
                const QListWidget* items, bool toFolder, std::string targetFolder);

    // The backup made of the client's data before a direct restore, which undoes
    // it; "" when none was made.
    const std::string& undoFile() const { return undoFile_; }

    QLabel* Label1 = nullptr;  // heading
    QLabel* Label2 = nullptr;  // caption
    QLabel* Label3 = nullptr;  // the backup's path

  public slots:
    void FormShow() override;
    void Timer1Timer() override;
    void Button1Click() override;

  private:
    bool toFolder_ = false;
    std::string targetFolder_;
    std::string undoFile_;
};

}  // namespace qb::ui
