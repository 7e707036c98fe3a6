// quillbox: backs up and restores the data of e-mail clients. Without windows it
// runs the command-line switches and ends; the exit status tells whether every
// backup or restore asked for succeeded.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/startup.h"
#include "platform/registry.h"
#ifdef QB_HAVE_GUI
#include "ui/gui_main.h"
#endif

namespace {

constexpr const char* kHelp = R"(Usage:
  quillbox /b /c:CLIENTS /p:FOLDER -
  quillbox /r /f:BACKUPFILE /p:FOLDER
  quillbox /auto
  quillbox /uninstall
  quillbox --help | --version

/b  Backs up every client named in CLIENTS into FOLDER (created when missing),
    each into its own file named after the client and today's date, such as
    "OExpressBackup 6-12-2026.ebk". CLIENTS holds one or more of
      oexpress msoutlook eudora incredimail pegasus thebat pocomail opera
      netscape favorites
    in any letter case and with any separator ("thebat,eudora"); they are backed
    up in this order. pocomail, opera and netscape back up every installed
    version of the client, each into its own file. A fourth parameter is
    required; its text does not matter (use -).

/r  Restores BACKUPFILE directly into its e-mail client. When the client is
    running (and nobody can close it) the data goes into FOLDER instead, from
    where it can be imported by hand; FOLDER is created when missing. "/p"
    without ":FOLDER" restores nothing.

/auto       Backs up every scheduled client into the automatic backup folder,
            deletes older automatic backups as the backup mode says, and adds
            one line per client to quillbox-auto.log in that folder.
/uninstall  Stops the scheduler of the machine (quillsched) and deletes it from
            the program's folder.

FOLDER and BACKUPFILE are Windows paths of the machine (C:\Backups), or paths of
this computer (/home/me/backups, ./backups), which the machine sees on drive Z:.
Switches and client names may be written in any letter case.

The machine is the Wine prefix named by QUILLBOX_PREFIX, else WINEPREFIX, else
~/.wine, else Quillbox's own prefix.

One line per client on standard output tells what was backed up or restored
where; progress and errors go to standard error. The exit status is 0 when every
backup or restore asked for succeeded, 1 when one failed, was skipped because
its client is running, or the command was invalid.
)";

}  // namespace

namespace {

struct CommandLineRun {
    const std::vector<std::string>* params = nullptr;
    bool archiveLoaded = false;
    qb::app::CommandLineResult result;
};

int runCommandLine(void* context) {
    auto& run = *static_cast<CommandLineRun*>(context);
    run.archiveLoaded = qb::app::StartUp();
    run.result = qb::app::RunCommandLine(*run.params);
    int status = run.result.failed ? 1 : 0;
    if (!run.archiveLoaded) status = 1;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> params(argv + 1, argv + argc);
    if (!params.empty() && (params[0] == "--help" || params[0] == "-h")) {
        std::cout << kHelp;
        return 0;
    }
    if (!params.empty() && params[0] == "--version") {
        std::cout << "quillbox " QB_VERSION "\n";
        return 0;
    }
    // Result lines and progress keep their order when both go to one file.
    std::cout << std::unitbuf;
    try {
        if (params.empty()) {
#ifdef QB_HAVE_GUI
            return qb::ui::RunWindows(argc, argv);
#else
            std::cerr << "quillbox: built without windows; use the command-line switches "
                         "(quillbox --help)\n";
            return 1;
#endif
        }
        CommandLineRun run;
        run.params = &params;
#ifdef QB_HAVE_GUI
        int status = qb::ui::WithTrayIcon(argc, argv, runCommandLine, &run);
#else
        int status = runCommandLine(&run);
#endif
        qb::platform::flushRegistry();
        if (!run.result.terminate && run.archiveLoaded) {
#ifdef QB_HAVE_GUI
            // "/o": the main window opens on the backup file.
            const int windowStatus =
                qb::ui::RunWindows(argc, argv, run.result.openBackupFile, run.archiveLoaded);
            return status != 0 ? status : windowStatus;
#else
            std::cerr << "quillbox: built without windows; /o cannot open the main window\n";
            return 1;
#endif
        }
        return status;
    } catch (const std::exception& e) {
        std::cerr << "quillbox: " << e.what() << "\n";
        return 1;
    }
}
