// Takes pictures of the real windows on a real X server, for the manual and the
// README: the main window on each tab, and the about window. Run by
// scripts/screenshots under Xvfb on a demo machine (QUILLBOX_PREFIX).
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QThread>
#include <cstdio>

#include "app/settings.h"
#include "platform/registry.h"
#include "ui/about_form.h"
#include "ui/form1.h"
#include "ui/gui_interaction.h"
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
        ok = shoot(form, out + "/main-" + names[i] + ".png") && ok;
    }
    form.PageControl1()->setCurrentIndex(0);
    form.ShowWizardMode();
    ok = shoot(form, out + "/main-wizard.png") && ok;
    form.ShowStandardMode();
    qb::ui::TForm4& about = *qb::ui::windows().form4;
    about.move(60, 60);
    about.show();
    ok = shoot(about, out + "/about.png") && ok;
    about.hide();
    qb::ui::DestroyWindows();
    qb::platform::flushRegistry();
    return ok ? 0 : 1;
}
