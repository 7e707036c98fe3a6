#include "ui/gui_main.h"

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "platform/registry.h"
#include "ui/artwork.h"
#include "ui/form1.h"
#include "ui/gui_interaction.h"
#include "ui/tray_icon.h"
#include "ui/windows.h"

namespace qb::ui {

bool CanOpenXDisplay();

namespace {

std::string platformName() {
    const char* env = std::getenv("QT_QPA_PLATFORM");
    return env ? env : "";
}

std::unique_ptr<QApplication> makeApplication(int& argc, char** argv) {
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName("quillbox");
    QApplication::setApplicationDisplayName("Quillbox");
    QApplication::setWindowIcon(AppIcon());
    QApplication::setDesktopFileName("quillbox");
    return app;
}

// A command-line run talks on the console, but keeps the tray icon alive while
// its jobs pump messages.
class ConsoleWithPump : public ConsoleInteraction {
  public:
    void processMessages() override { QApplication::processEvents(QEventLoop::AllEvents); }
};

}  // namespace

bool DisplayAvailable(std::string& why) {
    const std::string platform = platformName();
    if (!platform.empty() && platform.rfind("xcb", 0) != 0) return true;  // offscreen, wayland, ...
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        why = "no display (DISPLAY is not set)";
        return false;
    }
    // Qt ends the process when it cannot reach the X server: ask first.
    if (CanOpenXDisplay()) return true;
    why = std::string("cannot open the display ") + display;
    return false;
}

int RunWindows(int& argc, char** argv, const std::string& openBackupFile,
               std::optional<bool> archiveLoaded) {
    std::string why;
    if (!DisplayAvailable(why)) {
        std::cerr << "quillbox: " << why
                  << ": the main window cannot open; the command-line switches work without "
                     "one (quillbox --help)\n";
        return 1;
    }
    auto app = makeApplication(argc, argv);
    GuiInteraction gui;
    ScopedInteraction scoped(gui);
    CreateWindows();
    Form1& form = *windows().form1;
    form.openBackupFile = openBackupFile;
    const bool loaded = form.FormCreate(archiveLoaded);
    int status = 0;
    if (loaded) {
        form.show();
        status = QApplication::exec();
    } else {
        status = 1;  // the archive library's message has been shown
    }
    DestroyWindows();
    platform::flushRegistry();
    return status;
}

int WithTrayIcon(int& argc, char** argv, int (*run)(void*), void* context) {
    std::string why;
    if (!DisplayAvailable(why) || platformName() == "offscreen") return run(context);
    auto app = makeApplication(argc, argv);
    ConsoleWithPump console;
    ScopedInteraction scoped(console);
    TIconTaskBar tray;
    tray.SetHint("Quillbox");
    tray.ShowIcon();
    QApplication::processEvents();
    const int status = run(context);
    tray.HideIcon();
    return status;
}

}  // namespace qb::ui
