// The Schedule tab driven through its widgets on a fake machine: the schedule
// entries it keeps, the choices it saves when the selection moves, the start it
// moves back, and a schedule that the real scheduler carries out.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidgetItemIterator>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/auto_backup.h"
#include "app/date_time.h"
#include "app/schedule_setup.h"
#include "app/scheduler.h"
#include "app/settings.h"
#include "catalog/backup_name.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/child_process.h"
#include "support/interaction.h"
#include "testkit/clients_fixture.h"
#include "testkit/program_run.h"
#include "testkit/testkit.h"
#include "ui/form1.h"
#include "ui/form1_schedule.h"
#include "ui/schedule_page.h"
#include "ui/windows.h"
#include "ui_fixture.h"

using namespace qb;
using namespace qb::test;
using platform::Registry;
using platform::RootKey;
namespace fs = std::filesystem;

namespace {

std::string entryKey(ClientKind code) {
    return std::string(app::kScheduleKey) + "\\" + std::to_string(code);
}

// A stored DWORD, read afresh; no value when it is missing.
std::optional<int32_t> dword(const std::string& key, const std::string& name) {
    platform::unloadRegistry();
    Registry r(RootKey::CurrentUser);
    if (!r.openKeyReadOnly(key) || !r.valueExists(name)) return std::nullopt;
    return r.readInteger(name);
}

std::vector<std::string> valueNames(const std::string& key) {
    platform::unloadRegistry();
    Registry r(RootKey::CurrentUser);
    if (!r.openKeyReadOnly(key)) return {};
    return r.valueNames();
}

std::string lastBackupDate() {
    platform::unloadRegistry();
    Registry r(RootKey::CurrentUser);
    if (!r.openKeyReadOnly(app::kSettingsKey) || !r.valueExists("LastBackupDate")) return "none";
    return app::FormatLocalTime(app::FromDateTime(r.readDateTime("LastBackupDate")));
}

template <typename Pred>
bool waitFor(Pred pred, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        QTest::qWait(50);
    }
    return pred();
}

// The main window on the machine, its Schedule tab and another one to leave it for.
struct Window {
    Window() : form(*ui::windows().form1), page(&form.scheduleTab().page()) {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        enter();
    }
    ~Window() { form.hide(); }
    void leave() { form.PageControl1()->setCurrentIndex(3); }
    void enter() {
        form.PageControl1()->setCurrentIndex(2);
        EXPECT_EQ(form.PageControl1()->currentWidget()->objectName(), "TabSheet4");
    }

    QTreeWidgetItem* entry(ClientKind code) {
        for (QTreeWidgetItemIterator it(page->TreeView2); *it; ++it)
            if (ui::ScheduleTree::codeOf(*it) == code) return *it;
        return nullptr;
    }
    // A click on the entry's icon or on its label.
    void click(ClientKind code, bool onIcon) {
        QTreeWidgetItem* item = entry(code);
        ASSERT_NE(item, nullptr) << code;
        const QRect icon = page->TreeView2->iconRect(item);
        ASSERT_FALSE(icon.isEmpty()) << code;
        const QPoint at = onIcon ? icon.center() : QPoint(icon.right() + 12, icon.center().y());
        QTest::mouseClick(page->TreeView2->viewport(), Qt::LeftButton, {}, at);
    }
    // A click on the switch's box.
    void clickSwitch() {
        QTest::mouseClick(page->CheckBox3, Qt::LeftButton, {},
                          QPoint(8, page->CheckBox3->height() / 2));
    }
    int image(ClientKind code) { return ui::ScheduleTree::imageOf(entry(code)); }
    void setEvery(const char* n, int unit) {
        page->Edit3->setFocus();
        page->Edit3->selectAll();
        QTest::keyClicks(page->Edit3, QString::fromLatin1(n));
        page->ComboBox2->setCurrentIndex(unit);
    }

    ui::Form1& form;
    ui::SchedulePage* page;
};

// The program's windows on a machine with Eudora, the main window created, and the
// program's folder where the scheduler is.
class ScheduleTab : public ::testing::Test {
  protected:
    void SetUp() override {
        installEudora(fake.machine());
        ASSERT_TRUE(ui::windows().form1->FormCreate());
        app::settings().programFolder =
            platform::includeTrailingBackslash(platform::windowsPath(QB_BIN_DIR));
    }
    void TearDown() override {
        if (const std::optional<pid_t> pid = app::RunningScheduler()) ::kill(*pid, SIGKILL);
    }

