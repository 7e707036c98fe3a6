// What the "Backing Up" and "Restoring" windows share: a bold heading, a bar, a
// caption over a sunken panel with the backup's path, an Abort button that becomes
// Close, and a short timer that starts the job once the window is on screen. The job
// runs on this thread inside the window's modal loop; its progress moves the bar.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "catalog/client_kind.h"
#include "jobs/job_progress.h"

class QFrame;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qb::ui {

class ProgressWindow : public QDialog, private jobs::JobProgress {
    Q_OBJECT
  public:
    // Whether the last job ended as it should (for a backup: with a new file).
    bool succeeded() const { return succeeded_; }
    bool running() const { return running_; }

    QProgressBar* ProgressBar1 = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QTimer* Timer1 = nullptr;

  public slots:
    virtual void FormShow() = 0;
    virtual void Timer1Timer() = 0;
    virtual void Button1Click() = 0;

  protected:
    // The object names and design texts of one window; the label names are the
    // language file's keys, which differ between the two windows.
    struct Design {
        const char* form;
        const char* title;
        const char* headingName;
        const char* heading;
        const char* barName;  // the bar's accessible name
        const char* captionName;
        const char* caption;
        const char* pathName;
        int minimumWidth;
        // Whether closing the window while the job runs also asks the job to abort
        // (else the job finishes and the window goes then).
        bool closeAborts;
    };
    ProgressWindow(const Design& design, QWidget* parent);

    void setSource(std::string backupPath, ClientKind kind, const QListWidget* identities,
                   const QListWidget* items);
    // The common start of a showing: heading, caption and path, bar at zero, Abort,
    // the job's flags cleared, the timer started.
    void startShowing(const QString& heading, const QString& caption, const QString& path);
    // Runs `job` with the checked lines of the two lists, the bar following its
    // progress; then the bar is full and Abort says Close.
    void runJob(
        const std::function<void(const Selection& identities, const Selection& items)>& job);
    void setHeading(const QString& text, bool red);

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

    QLabel* heading_ = nullptr;
    QLabel* caption_ = nullptr;
    QLabel* path_ = nullptr;
    QHBoxLayout* buttons_ = nullptr;

    std::string backupPath_;
    ClientKind kind_ = kind::None;
    bool closeWhenDone_ = false;
    bool succeeded_ = false;

  private:
    void progress(int overall, int item, std::string_view label) override;
    // Asks the running job's window to go when the job has returned; false when no
    // job runs.
    bool closeAfterJob();

    const QListWidget* identities_ = nullptr;
    const QListWidget* items_ = nullptr;
    bool closeAborts_ = false;
    bool running_ = false;
};

}  // namespace qb::ui
