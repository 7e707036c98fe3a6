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
#include "platform/text_codec.h"
#ifdef QB_HAVE_GUI
#include "ui/gui_main.h"
#endif

namespace {

constexpr const char* kHelp = R"(Usage:
  quillbox /b /c:CLIENTS /p:FOLDER - [--verbose] [--password-file FILE | --ask-password]
  quillbox /r /f:BACKUPFILE /p:FOLDER [--no-undo] [--verbose]
                                      [--password-file FILE | --ask-password]
  quillbox /t /f:BACKUPFILE
  quillbox /o [BACKUPFILE]
  quillbox /auto
  quillbox /uninstall
  quillbox --help | /? | --version

/b  Backs up every client named in CLIENTS into FOLDER (created when missing),
    each into its own file named after the client and today's date, such as
    "OExpressBackup 6-12-2026.ebk". CLIENTS holds one or more of
      oexpress msoutlook eudora incredimail pegasus thebat pocomail opera
      netscape favorites
    in any letter case and with any separator ("thebat,eudora"); they are backed
    up in this order. A part of CLIENTS that names no client ("outlok") stops
    the run before anything is backed up. pocomail, opera and netscape back up
    every installed version of the client, each into its own file. A client
    that is not installed on the machine is not backed up (and the run fails).
    An item the machine has no data for (no address book, say) adds nothing
    and is noted on standard error; the rest is backed up. A fourth parameter
    is required; its text does not matter (use -).

/r  Restores BACKUPFILE directly into its e-mail client. First the client's
    current data of the same identities and items is backed up into the
    automatic backup folder as "BeforeRestore <client> <date> <time>.ebk"; the
    result line names that file, and /r of it undoes the restore. When that
    backup fails nothing is restored. --no-undo skips it (for restores onto a
    fresh machine). When the client is running (and nobody can close it) the
    data goes into FOLDER instead, from where it can be imported by hand;
    FOLDER is created when missing. "/p" without ":FOLDER" restores nothing.

Protected backups: with --password-file FILE (the first line of FILE, which
only its owner may read), --ask-password (typed twice on the terminal, not
shown) or the environment variable QUILLBOX_PASSWORD, /b encrypts its backups
with AES-256; the password has at least 5 characters. /r takes the password of
a protected backup from the same places, else asks on the terminal; without a
terminal it fails. A forgotten password cannot be recovered.

/t  Tests BACKUPFILE (with all its volumes): reads every entry back and checks
    its CRC-32 (and, in a protected backup, its authentication code). The exit
    status is 0 when every entry is whole; otherwise the first damaged entry is
    named and the status is 1. Every backup is tested this way before it
    replaces an older file of its name.

/o  Opens the main window, with BACKUPFILE on the wizard's page "Choose items
    to restore" (a file manager runs this for an .ebk file); without
    BACKUPFILE, as quillbox without switches.

/auto       Backs up every scheduled client into the automatic backup folder,
            deletes older automatic backups as the backup mode says, and adds
            one line per client to quillbox-auto.log in that folder. The
            backups are protected when the setting PasswordFile names a
            password file, or QUILLBOX_PASSWORD is set.
/uninstall  Stops the scheduler of the machine (quillsched) and deletes it from
            the program's folder.

FOLDER and BACKUPFILE are Windows paths of the machine (C:\Backups), or paths of
this computer (/home/me/backups, ./backups), which the machine sees on drive Z:.
Switches and client names may be written in any letter case.

The machine is the Wine prefix named by QUILLBOX_PREFIX, else WINEPREFIX, else
~/.wine, else Quillbox's own prefix.

One line per client on standard output tells what was backed up or restored
where; notes and errors go to standard error, and so does progress: on a
terminal one line per client, updated in place; otherwise none unless
--verbose. The exit status is 0 when every
backup or restore asked for succeeded, 1 when one failed, was skipped because
its client is running, or the command was invalid.
)";

}  // namespace

namespace {

struct CommandLineRun {
    const std::vector<std::string>* params = nullptr;
    const qb::app::CommandLineOptions* options = nullptr;
    bool archiveLoaded = false;
    qb::app::CommandLineResult result;
};

int runCommandLine(void* context) {
    auto& run = *static_cast<CommandLineRun*>(context);
    run.archiveLoaded = qb::app::StartUp();
    run.result = qb::app::RunCommandLine(*run.params, std::cout, *run.options);
    int status = run.result.failed ? 1 : 0;
    if (!run.archiveLoaded) status = 1;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    qb::app::CommandLineOptions options;
    const std::vector<std::string> params =
        qb::app::TakeOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    const std::string first = params.empty() ? std::string() : params[0];
    std::string lower;
    for (char c : first)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "--help" || lower == "-h" || lower == "/?" || lower == "/h") {
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
        if (lower == "/o") {
            // What the desktop runs, from the menu (no file) as for a backup opened
            // in a file manager. No job runs here: the window starts up itself, so
            // that a start-up message (a missing archive library) is a message box
            // as for a plain start, not a console line nobody sees.
            const qb::app::CommandLineResult open =
                qb::app::RunCommandLine(params, std::cout, options);
            if (open.failed) return 1;
#ifdef QB_HAVE_GUI
            return qb::ui::RunWindows(argc, argv, open.openBackupFile);
#else
            std::cerr << "quillbox: built without windows, so the main window cannot open for /o\n";
            return 1;
#endif
        }
        CommandLineRun run;
        run.params = &params;
        run.options = &options;
#ifdef QB_HAVE_GUI
        int status = qb::ui::WithTrayIcon(argc, argv, runCommandLine, &run);
#else
        int status = runCommandLine(&run);
#endif
        qb::platform::flushRegistry();
        return status;
    } catch (const std::exception& e) {
        std::cerr << "quillbox: " << qb::platform::escapeControls(e.what(), true) << "\n";
        return 1;
    }
}
