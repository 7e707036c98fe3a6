// Takes pictures of the real windows on a real X server, for the manual and the
// README: the main window on each tab, and the about window. Run by
// scripts/screenshots under Xvfb on a demo machine (QUILLBOX_PREFIX).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QThread>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cstdio>
#include <string_view>

#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include "app/settings.h"
#include "platform/files.h"
#include "platform/registry.h"

#include "ui/about_form.h"
#include "ui/form1.h"
#include "ui/form1_backup.h"
#include "ui/form1_restore.h"
#include "ui/form1_schedule.h"
#include "ui/form1_wizard.h"
#include "ui/form1_wizard_backup.h"
#include "ui/form1_wizard_restore.h"
#include "ui/gui_interaction.h"
#include "ui/machine_tree.h"
#include "ui/schedule_page.h"
#include "ui/tform2.h"
#include "ui/tform3.h"
#include "ui/tform5.h"
#include "ui/windows.h"

namespace {

void settle() {
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(25);
    }
}

bool shoot(QWidget& window, const QString& file) {
    settle();
    const QRect r = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    if (!shot.save(file, "PNG")) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

// A schedule on the Schedule tab: Eudora every day at 22:00, its lists
// shown. The switch stays off, so that no scheduler starts on the demo machine.
void setSchedule(qb::ui::Form1& form) {
    qb::ui::SchedulePage& page = form.scheduleTab().page();
    for (QTreeWidgetItemIterator it(page.TreeView2); *it; ++it) {
        if (qb::ui::ScheduleTree::codeOf(*it) != 3) continue;
        page.TreeView2->setImage(*it, qb::ui::kImageOn);
        page.TreeView2->setCurrentItem(*it);
        const QRect icon = page.TreeView2->iconRect(*it);
        page.TreeView2MouseUp(QPoint(icon.right() + 12, icon.center().y()));
    }
    for (QListWidget* list : {page.CheckListBox5, page.CheckListBox6})
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setCheckState(Qt::Checked);
    page.Edit3->setText("1");
    page.ComboBox2->setCurrentIndex(1);
    page.DateTimePicker2->setTime(QTime(22, 0));
}

// Runs a progress window's job and photographs the window at its end.
template <class Window>
bool shootAtEnd(Window& window, const QString& file) {
    bool ok = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!window.isVisible() || window.running() || window.Button1->property("tag").toInt() != 1)
            return;
        poll.stop();
        ok = shoot(window, file);
        window.accept();
    });
    poll.start(50);
    window.exec();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Quillbox");
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    qb::ui::GuiInteraction gui;
    qb::ScopedInteraction scoped(gui);
    qb::ui::CreateWindows();
    qb::ui::Form1& form = *qb::ui::windows().form1;
    if (!form.FormCreate()) return 1;
    form.move(20, 20);
    form.show();
    bool ok = true;
    const char* names[] = {"backup", "restore", "schedule", "options"};
    for (int i = 0; i < form.PageControl1()->count(); ++i) {
        form.PageControl1()->setCurrentIndex(i);
        if (names[i] == std::string_view("schedule")) setSchedule(form);
        ok = shoot(form, out + "/main-" + names[i] + ".png") && ok;
    }
    // A backup of the client chosen on the Backup tab, the Restore tab with that
    // backup chosen, a restore of it into a folder, and "Active windows...".
    form.PageControl1()->setCurrentIndex(0);
    qb::ui::BackupTab& backup = form.backupTab();
    backup.selectClient(qb::kind::OutlookExpress);
    ok = shoot(form, out + "/backup-client.png") && ok;
    const std::string file = "C:\\Backups\\OExpressBackup.ebk";
    qb::platform::forceDirectories("C:\\Backups");
    qb::ui::TForm2& backing = *qb::ui::windows().form2;
    backing.setJob(file, backup.currentClient(), backup.CheckListBox1, backup.CheckListBox2);
    ok = shootAtEnd(backing, out + "/backup-window.png") && ok;
    form.PageControl1()->setCurrentIndex(1);
    qb::ui::RestoreTab& restore = form.restoreTab();
    restore.ShellTreeView1->goTo(file);
    ok = shoot(form, out + "/restore-backup.png") && ok;
    qb::ui::TForm3& restoring = *qb::ui::windows().form3;
    restoring.setJob(file, restore.restoreClient(), restore.CheckListBox3, restore.CheckListBox4,
                     true, "C:\\Restored Mail");
    ok = shootAtEnd(restoring, out + "/restore-window.png") && ok;
    qb::ui::TForm5& active = *qb::ui::windows().form5;
    QTimer::singleShot(300, [&] {
        ok = shoot(active, out + "/active-windows.png") && ok;
        active.Button4Click();
    });
    active.show({"Inbox - Outlook Express", "msimn.exe (process 4242)"}, false);
    form.PageControl1()->setCurrentIndex(0);
    // The wizard's backup of Outlook Express: the welcome page, the client page, the
    // file page and the outcome of a real backup.
    qb::ui::WizardPages& wizard = form.wizardPages();
    qb::ui::WizardBackupPages& wizardBackup = wizard.backupPages();
    wizard.showPage(qb::ui::WizardPages::Welcome);
    ok = shoot(form, out + "/wizard-welcome.png") && ok;
    wizardBackup.Button100Click();
    for (int i = 0; i < qb::ui::WizardBackupPages::kClients; ++i)
        if (qb::ui::WizardBackupPages::clientOfLine(i) == qb::kind::OutlookExpress)
            wizardBackup.ClientClick(i);
    ok = shoot(form, out + "/wizard-client.png") && ok;
    wizard.NextClick();
    wizard.NextClick();
    ok = shoot(form, out + "/wizard-file.png") && ok;
    wizard.NextClick();
    wizard.NextClick();
    wizard.NextClick();
    ok = wizard.currentPage() == qb::ui::WizardPages::BackupDone &&
         shoot(form, out + "/wizard-backup-done.png") && ok;
    // The wizard's restore: the backup made above chosen on the file page, its
    // items, and the outcome of a restore of it into a folder.
    {
        qb::ui::WizardRestorePages& pages = wizard.restorePages();
        qb::app::settings().restoreFolder = "C:\\Backups";
        wizard.GoingForward = true;
        wizard.showPage(qb::ui::WizardPages::ChooseBackupFile);
        const auto found = pages.ListView200->findItems("OExpressBackup.ebk", Qt::MatchExactly);
        if (!found.isEmpty()) pages.ListView200->setCurrentItem(found.front());
        ok = shoot(form, out + "/wizard-restore-file.png") && ok;
        wizard.NextClick();
        ok = shoot(form, out + "/wizard-restore-items.png") && ok;
        wizard.NextClick();
        pages.RadioButton201->setChecked(true);
        pages.Edit200->setText("C:\\Restored by the wizard");
        wizard.NextClick();
        wizard.NextClick();
        wizard.NextClick();
        ok = shoot(form, out + "/wizard-restore-done.png") && ok;
        ok = wizard.currentPage() == qb::ui::WizardPages::RestoreDone &&
             pages.outcome() == qb::ui::WizardRestorePages::Outcome::Done && ok;
        wizard.showPage(qb::ui::WizardPages::Welcome);
    }
    form.ShowStandardMode();
    qb::ui::TForm4& about = *qb::ui::windows().form4;
    about.move(60, 60);
    about.show();
    ok = shoot(about, out + "/about.png") && ok;
    about.hide();
    // The Options tab in German, when the language file is there.
    qb::app::settings().languageName = "Deutsch";
    form.ReapplyLanguage();
    if (qb::app::settings().languageName == "Deutsch") {
        form.PageControl1()->setCurrentIndex(3);
        ok = shoot(form, out + "/main-options-de.png") && ok;
    }
    qb::ui::DestroyWindows();
    qb::platform::flushRegistry();
    return ok ? 0 : 1;
}
