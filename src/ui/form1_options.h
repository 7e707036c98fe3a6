// The Options tab: the backup mode (overwrite, new file, keep only the last N),
// single file or volumes of a chosen size, the default backup location, and the
// language of the windows. Nothing is written until "Save changes!".
#pragma once

#include <QObject>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace qb::ui {

class Form1;

class OptionsTab : public QObject {
    Q_OBJECT
  public:
    OptionsTab(Form1& form, QWidget* panel);

    void formCreate();
    void applySettings() {}
    void formShow();
    void formClose() {}

    // The settings in memory into the controls: the backup mode, keep count and
    // volumes (the language and location are the tab's show).
    void ShowOptionSettings();
    // The controls into the settings in memory: keep count and backup mode.
    void ReadOptionControls();
    // "Save changes!": the Options values and "DefaultBackDir" into the registry,
    // then the chosen language applied when it changed.
    void SaveOptionSettings();
    // "Restore to default": the defaults into memory and the controls, unsaved.
    void RestoreOptionDefaults();
    // The language list, from the language files found.
    void FillLanguageList();

  public slots:
    void TabSheet3Show();
    void RadioButton3Click();
    void RadioButton4Click();
    void RadioButton14Click();
    void RadioButton15Click();
    void ComboBox3Change(int index);
    void Edit6Exit();
    void CheckBox6Click();
    void Button12Click();
    void Edit5Change();
    void Button1Click();
    void Button7Click();

  private:
    void updateModeControls();

    Form1& form_;
    QWidget* panel_;
    QGroupBox* groupBox2_;
    QRadioButton* radioButton3_;
    QRadioButton* radioButton4_;
    QCheckBox* checkBox4_;
    QLineEdit* edit6_;
    QLabel* label15_;
    QGroupBox* groupBox3_;
    QRadioButton* radioButton14_;
    QRadioButton* radioButton15_;
    QComboBox* comboBox3_;
    QGroupBox* groupBox4_;
    QCheckBox* checkBox6_;
    QLineEdit* edit5_;
    QPushButton* button12_;
    QGroupBox* groupBox5_;
    QLabel* label7_;
    QComboBox* comboBox4_;
    QPushButton* button1_;
    QPushButton* button7_;
};

}  // namespace qb::ui
