// The main window on a fresh machine: its frame, the first start's settings, and
// the Options tab's rules driven through the real widgets.
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "app/settings.h"
#include "platform/registry.h"
#include "ui/form1.h"
#include "ui/windows.h"
#include "ui_fixture.h"

using namespace qb;
using platform::Registry;
using platform::RootKey;

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void firstStartCreatesEveryValueAndShowsTheFrame();
};

void MainWindowTest::firstStartCreatesEveryValueAndShowsTheFrame() {
    test::WindowsOnFakeMachine fake;
    ui::Form1& form = *ui::windows().form1;
    QVERIFY(form.FormCreate());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QCOMPARE(form.windowTitle(), QString("Quillbox"));
    QTabWidget* tabs = form.PageControl1();
    QCOMPARE(tabs->count(), 4);
    const char* sheets[] = {"TabSheet1", "TabSheet2", "TabSheet4", "TabSheet3"};
    const char* texts[] = {"Backup", "Restore", "Schedule", "Options"};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(tabs->widget(i)->objectName(), QString(sheets[i]));
        QCOMPARE(tabs->tabText(i), QString(texts[i]));
    }
    QCOMPARE(tabs->currentIndex(), 0);
    for (const char* name : {"Button11", "Button10", "Button9", "Button8"})
        QVERIFY2(form.findChild<QPushButton*>(name), name);
    QVERIFY(!form.wizardMode());

    Registry r(RootKey::CurrentUser);
    QVERIFY(r.openKeyReadOnly(app::kSettingsKey));
    for (const char* name :
         {"X", "Y", "BackupDir", "RestoreDir", "AutoBackup", "AutoBackupDir", "BackupTime",
          "BackupDate", "BackupPeriod", "BackupInterval", "Language", "MultipleVolumes", "Volumes",
          "BackupMode", "OldBackupMode", "BackupKeep"})
        QVERIFY2(r.valueExists(name), name);
    QCOMPARE(r.readInteger("X"), 355);
    QVERIFY(!r.valueExists("DefaultBackDir"));
    r.closeKey();
    QVERIFY(r.openKeyReadOnly(std::string(app::kLastClientKey) + "\\Items"));
    QCOMPARE(r.readInteger("Stationery"), 1);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
