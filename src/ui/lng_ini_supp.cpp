#include "ui/lng_ini_supp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QStackedWidget>
#include <QTabWidget>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/settings.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "support/interaction.h"
#include "ui/windows.h"

namespace qb::ui {

namespace {

constexpr const char* kDesignText = "qbDesignText";

// The tab widget whose page `widget` is, with its index.
QTabWidget* tabOf(QWidget& widget, int& index) {
    QWidget* stack = widget.parentWidget();
    if (!stack || !qobject_cast<QStackedWidget*>(stack)) return nullptr;
    auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget());
    if (!tabs) return nullptr;
    index = tabs->indexOf(&widget);
    return index >= 0 ? tabs : nullptr;
}

bool readable(const std::string& winPath) {
    auto host = platform::hostPath(winPath);
    if (!host) return false;
    std::ifstream in(*host, std::ios::binary);
    return static_cast<bool>(in);
}

// The widgets of `window` that the language file can reach: the window itself and
// every named descendant.
QList<QWidget*> components(QWidget& window) {
    QList<QWidget*> list{&window};
    for (QWidget* w : window.findChildren<QWidget*>())
        if (!w->objectName().isEmpty()) list.append(w);
    return list;
}

// One line of a language file: a section header or a key with its value. The
// window sections are matched by exact names, so the file is read here rather than
// through the profile functions, which ignore case.
struct IniLine {
    bool section = false;
    QString name;
    QString value;
};

QList<IniLine> readLines(const std::string& winPath) {
    QList<IniLine> lines;
    auto host = platform::hostPath(winPath);
    if (!host) return lines;
    std::ifstream in(*host, std::ios::binary);
    std::string raw;
    while (std::getline(in, raw)) {
        QString text = QString::fromUtf8(raw).trimmed();
        if (text.isEmpty() || text.startsWith(';')) continue;
        IniLine line;
        if (text.startsWith('[')) {
            const qsizetype end = text.indexOf(']');
            if (end < 0) continue;
            line.section = true;
            line.name = text.mid(1, end - 1).trimmed();
        } else {
            const qsizetype eq = text.indexOf('=');
            if (eq <= 0) continue;
            line.name = text.left(eq).trimmed();
            line.value = text.mid(eq + 1).trimmed();
            if (line.value.size() >= 2 && line.value.startsWith('"') && line.value.endsWith('"'))
                line.value = line.value.mid(1, line.value.size() - 2);
        }
        lines.append(line);
    }
    return lines;
}

QString currentText(QWidget& w, bool& ok) {
    ok = true;
    int index = 0;
    if (QTabWidget* tabs = tabOf(w, index)) return tabs->tabText(index);
    if (auto* b = qobject_cast<QAbstractButton*>(&w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(&w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(&w)) return g->title();
    if (qobject_cast<QFileDialog*>(&w)) return w.windowTitle();
    ok = false;
    return {};
}

}  // namespace

bool SetComponentText(QWidget& widget, const QString& text) {
    int index = 0;
    if (QTabWidget* tabs = tabOf(widget, index)) {
        tabs->setTabText(index, text);
        return true;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(&widget)) {
        b->setText(text);
        return true;
    }
    if (auto* l = qobject_cast<QLabel*>(&widget)) {
        l->setText(text);
        return true;
    }
    if (auto* g = qobject_cast<QGroupBox*>(&widget)) {
        g->setTitle(text);
        return true;
    }
    if (qobject_cast<QFileDialog*>(&widget)) {
        widget.setWindowTitle(text);
        return true;
    }
    return false;
}

void RecordDesignTexts(QWidget& window) {
    for (QWidget* w : components(window)) {
        if (w == &window) continue;  // a window's caption is its own business
        bool ok = false;
        const QString text = currentText(*w, ok);
        if (ok && !w->property(kDesignText).isValid()) w->setProperty(kDesignText, text);
    }
}

void RestoreDesignTexts(QWidget& window) {
    for (QWidget* w : components(window)) {
        const QVariant design = w->property(kDesignText);
        if (design.isValid()) SetComponentText(*w, design.toString());
    }
}

void TLngINISupp::Apply(const QList<QWidget*>& targets) {
    if (fileName_.empty()) {
        interaction().messageBox("ERROR!!!\r\nFile not preset!", MsgIcon::None, MsgButtons::Ok);
        throw OperationAbandoned();
    }
    if (!readable(fileName_)) {
        interaction().messageBox("WARNING!!!\r\n Language File Not Found! Its now creating a new!",
                                 MsgIcon::None, MsgButtons::Ok);
        return;
    }
    QList<QWidget*> windowList = targets.isEmpty() ? windows().all() : targets;
    QList<QWidget*> matching;
    for (const IniLine& line : readLines(fileName_)) {
        if (line.section) {
            matching.clear();
            for (QWidget* window : windowList)
                if (window->objectName() == line.name) matching.append(window);
            continue;  // "Language", "Messages" and unknown windows match nothing
        }
        for (QWidget* window : matching)
            for (QWidget* w : components(*window))
                if (w != window && w->objectName() == line.name) SetComponentText(*w, line.value);
    }
}

QList<LanguageChoice> AvailableLanguages() {
    QList<LanguageChoice> list;
    for (const std::string& folder : app::LanguageFolders(app::settings())) {
        auto host = platform::hostPath(folder);
        std::error_code ec;
        if (!host || !std::filesystem::is_directory(*host, ec)) continue;
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(*host, ec))
            if (entry.path().extension() == ".lng" && entry.is_regular_file(ec))
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto& f : files) {
            LanguageChoice c;
            c.name = f.stem().string();
            bool known = false;
            for (const LanguageChoice& other : list)
                if (QString::fromStdString(other.name)
                        .compare(QString::fromStdString(c.name), Qt::CaseInsensitive) == 0)
                    known = true;
            if (known) continue;
            c.file = folder + f.filename().string();
            c.displayName = platform::IniFile(c.file).readString("Language", "Language", c.name);
            list.append(c);
        }
    }
    return list;
}

}  // namespace qb::ui
