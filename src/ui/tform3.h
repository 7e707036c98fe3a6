// The "Restoring" window: runs one restore of the Restore tab inside its own modal
// loop, into the client or into a folder, shows its progress and the outcome.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "catalog/client_kind.h"
#include "jobs/job_progress.h"

class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qb::ui {

class TForm3 : public QDialog, private jobs::JobProgress {
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

    bool succeeded() const { return succeeded_; }
    bool running() const { return running_; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QTimer* Timer1 = nullptr;

  public slots:
    void FormShow();
    void Timer1Timer();
    void Button1Click();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void progress(int overall, int item, std::string_view label) override;
    void setHeading(const QString& text, bool red);

    std::string backupPath_;
    ClientKind kind_ = kind::None;
    const QListWidget* identities_ = nullptr;
    const QListWidget* items_ = nullptr;
    bool toFolder_ = false;
    std::string targetFolder_;
    bool running_ = false;
    bool closeWhenDone_ = false;
    bool succeeded_ = false;
    std::string undoFile_;
};

}  // namespace qb::ui
