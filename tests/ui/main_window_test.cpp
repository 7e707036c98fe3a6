// The main window on a fresh machine, driven through its real widgets: the frame
// and the first start's settings, the Options tab's rules and what they write,
// and the language files (the built-in one written and applied, the German one
// switching every text and message, names matched exactly).
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "app/backup_run.h"
#include "app/settings.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "support/interaction.h"
#include "ui/form1.h"
#include "ui/lng_ini_supp.h"
#include "ui/tray_icon.h"
#include "ui/windows.h"
#include "ui_fixture.h"

using namespace qb;
using platform::Registry;
using platform::RootKey;
using test::child;

namespace {

ui::Form1& startedForm() {
    ui::Form1& form = *ui::windows().form1;
    if (!form.FormCreate()) qWarning("FormCreate reported no archive library");
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) qWarning("the main window was not exposed");
    return form;
}

// A click on the button's text, where a wide button takes it.
void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

void showOptions(ui::Form1& form) {
    form.PageControl1()->setCurrentWidget(form.findChild<QWidget*>("TabSheet3"));
}

int32_t storedInteger(const char* name) {
    Registry r(RootKey::CurrentUser);
    if (!r.openKeyReadOnly(app::kSettingsKey) || !r.valueExists(name)) return -1;
    return r.readInteger(name);
}

bool storedValue(const char* name) {
    Registry r(RootKey::CurrentUser);
    return r.openKeyReadOnly(app::kSettingsKey) && r.valueExists(name);
}

