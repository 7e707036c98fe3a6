// The window translation: applies a language file's window sections to the
// program's windows. A section names a window by its object name ("Form1",
// "Form2", ..., "passwordform1"); each key names a widget of that window by its
// object name ("Button2", "TabSheet4", "Label18"); its value becomes the widget's
// text. Names are compared exactly, so "form1" or "button2" change nothing.
#pragma once

#include <QList>
#include <string>

#include "support/msg_texts.h"

class QWidget;

namespace qb::ui {

class TLngINISupp : public LanguageFileSource {
  public:
    void SetFileName(std::string path) { fileName_ = std::move(path); }
    const std::string& FileName() const { return fileName_; }
    void ClearFileName() { fileName_.clear(); }
    std::string languageFileName() const override { return fileName_; }

    // Applies the file to `windows` (all the program's windows when empty). Without
    // a file name: "File not preset!" and OperationAbandoned. An unreadable file:
    // a warning, and the windows keep their texts.
    void Apply(const QList<QWidget*>& windows = {});

  private:
    std::string fileName_;
};

// Sets the text of `widget` as the language file does: the caption of buttons,
// labels, check boxes, radio buttons and tab sheets, the title of group boxes and
// dialogs. False for a widget of another kind.
bool SetComponentText(QWidget& widget, const QString& text);

// Remembers the current text of every translatable widget of `window` as its
// design text, and puts those texts back (before another language is applied, so
// that a file without some key does not leave the previous language's text).
void RecordDesignTexts(QWidget& window);
void RestoreDesignTexts(QWidget& window);

// The language files that can be chosen: "Name.lng" in the program's folder and
// in the user's data folder ($XDG_DATA_HOME/quillbox), each with the display name
// of its "Language" value. One entry per file name; the program's folder wins.
struct LanguageChoice {
    std::string name;         // the file name without ".lng": what "Language" stores
    std::string displayName;  // [Language] Language=, or the name when missing
    std::string file;         // Windows path of the file
};
QList<LanguageChoice> AvailableLanguages();

}  // namespace qb::ui