    WindowsOnFakeMachine fake;
    FakeMachine& machine = fake.machine();
    ScriptedInteraction boxes;
    ScopedInteraction scope{boxes};
};

}  // namespace

TEST_F(ScheduleTab, KeepsEntriesAndChoicesAndMovesTheStartBackOneInterval) {
    // A stored identity matches ignoring case; an item only by its exact name.
    setDword(RootKey::CurrentUser, entryKey(kind::Eudora) + "\\Identity", "DEFAULT", 1);
    setDword(RootKey::CurrentUser, entryKey(kind::Eudora) + "\\Items", "mail folders", 1);
    setDword(RootKey::CurrentUser, entryKey(kind::Eudora) + "\\Items", "Filters", 1);
    Window w;
    ui::SchedulePage& p = *w.page;

    // The first visit creates "Selected" = false for every client, not for the heading.
    for (ClientKind code : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})
        EXPECT_EQ(dword(entryKey(code), "Selected"), 0) << code;
    EXPECT_EQ(dword(entryKey(0), "Selected"), std::nullopt);
    EXPECT_EQ(w.image(0), ui::kImageHeading);
    EXPECT_EQ(w.image(kind::Eudora), ui::kImageOff);
    // Nothing can be backed up for the family entry of a client that is not installed.
    EXPECT_EQ(w.image(7), ui::kImageNone);

    // A click on the label selects and loads, and leaves the mark alone.
    w.click(kind::Eudora, false);
    EXPECT_EQ(w.image(kind::Eudora), ui::kImageOff);
    EXPECT_EQ(p.scheduleClient(), kind::Eudora);
    ASSERT_EQ(p.CheckListBox5->count(), 1);
    EXPECT_EQ(p.CheckListBox5->item(0)->text(), "Default");
    EXPECT_EQ(p.CheckListBox5->item(0)->checkState(), Qt::Checked);
    ASSERT_EQ(p.CheckListBox6->count(), 5);
    const auto itemChecked = [&](int row) {
        return p.CheckListBox6->item(row)->checkState() == Qt::Checked;
    };
    EXPECT_EQ(p.CheckListBox6->item(1)->text(), "Mail Folders");
    EXPECT_FALSE(itemChecked(1));
    EXPECT_TRUE(itemChecked(2));  // Filters
    // An unscheduled client's lists cannot be changed.
    EXPECT_FALSE(p.CheckListBox5->isEnabled());
    EXPECT_FALSE(p.CheckListBox6->isEnabled());

    // A click on the icon schedules it.
    w.click(kind::Eudora, true);
    EXPECT_EQ(w.image(kind::Eudora), ui::kImageOn);
    EXPECT_TRUE(p.CheckListBox5->isEnabled());
    EXPECT_TRUE(p.CheckListBox6->isEnabled());
    p.CheckListBox6->item(0)->setCheckState(Qt::Checked);  // Accounts Settings
    p.CheckListBox6->item(2)->setCheckState(Qt::Unchecked);

    // Moving to another entry saves the lists of the one left, under the names shown.
    w.click(kind::OutlookExpress, false);
    EXPECT_EQ(p.scheduleClient(), kind::OutlookExpress);
    EXPECT_EQ(valueNames(entryKey(kind::Eudora) + "\\Identity"),
              (std::vector<std::string>{"Default"}));
    EXPECT_EQ(valueNames(entryKey(kind::Eudora) + "\\Items"),
              (std::vector<std::string>{"Accounts Settings", "Mail Folders", "Filters",
                                        "Signatures", "Address Book"}));
    EXPECT_EQ(dword(entryKey(kind::Eudora) + "\\Identity", "Default"), 1);
    EXPECT_EQ(dword(entryKey(kind::Eudora) + "\\Items", "Accounts Settings"), 1);
    EXPECT_EQ(dword(entryKey(kind::Eudora) + "\\Items", "Mail Folders"), 0);
    EXPECT_EQ(dword(entryKey(kind::Eudora) + "\\Items", "Filters"), 0);
    // Space on the selected entry toggles its mark, as a click on the icon does.
    p.TreeView2->setFocus();
    QTest::keyClick(p.TreeView2, Qt::Key_Space);
    EXPECT_EQ(w.image(kind::OutlookExpress), ui::kImageOn);
    QTest::keyClick(p.TreeView2, Qt::Key_Space);
    EXPECT_EQ(w.image(kind::OutlookExpress), ui::kImageOff);

    // Every 2 months from 10 March 08:30.
    w.setEvery("2", 3);
    p.DateTimePicker1->setDate(QDate(2026, 3, 10));
    p.DateTimePicker2->setTime(QTime(8, 30));
    w.leave();
    EXPECT_EQ(lastBackupDate(), "2026-01-10 08:30:00");
    // Leaving writes "Selected" of every entry, the heading's too.
    EXPECT_EQ(dword(entryKey(kind::Eudora), "Selected"), 1);
    EXPECT_EQ(dword(entryKey(kind::OutlookExpress), "Selected"), 0);
    EXPECT_EQ(dword(entryKey(0), "Selected"), 0);
    EXPECT_EQ(app::settings().scheduleInterval, 2);
    EXPECT_EQ(app::settings().schedulePeriod, 3);
    EXPECT_EQ(dword(std::string(app::kSettingsKey), "BackupInterval"), 2);

    // Coming back shows the stored marks; the lists belong to no entry until one is chosen.
    w.enter();
    EXPECT_EQ(w.image(kind::Eudora), ui::kImageOn);
    EXPECT_EQ(p.scheduleClient(), kind::None);
    EXPECT_FALSE(p.CheckListBox5->isEnabled());

    // Every 3 days from 2 March 06:00, with and without 29 February.
    w.setEvery("3", 1);
    p.DateTimePicker1->setDate(QDate(2026, 3, 2));
    p.DateTimePicker2->setTime(QTime(6, 0));
    w.leave();
    EXPECT_EQ(lastBackupDate(), "2026-02-27 06:00:00");
    w.enter();
    p.DateTimePicker1->setDate(QDate(2024, 3, 2));
    w.leave();
    EXPECT_EQ(lastBackupDate(), "2024-02-28 06:00:00");

    // Every 2 hours from 6 December 01:00: the evening before.
    w.enter();
    w.setEvery("2", 0);
    p.DateTimePicker1->setDate(QDate(2026, 12, 6));
    p.DateTimePicker2->setTime(QTime(1, 0));
    w.leave();
    EXPECT_EQ(lastBackupDate(), "2026-12-05 23:00:00");

    // The number field takes two digits only, and leaving it empty or 0 puts 1 in it.
    w.enter();
    w.setEvery("a7x95", 2);
    EXPECT_EQ(p.Edit3->text(), "79");
    EXPECT_EQ(app::settings().scheduleInterval, 79);
    w.setEvery("0", 2);
    p.TreeView2->setFocus();
    EXPECT_EQ(p.Edit3->text(), "1");
    EXPECT_EQ(app::settings().scheduleInterval, 1);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ScheduleTab, AScheduleSetInTheTabIsCarriedOutByTheScheduler) {
    // Keep one earlier automatic backup besides the new one.
    setDword(RootKey::CurrentUser, app::kSettingsKey, "BackupMode", app::kKeepLastBackups);
    setDword(RootKey::CurrentUser, app::kSettingsKey, "BackupKeep", 1);
    app::settings().autoBackupFolder = "C:\\Elsewhere\\";
    const std::string user = app::LogonUserPrefix();
    const std::string older = "C:\\Auto\\" + user + "EudoraBackup 1-1-2020.ebk";
    const std::string old = "C:\\Auto\\" + user + "EudoraBackup 1-1-2021.ebk";
    machine.writeFile(older, "an older backup");
    machine.writeFile(old, "an old backup");
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(machine.host(older), now - std::chrono::hours(48));
    fs::last_write_time(machine.host(old), now - std::chrono::hours(24));
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string());

    Window w;
    ui::SchedulePage& p = *w.page;
    p.browseFolder = [](const std::string& start) {
        EXPECT_EQ(start, "C:\\Elsewhere\\");
        return std::string("C:\\Auto\\");
    };
    EXPECT_EQ(p.Edit4->text(), "C:\\Elsewhere\\");
    QTest::mouseClick(p.Button6, Qt::LeftButton);
    EXPECT_EQ(p.Edit4->text(), "C:\\Auto\\");

    // Eudora every day from a minute ago, all identities and items.
    w.click(kind::Eudora, true);
    ASSERT_EQ(w.image(kind::Eudora), ui::kImageOn);
    for (QListWidget* list : {p.CheckListBox5, p.CheckListBox6})
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setCheckState(Qt::Checked);
    w.setEvery("1", 1);
    const QDateTime start = QDateTime::currentDateTime().addSecs(-60);
    p.DateTimePicker1->setDate(start.date());
    p.DateTimePicker2->setTime(start.time());
    w.leave();
    w.enter();

    // Switching on starts the scheduler, which finds the backup due at once.
    w.clickSwitch();
    ASSERT_TRUE(p.CheckBox3->isChecked());
    const std::string log = "C:\\Auto\\quillbox-auto.log";
    ASSERT_TRUE(waitFor([&] { return platform::fileExists(log); })) << "no scheduled run";
    const std::string backup = "C:\\Auto\\" + user + DefaultBackupFileName(kind::Eudora);
    const std::string line = machine.readFile(log);
    EXPECT_NE(line.find("\tEudora\t" + backup + "\tbacked up\t"), std::string::npos) << line;
    EXPECT_TRUE(platform::fileExists(backup));
    // The newest earlier backup stays, the older one is pruned.
    EXPECT_TRUE(platform::fileExists(old));
    EXPECT_FALSE(platform::fileExists(older));
    const std::optional<pid_t> scheduler = app::RunningScheduler();
    ASSERT_TRUE(scheduler.has_value());

    // Switching off ends it and removes its logon registration.
    w.clickSwitch();
    EXPECT_FALSE(app::RunningScheduler().has_value());
    EXPECT_FALSE(fs::exists(config.path() / "autostart" / "quillsched.desktop"));
    EXPECT_TRUE(boxes.boxes.empty());

    // Another program writes the registry while the window is open, as the scheduler
    // and the scheduled runs do; closing the window still saves.
    {
        ScopedEnv prefix("QUILLBOX_PREFIX", machine.prefix().string());
        ChildProcess qbreg(kQbreg, {kQbreg, "add", "HKCU\\Software\\Quillbox", "/v", "Probe", "/t",
                                    "REG_DWORD", "/d", "1", "/f"});
        EXPECT_EQ(qbreg.reap(), 0);
    }
    app::settings().problems.clear();
    app::settings().backupFolder = "C:\\Saved\\";
    w.form.close();
    EXPECT_TRUE(app::settings().problems.empty()) << app::settings().problems.front();
    platform::unloadRegistry();
    EXPECT_EQ(platform::readStringValue(RootKey::CurrentUser, app::kSettingsKey, "BackupDir"),
              "C:\\Saved\\");
    EXPECT_EQ(dword(std::string(app::kSettingsKey), "Probe"), 1);
}