// The text a translatable widget shows now.
QString shownText(QWidget& w) {
    if (auto* tabs = qobject_cast<QTabWidget*>(w.parentWidget() ? w.parentWidget()->parentWidget()
                                                                : nullptr))
        if (tabs->indexOf(&w) >= 0) return tabs->tabText(tabs->indexOf(&w));
    if (auto* b = qobject_cast<QAbstractButton*>(&w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(&w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(&w)) return g->title();
    return {};
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void firstStartCreatesEveryValueAndShowsTheFrame();
    void optionsTabRulesAndWhatSaveWrites();
    void languageFilesBuiltInAndGerman();
    void trayIconEventsAndHint();
};

void MainWindowTest::trayIconEventsAndHint() {
    test::WindowsOnFakeMachine fake;
    ui::Form1& form = *ui::windows().form1;
    ui::TIconTaskBar& tray = form.Tray1();
    QCOMPARE(tray.Hint(), QString("Quillbox"));
    QVERIFY(!tray.Visible);
    tray.SetHint(QString(80, 'h'));
    QCOMPARE(tray.shownHint().size(), 63);
    QStringList events;
    tray.OnEvent = [&] { events << "event"; };
    tray.OnClick = [&] { events << "click"; };
    tray.OnDblClick = [&] { events << "double"; };
    tray.OnMouseDown = [&](ui::TrayButton b) { events << QString("down%1").arg(int(b)); };
    tray.OnMouseUp = [&](ui::TrayButton b) { events << QString("up%1").arg(int(b)); };
    tray.OnShow = [&] { events << "show"; };
    tray.OnClose = [&] { events << "close"; };
    // Without a notification area (offscreen) the icon is absent, the events still run.
    tray.ShowIcon();
    QVERIFY(tray.Visible);
    tray.dispatch(QSystemTrayIcon::Trigger);
    tray.dispatch(QSystemTrayIcon::Context);
    tray.dispatch(QSystemTrayIcon::DoubleClick);
    tray.HideIcon();
    QVERIFY(!tray.Visible);
    QCOMPARE(events, QStringList({"show", "event", "down1", "event", "click", "event", "down2",
                                  "event", "up2", "event", "double", "close"}));
}

void MainWindowTest::firstStartCreatesEveryValueAndShowsTheFrame() {
    test::WindowsOnFakeMachine fake;
    ui::Form1& form = startedForm();

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
    QVERIFY(!form.wizardMode());
    // Names and paths from backup files are shown as they are, never as markup.
    for (QWidget* window : ui::windows().all())
        for (QLabel* label : window->findChildren<QLabel*>())
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
    const char* bar[][2] = {
        {"Button11", "About"}, {"Button10", "Web"}, {"Button9", "Help"}, {"Button8", "Exit"}};
    for (const auto& b : bar) {
        QPushButton* button = child<QPushButton>(form, b[0]);
        QVERIFY2(button, b[0]);
        QCOMPARE(button->text(), QString(b[1]));
    }
    // Fixed size, no smaller than designed.
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(form.width() >= 558 && form.height() >= 434);

    // Every value of the store, with its default, and LastClient.
    const std::string docs = "C:\\users\\tester\\Documents\\";
    Registry r(RootKey::CurrentUser);
    QVERIFY(r.openKeyReadOnly(app::kSettingsKey));
    const std::pair<const char*, int32_t> integers[] = {{"X", 355},
                                                        {"Y", 143},
                                                        {"AutoBackup", 0},
                                                        {"BackupPeriod", 3},
                                                        {"BackupInterval", 2},
                                                        {"MultipleVolumes", 0},
                                                        {"Volumes", 4},
                                                        {"BackupMode", 2},
                                                        {"OldBackupMode", 3},
                                                        {"BackupKeep", 3}};
    for (const auto& [name, value] : integers) {
        QVERIFY2(r.valueExists(name), name);
        QCOMPARE(r.readInteger(name), value);
    }
    QCOMPARE(r.readString("BackupDir"), docs);
    QCOMPARE(r.readString("RestoreDir"), docs);
    QCOMPARE(r.readString("AutoBackupDir"), docs + "AutoBackup\\");
    QCOMPARE(r.readString("Language"), std::string("English"));
    QVERIFY(r.valueExists("BackupTime") && r.valueExists("BackupDate"));
    QVERIFY(!r.valueExists("DefaultBackDir"));
    r.closeKey();
    QVERIFY(r.openKeyReadOnly(app::kLastClientKey));
    QCOMPARE(r.readInteger("Code"), 1);
    r.closeKey();
    QVERIFY(r.openKeyReadOnly(std::string(app::kLastClientKey) + "\\Identity"));
    QCOMPARE(r.readInteger("Main Identity"), 1);
    r.closeKey();
    QVERIFY(r.openKeyReadOnly(std::string(app::kLastClientKey) + "\\Items"));
    for (const char* item : {"Accounts Settings", "Address Book", "Mail Folders", "Message Rules",
                             "Signatures", "Stationery"})
        QCOMPARE(r.readInteger(item), 1);
    r.closeKey();

    // The Options tab shows those values.
    showOptions(form);
    QVERIFY(child<QRadioButton>(form, "RadioButton4")->isChecked());
    QVERIFY(!child<QCheckBox>(form, "CheckBox4")->isChecked());
    QCOMPARE(child<QLineEdit>(form, "Edit6")->text(), QString("3"));
    QVERIFY(child<QRadioButton>(form, "RadioButton14")->isChecked());
    QCOMPARE(child<QComboBox>(form, "ComboBox3")->currentIndex(), 4);
    QVERIFY(!child<QComboBox>(form, "ComboBox3")->isEnabled());
    QVERIFY(!child<QCheckBox>(form, "CheckBox6")->isChecked());
    QVERIFY(!child<QLineEdit>(form, "Edit5")->isEnabled());
    QCOMPARE(child<QLineEdit>(form, "Edit5")->text(), QString::fromStdString(docs));

    // Closing saves the window's place.
    form.move(120, 80);
    form.close();
    QCOMPARE(storedInteger("X"), form.x());
}

void MainWindowTest::optionsTabRulesAndWhatSaveWrites() {
    ScriptedInteraction boxes;
    ScopedInteraction scoped(boxes);
    {
        test::WindowsOnFakeMachine fake;
        {
            // A stored position far to the right is pulled back onto the screen.
            Registry r(RootKey::CurrentUser);
            r.openKey(app::kSettingsKey, true);
            r.writeInteger("X", 5000);
            r.writeInteger("Y", 5000);
        }
        ui::Form1& form = startedForm();
        const QRect screen = form.screen()->geometry();
        QCOMPARE(form.x(), screen.width() - 50);
        QCOMPARE(form.y(), screen.height() - 150);
        showOptions(form);

        auto* overwrite = child<QRadioButton>(form, "RadioButton3");
        auto* newFile = child<QRadioButton>(form, "RadioButton4");
        auto* keep = child<QCheckBox>(form, "CheckBox4");
        auto* count = child<QLineEdit>(form, "Edit6");
        auto* label = child<QLabel>(form, "Label15");
        auto* split = child<QRadioButton>(form, "RadioButton15");
        auto* single = child<QRadioButton>(form, "RadioButton14");
        auto* sizes = child<QComboBox>(form, "ComboBox3");
        auto* save = child<QPushButton>(form, "Button1");
        auto* defaults = child<QPushButton>(form, "Button7");
        QCOMPARE(save->text(), QString("Save changes!"));
        QCOMPARE(label->text(), QString("backups."));

        click(overwrite);
        QVERIFY(!keep->isEnabled() && !count->isEnabled() && !label->isEnabled());
        click(newFile);
        QVERIFY(keep->isEnabled() && count->isEnabled() && label->isEnabled());
        click(keep);
        // Digits only, two at most; empty or 0 becomes 1 when the field is left.
        count->setFocus();
        count->selectAll();
        QTest::keyClicks(count, "x7a");
        QCOMPARE(count->text(), QString("7"));
        click(split);
        QVERIFY(sizes->isEnabled());
        QVERIFY(app::settings().multipleVolumes);
        sizes->setFocus();
        QTest::keyClick(sizes, Qt::Key_Up);  // CD 650Mb
        QCOMPARE(app::settings().volumeSizeIndex, 3);

        click(save);
        QCOMPARE(storedInteger("BackupMode"), 3);
        QCOMPARE(storedInteger("BackupKeep"), 7);
        QCOMPARE(storedInteger("OldBackupMode"), 2);
        QCOMPARE(storedInteger("MultipleVolumes"), 1);
        QCOMPARE(storedInteger("Volumes"), 3);
        QVERIFY(!storedValue("DefaultBackDir"));

        // "Restore to default" shows the defaults and writes nothing.
        click(defaults);
        QVERIFY(newFile->isChecked() && !keep->isChecked());
        QCOMPARE(count->text(), QString("3"));
        QVERIFY(single->isChecked() && !sizes->isEnabled());
        QCOMPARE(sizes->currentIndex(), 4);
        QCOMPARE(storedInteger("BackupMode"), 3);
        QCOMPARE(storedInteger("BackupKeep"), 7);

        count->setFocus();
        count->clear();
        QTest::keyClick(count, Qt::Key_Tab);
        QCOMPARE(count->text(), QString("1"));
        click(overwrite);

        // A default location must be given when it is switched on.
        auto* useDefault = child<QCheckBox>(form, "CheckBox6");
        auto* location = child<QLineEdit>(form, "Edit5");
        click(useDefault);
        QVERIFY(location->isEnabled() && child<QPushButton>(form, "Button12")->isEnabled());
        location->clear();
        click(save);
        QCOMPARE(boxes.boxes.size(), size_t(1));
        QCOMPARE(boxes.boxes[0].text, std::string("Please input Backup location!"));
        QCOMPARE(boxes.boxes[0].icon, MsgIcon::Information);
        QVERIFY(!storedValue("DefaultBackDir"));
        QCOMPARE(storedInteger("BackupMode"), 1);
        QCOMPARE(storedInteger("OldBackupMode"), 2);
        location->setText("D:\\Backups\\");
        click(save);
        QCOMPARE(boxes.boxes.size(), size_t(1));
        QVERIFY(storedValue("DefaultBackDir"));
        form.close();
    }
    {
        // The next start takes the default location as backup folder, whatever
        // "BackupDir" says, and the Options tab keeps showing it.
        test::WindowsOnFakeMachine fake;
        {
            Registry r(RootKey::CurrentUser);
            r.openKey(app::kSettingsKey, true);
            r.writeString("DefaultBackDir", "D:\\Backups\\");
            r.writeString("BackupDir", "E:\\Elsewhere\\");
            r.writeInteger("BackupMode", 1);
        }
        ui::Form1& form = startedForm();
        QCOMPARE(app::settings().backupFolder, std::string("D:\\Backups\\"));
        showOptions(form);
        auto* useDefault = child<QCheckBox>(form, "CheckBox6");
        QVERIFY(useDefault->isChecked());
        QCOMPARE(child<QLineEdit>(form, "Edit5")->text(), QString("D:\\Backups\\"));
        QVERIFY(child<QRadioButton>(form, "RadioButton3")->isChecked());
        QVERIFY(!child<QCheckBox>(form, "CheckBox4")->isEnabled());
        // Switched off and saved: the value goes.
        click(useDefault);
        click(child<QPushButton>(form, "Button1"));
        QVERIFY(!storedValue("DefaultBackDir"));
        form.close();
    }
}

void MainWindowTest::languageFilesBuiltInAndGerman() {
    test::TempDir data;
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string()));
    test::WindowsOnFakeMachine fake;
    const std::string folder = test::WindowsOnFakeMachine::kProgramFolder;
    // Names are compared exactly: a section or key in another letter case does nothing.
    fake.machine().writeFile(folder + "Casing.lng",
                             "[Language]\r\nLanguage=Casing\r\n[form1]\r\nButton8=Wrong\r\n"
                             "[Form1]\r\nbutton9=Wrong\r\nButton11=Info\r\n");
    std::filesystem::copy_file(QB_SOURCE_DIR "/lang/Deutsch.lng",
                               fake.machine().host(folder + "Deutsch.lng"));
    ui::Form1& form = startedForm();

    // The built-in English file is written into the empty program folder and applied.
    QVERIFY(platform::fileExists(folder + "English.lng"));
    QCOMPARE(app::settings().languageFile, folder + "English.lng");
    // The file's text, not the design's (the file reader trims the blanks).
    QCOMPARE(child<QGroupBox>(form, "GroupBox2")->title(), QString("Back Up Mode"));
    QCOMPARE(app::MessageText("Message1"), std::string("Invalid command!"));

    // Every translatable text of every window, as designed.
    QList<QPair<QWidget*, QString>> designed;
    for (QWidget* window : ui::windows().all())
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const QVariant design = w->property("qbDesignText");
            if (design.isValid()) designed.append({w, design.toString()});
        }
    QVERIFY(designed.size() > 25);

    // The language list offers every file found, by its display name.
    showOptions(form);
    auto* languages = child<QComboBox>(form, "ComboBox4");
    QStringList offered;
    for (int i = 0; i < languages->count(); ++i)
        offered << languages->itemText(i);
    QCOMPARE(offered, QStringList({"Casing", "Deutsch", "English"}));
    QCOMPARE(languages->currentText(), QString("English"));

    languages->setCurrentIndex(languages->findText("Casing"));
    click(child<QPushButton>(form, "Button1"));
    QCOMPARE(child<QPushButton>(form, "Button8")->text(), QString("Exit"));
    QCOMPARE(child<QPushButton>(form, "Button9")->text(), QString("Help"));
    QCOMPARE(child<QPushButton>(form, "Button11")->text(), QString("Info"));

    // German: stored by "Save changes!", and every text and message switches.
    languages->setCurrentIndex(languages->findText("Deutsch"));
    click(child<QPushButton>(form, "Button1"));
    {
        Registry r(RootKey::CurrentUser);
        QVERIFY(r.openKeyReadOnly(app::kSettingsKey));
        QCOMPARE(r.readString("Language"), std::string("Deutsch"));
    }
    // Names and numbers read the same in German.
    const QStringList sameInGerman{"...",
                                   "OK",
                                   "Web",
                                   "Quillbox",
                                   "Version " QB_VERSION,
                                   "Microsoft Outlook Express",
                                   "Microsoft Outlook",
                                   "Eudora",
                                   "Opera Mail",
                                   "Netscape Messenger",
                                   "The Bat",
                                   "Poco Mail",
                                   "Incredi Mail",
                                   "Pegasus Mail"};
    for (const auto& [widget, design] : designed) {
        const QString now = shownText(*widget);
        if (design.isEmpty() || sameInGerman.contains(design)) continue;
        QVERIFY2(now != design, qPrintable(widget->window()->objectName() + "." +
                                           widget->objectName() + " still reads " + now));
    }
    QCOMPARE(form.PageControl1()->tabText(3), QString("Optionen"));
    QCOMPARE(child<QPushButton>(form, "Button1")->text(), QString("Änderungen speichern!"));
    QCOMPARE(app::MessageText("Message1"), std::string("Ungültiger Befehl!"));
    QCOMPARE(jobs::JobTexts().GetMessageText("Message7"), std::string("Abbrechen"));
    QCOMPARE(form.LngM().GetMessageText("Message8"), std::string("Schließen"));

    // And back to English: every design text again.
    languages = child<QComboBox>(form, "ComboBox4");
    languages->setCurrentIndex(languages->findText("English"));
    click(child<QPushButton>(form, "Button1"));
    for (const auto& [widget, design] : designed) {
        if (widget->objectName() == "Button1" || widget->objectName() == "Label15") continue;
        QCOMPARE(shownText(*widget).trimmed(), design.trimmed());
    }
    QCOMPARE(child<QPushButton>(form, "Button1")->text(), QString("Save changes!"));
    QCOMPARE(child<QLabel>(form, "Label15")->text(), QString("backups."));
    QCOMPARE(jobs::JobTexts().GetMessageText("Message7"), std::string("Abort"));
    form.close();
    qunsetenv("XDG_DATA_HOME");
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
