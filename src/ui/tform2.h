// The "Backing Up" window: runs one backup of the Backup tab inside its own modal
// loop, moves its bar with the job's progress, lets the person abort and shows the
// outcome, with a way to the backup's folder.
#pragma once

#include <QDialog>

#include <string>

#include "catalog/client_kind.h"
#include "jobs/job_progress.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;
class QFrame;

namespace qb::ui {

class TForm2 : public QDialog, private jobs::JobProgress {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);

    // What the next showing backs up: the file, the client and the Backup tab's two
    // check lists, read when the job starts.
    void setJob(std::string backupPath, ClientKind kind, const QListWidget* identities,
                const QListWidget* items);

    // Whether the last job ended with a new backup file.
    bool succeeded() const { return succeeded_; }
    bool running() const { return running_; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QTimer* Timer1 = nullptr;

  public slots:
    void FormShow();
    void Timer1Timer();
    void Button1Click();
    void Button2Click();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void progress(int overall, int item, std::string_view label) override;
    void setStatus(const QString& text, bool red);

    std::string backupPath_;
    ClientKind kind_ = kind::None;
    const QListWidget* identities_ = nullptr;
    const QListWidget* items_ = nullptr;
    bool running_ = false;
    bool closeWhenDone_ = false;
    bool succeeded_ = false;
};

}  // namespace qb::ui