TEST(ScheduleStart, AStartWithScheduledBackupsOnStartsTheScheduler) {
    WindowsOnFakeMachine fake;
    ScriptedInteraction boxes;
    ScopedInteraction scope(boxes);
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string());
    setDword(RootKey::CurrentUser, app::kSettingsKey, "AutoBackup", 1);
    {
        // Nothing due for a day, so the scheduler only waits.
        Registry r(RootKey::CurrentUser);
        r.openKey(app::kSettingsKey, true);
        r.writeDateTime("LastBackupDate", app::ToDateTime(app::LocalNow()));
        r.writeInteger("BackupPeriod", 1);
        r.writeInteger("BackupInterval", 1);
    }
    struct Reaper {
        ~Reaper() {
            if (const std::optional<pid_t> pid = app::RunningScheduler()) ::kill(*pid, SIGKILL);
        }
    } reaper;
    ui::Form1& form = *ui::windows().form1;
    app::settings().programFolder =
        platform::includeTrailingBackslash(platform::windowsPath(QB_BIN_DIR));
    // The program's folder is where the scheduler is.
    ASSERT_TRUE(form.FormCreate());
    EXPECT_TRUE(form.scheduleTab().page().CheckBox3->isChecked());
    ASSERT_TRUE(waitFor([] { return app::RunningScheduler().has_value(); }));
    platform::unloadRegistry();
    EXPECT_FALSE(
        platform::readStringValue(RootKey::LocalMachine, app::kRunKey, app::kRunValue).empty());
    EXPECT_TRUE(fs::exists(config.path() / "autostart" / "quillsched.desktop"));
    EXPECT_TRUE(boxes.boxes.empty());
}
