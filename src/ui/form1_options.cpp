#include "ui/form1_options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>
#include <optional>

#include "app/settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/interaction.h"
#include "ui/form1.h"
#include "ui/form1_backup.h"
#include "ui/lng_ini_supp.h"

namespace qb::ui {

namespace {

template <typename T, typename... Args>
T* named(const char* name, Args&&... args) {
    T* w = new T(std::forward<Args>(args)...);
    w->setObjectName(name);
    return w;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// "DefaultBackDir" as stored; no value when it is absent.
std::optional<std::string> storedDefaultLocation() {
    try {
        platform::Registry reg(platform::RootKey::CurrentUser);
        if (reg.openKeyReadOnly(app::kSettingsKey) && reg.valueExists("DefaultBackDir"))
            return reg.readString("DefaultBackDir");
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

}  // namespace

OptionsTab::OptionsTab(Form1& form, QWidget* panel) : form_(form), panel_(panel) {
    // Back up mode.
    groupBox2_ = named<QGroupBox>("GroupBox2", " Back Up Mode ", panel);
    radioButton3_ = named<QRadioButton>("RadioButton3", "Overwrite the last backup file");
    radioButton4_ = named<QRadioButton>("RadioButton4", "Back Up to a new file");
    checkBox4_ = named<QCheckBox>("CheckBox4", "Keep only the last");
    edit6_ = named<QLineEdit>("Edit6", "3");
    edit6_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,2}"), edit6_));
    edit6_->setMaxLength(2);
    edit6_->setFixedWidth(edit6_->fontMetrics().horizontalAdvance("000") + 16);
    edit6_->setAccessibleName("Number of backups to keep");
    label15_ = named<QLabel>("Label15", "backups.");
    label15_->setBuddy(edit6_);
    radioButton3_->setChecked(true);
    auto* mode = new QVBoxLayout(groupBox2_);
    mode->addWidget(radioButton3_);
    mode->addWidget(radioButton4_);
    auto* keep = new QHBoxLayout;
    keep->setContentsMargins(20, 0, 0, 0);
    keep->addWidget(checkBox4_);
    keep->addWidget(edit6_);
    keep->addWidget(label15_, 1);
    mode->addLayout(keep);

    // Volumes.
    groupBox3_ = named<QGroupBox>("GroupBox3", " Volumes ", panel);
    radioButton14_ = named<QRadioButton>("RadioButton14", "Backup to one single file");
    radioButton15_ = named<QRadioButton>("RadioButton15", "Split backup to volumes");
    comboBox3_ = named<QComboBox>("ComboBox3");
    comboBox3_->addItems(
        {"Floppy Disk (1.44 Mb)", "ZIP 100Mb", "ZIP 250Mb", "CD 650Mb", "CD 700Mb"});
    comboBox3_->setAccessibleName("Volume size");
    radioButton14_->setChecked(true);
    auto* volumes = new QVBoxLayout(groupBox3_);
    volumes->addWidget(radioButton14_);
    volumes->addWidget(radioButton15_);
    auto* size = new QHBoxLayout;
    size->setContentsMargins(20, 0, 0, 0);
    size->addWidget(comboBox3_, 1);
    volumes->addLayout(size);

    // Default backup location.
    groupBox4_ = named<QGroupBox>("GroupBox4", "Defaults", panel);
    checkBox6_ = named<QCheckBox>("CheckBox6", "Enable Default Backup location");
    edit5_ = named<QLineEdit>("Edit5");
    edit5_->setReadOnly(true);
    edit5_->setAccessibleName("Default backup location");
    button12_ = named<QPushButton>("Button12", "Browers");
    button12_->setAccessibleDescription("Choose the default backup location");
    auto* defaults = new QVBoxLayout(groupBox4_);
    defaults->addWidget(checkBox6_);
    auto* location = new QHBoxLayout;
    location->addWidget(edit5_, 1);
    location->addWidget(button12_);
    defaults->addLayout(location);

    // Language.
    groupBox5_ = named<QGroupBox>("GroupBox5", "Language", panel);
    label7_ = named<QLabel>("Label7", "Language");
    comboBox4_ = named<QComboBox>("ComboBox4");
    label7_->setBuddy(comboBox4_);
    auto* language = new QHBoxLayout(groupBox5_);
    language->addWidget(label7_);
    language->addWidget(comboBox4_, 1);

    button1_ = named<QPushButton>("Button1", "Save change!", panel);
    button7_ = named<QPushButton>("Button7", "Restore to default", panel);

    auto* grid = new QGridLayout(panel);
    grid->addWidget(groupBox2_, 0, 0);
    grid->addWidget(groupBox3_, 1, 0);
    grid->addWidget(groupBox4_, 0, 1);
    grid->addWidget(groupBox5_, 1, 1);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(button1_);
    buttons->addWidget(button7_);
    grid->addLayout(buttons, 3, 0, 1, 2);

    // Keyboard order follows the screen: mode, volumes, location, language, buttons.
    QWidget* order[] = {radioButton3_,  radioButton4_, checkBox4_, edit6_, radioButton14_,
                        radioButton15_, comboBox3_,    checkBox6_, edit5_, button12_,
                        comboBox4_,     button1_,      button7_};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(radioButton3_, &QRadioButton::clicked, this, &OptionsTab::RadioButton3Click);
    connect(radioButton4_, &QRadioButton::clicked, this, &OptionsTab::RadioButton4Click);
    connect(radioButton14_, &QRadioButton::clicked, this, &OptionsTab::RadioButton14Click);
    connect(radioButton15_, &QRadioButton::clicked, this, &OptionsTab::RadioButton15Click);
    connect(comboBox3_, &QComboBox::activated, this, &OptionsTab::ComboBox3Change);
    connect(edit6_, &QLineEdit::editingFinished, this, &OptionsTab::Edit6Exit);
    connect(checkBox6_, &QCheckBox::clicked, this, &OptionsTab::CheckBox6Click);
    connect(button12_, &QPushButton::clicked, this, &OptionsTab::Button12Click);
    connect(edit5_, &QLineEdit::textChanged, this, &OptionsTab::Edit5Change);
    connect(button1_, &QPushButton::clicked, this, &OptionsTab::Button1Click);
    connect(button7_, &QPushButton::clicked, this, &OptionsTab::Button7Click);
    connect(form_.PageControl1(), &QTabWidget::currentChanged, this, [this](int index) {
        if (form_.PageControl1()->widget(index) == panel_->parentWidget()) TabSheet3Show();
    });
}

void OptionsTab::formCreate() {
    ShowOptionSettings();
}

void OptionsTab::formShow() {
    if (Form1::builtInTexts()) button1_->setText("Save changes!");
    // The default location: checked with its folder when one is stored.
    const bool stored = storedDefaultLocation().has_value();
    checkBox6_->setChecked(stored);
    edit5_->setEnabled(stored);
    button12_->setEnabled(stored);
    FillLanguageList();
    if (form_.PageControl1()->currentWidget() == panel_->parentWidget()) TabSheet3Show();
}

void OptionsTab::TabSheet3Show() {
    updateModeControls();
    if (Form1::builtInTexts()) label15_->setText("backups.");
    comboBox3_->setEnabled(radioButton15_->isChecked());
    // A stored default location stays in the field, so that saving does not
    // replace it by the documents folder; otherwise the documents are proposed.
    const std::optional<std::string> stored = storedDefaultLocation();
    edit5_->setText(q(stored && !stored->empty() ? *stored : app::settings().documentsFolder));
    ShowOptionSettings();
}

void OptionsTab::updateModeControls() {
    const bool keepable = !radioButton3_->isChecked();
    checkBox4_->setEnabled(keepable);
    edit6_->setEnabled(keepable);
    label15_->setEnabled(keepable);
}

void OptionsTab::ShowOptionSettings() {
    const app::Settings& s = app::settings();
    for (int32_t mode : {s.previousBackupMode, s.backupMode}) {
        switch (mode) {
            case app::kOverwriteLastBackup:
                radioButton3_->setChecked(true);
                break;
            case app::kNewBackupFile:
                radioButton4_->setChecked(true);
                checkBox4_->setChecked(false);
                break;
            case app::kKeepLastBackups:
                radioButton4_->setChecked(true);
                checkBox4_->setChecked(true);
                break;
            default:
                break;
        }
    }
    edit6_->setText(QString::number(s.backupKeep));
    radioButton15_->setChecked(s.multipleVolumes);
    radioButton14_->setChecked(!s.multipleVolumes);
    if (s.volumeSizeIndex >= 0 && s.volumeSizeIndex < comboBox3_->count())
        comboBox3_->setCurrentIndex(s.volumeSizeIndex);
    updateModeControls();
    comboBox3_->setEnabled(radioButton15_->isChecked());
}

void OptionsTab::ReadOptionControls() {
    app::Settings& s = app::settings();
    bool ok = false;
    const int keep = edit6_->text().toInt(&ok);
    s.backupKeep = ok && keep > 0 ? keep : 1;
    auto change = [&](int32_t mode) {
        s.previousBackupMode = s.backupMode;
        s.backupMode = mode;
    };
    if (radioButton4_->isChecked() && checkBox4_->isChecked())
        change(app::kKeepLastBackups);
    else if (radioButton4_->isChecked())
        change(app::kNewBackupFile);
    if (radioButton3_->isChecked()) change(app::kOverwriteLastBackup);
}

void OptionsTab::SaveOptionSettings() {
    app::Settings& s = app::settings();
    Edit6Exit();
    const std::string oldLanguage = s.languageName;
    if (comboBox4_->currentIndex() >= 0)
        s.languageName = comboBox4_->currentData().toString().toStdString();
    ReadOptionControls();
    // Writes "Language", the volumes, "OldBackupMode" (the mode before this save),
    // "BackupMode" and "BackupKeep".
    app::SaveOptionSettings(s);
    ShowOptionSettings();

    const std::string location = edit5_->text().toStdString();
    try {
        platform::Registry reg(platform::RootKey::CurrentUser);
        if (reg.openKey(app::kSettingsKey, false)) {
            if (checkBox6_->isChecked() && !location.empty()) {
                reg.writeString("DefaultBackDir", location);
                s.defaultBackupLocation = location;
                s.backupFolder = location;
            } else if (checkBox6_->isChecked()) {
                interaction().messageBox("Please input Backup location!", MsgIcon::Information,
                                         MsgButtons::Ok);
                edit5_->setFocus();
            } else {
                if (reg.valueExists("DefaultBackDir")) reg.deleteValue("DefaultBackDir");
                s.defaultBackupLocation.clear();
            }
            reg.closeKey();
        }
    } catch (const std::exception& e) {
        interaction().messageBox(
            std::string("The default backup location was not saved: ") + e.what(), MsgIcon::Error,
            MsgButtons::Ok);
    }
    form_.backupTab().applySettings();
    if (s.languageName != oldLanguage) form_.ReapplyLanguage();
}

void OptionsTab::RestoreOptionDefaults() {
    app::Settings& s = app::settings();
    s.backupMode = app::kNewBackupFile;
    s.backupKeep = 3;
    s.multipleVolumes = false;
    s.volumeSizeIndex = 4;
    ShowOptionSettings();
}

void OptionsTab::FillLanguageList() {
    const app::Settings& s = app::settings();
    comboBox4_->clear();
    for (const LanguageChoice& c : AvailableLanguages())
        comboBox4_->addItem(q(c.displayName), q(c.name));
    const int current = comboBox4_->findData(q(s.languageName), Qt::UserRole, Qt::MatchFixedString);
    comboBox4_->setCurrentIndex(current);
}

void OptionsTab::RadioButton3Click() {
    updateModeControls();
}

void OptionsTab::RadioButton4Click() {
    updateModeControls();
}

void OptionsTab::RadioButton14Click() {
    comboBox3_->setEnabled(false);
    app::settings().multipleVolumes = false;
}

void OptionsTab::RadioButton15Click() {
    comboBox3_->setEnabled(true);
    app::settings().multipleVolumes = true;
}

void OptionsTab::ComboBox3Change(int index) {
    app::settings().volumeSizeIndex = index;
}

void OptionsTab::Edit6Exit() {
    if (edit6_->text().isEmpty() || edit6_->text().toInt() == 0) edit6_->setText("1");
}

void OptionsTab::CheckBox6Click() {
    const bool on = checkBox6_->isChecked();
    edit5_->setEnabled(on);
    button12_->setEnabled(on);
}

void OptionsTab::Button12Click() {
    const auto start = platform::hostPath(edit5_->text().toStdString());
    const QString chosen = QFileDialog::getExistingDirectory(
        panel_->window(), "Select Folder", start ? q(start->string()) : QString());
    if (chosen.isEmpty()) return;
    const std::string win = platform::windowsPath(chosen.toStdString());
    if (!win.empty()) edit5_->setText(q(platform::includeTrailingBackslash(win)));
}

void OptionsTab::Edit5Change() {
    app::settings().defaultBackupLocation = edit5_->text().toStdString();
}

void OptionsTab::Button1Click() {
    SaveOptionSettings();
}

void OptionsTab::Button7Click() {
    RestoreOptionDefaults();
}

}  // namespace qb::ui
