#include "clients/pegasus.h"

#include <string>
#include <vector>

#include "catalog/client_paths.h"
#include "catalog/identities.h"
#include "clients/adapter_support.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "regfile/io_registry.h"

namespace qb::clients {

namespace {

using platform::RootKey;

// The key whose default value is the installation's user mode, without the
// leading backslash as registry files name it.
constexpr const char* kUserModeKey = "SOFTWARE\\Classes\\software\\pegasus mail\\Username";
constexpr const char* kMailboxValue =
    "the default value of HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\software\\pegasus mail\\MailBox";
constexpr const char* kDefaultUser = "Default User";

std::string baseFolder() {
    return platform::excludeTrailingBackslash(PegasusBaseFolder());
}

void backup(jobs::BackupContext& ctx) {
    AdapterRun run;
    const std::string base = baseFolder();
    // Without a mailbox path every user folder would be a folder at the root of
    // some drive: nothing of this installation is there.
    if (!IsFullPath(base)) {
        RecordError("Pegasus Mail's mailbox path (" + std::string(kMailboxValue) + ") " +
                    (PegasusMailboxPath().empty()
                         ? std::string("is not set")
                         : "\"" + PegasusMailboxPath() + "\" is no full path") +
                    ": nothing was backed up.");
        return;
    }
    ctx.work = base;
    // The mode decides, as it does for the identity list: in single-user mode the
    // one user's mail is in the "Mail" folder, also when an old user list is left.
    const bool singleUser = platform::lowerAscii(PegasusUserMode()) == "single-user mode";
    const bool userList = platform::fileExists(base + "\\Pmail.usr");
    jobs::StartBackupFrame(ctx);

    std::vector<std::string> done;
    for (int i = 0; i < ctx.identities.count; ++i) {
        if (!ctx.identities[i].checked) continue;
        const std::string& user = ctx.identities[i].name;
        if (std::string why = FolderNameProblem(user); !why.empty()) {
            RecordError("The Pegasus Mail user \"" + user +
                        "\" was not backed up: the name holds " + why + ".");
            continue;
        }
        bool twice = false;
        for (const std::string& d : done)
            twice = twice || platform::sameName(d, user);
        if (twice) continue;
        done.push_back(user);
        const std::string folder = user == kDefaultUser && (singleUser || !userList)
                                       ? base + "\\Mail"
                                       : base + "\\" + user;
        if (platform::directoryExists(folder))
            jobs::AddFolderToJob(folder, user, folder + "\\", "*");
        else
            RecordError("The mail folder " + folder + " of the Pegasus Mail user \"" + user +
                        "\" does not exist: nothing of it was backed up.");
        jobs::CloseProgressGroup(ctx, item::AccountsSettings);
    }

    const std::string userReg = FreshStagingPath("user.reg");
    TIORegistry& io = jobs::IORegistry();
    if (!io.ExportKey("HKEY_LOCAL_MACHINE", std::string("\\") + kUserModeKey, false, userReg))
        RecordError("Cannot save Pegasus Mail's user mode: " + io.LastError());
    jobs::AddStagingFileToJob("user.reg");
    jobs::AddFileToJob(base + "\\Pmail.usr", "", base + "\\");

    jobs::WriteManifest(ctx);
    jobs::AddStagingFileToJob(jobs::kManifestName);
    jobs::FinishBackupFrame(ctx);
}

bool restore(jobs::RestoreContext& rc) {
    AdapterRun run;
    if (!BeginRestore(rc.backupPath)) return true;
    const bool toFolder = rc.toFolder();
    const std::string staging = jobs::archiveJob().stagingFolder;
    std::string base;
    if (toFolder) {
        base = platform::excludeTrailingBackslash(rc.targetFolder);
    } else {
        base = baseFolder();
        if (!IsFullPath(base)) {
            // The temporary folder itself: the staging folder goes with the job.
            base = platform::excludeTrailingBackslash(platform::tempFolder()) + "\\PegasusMail";
            RecordError("Pegasus Mail's mailbox path (" + std::string(kMailboxValue) +
                        ") is not set on this machine: the backup was restored into " + base + ".");
        }
    }

    for (int i = 0; i < rc.identities.count; ++i) {
        if (!rc.identities[i].checked) continue;
        const std::string& user = rc.identities[i].name;
        if (std::string why = FolderNameProblem(user); !why.empty()) {
            RecordError("The Pegasus Mail user \"" + user + "\" was not restored: the name holds " +
                        why + ".");
            continue;
        }
        const std::string destination =
            !toFolder && user == kDefaultUser ? base + "\\Mail\\" : base + "\\" + user + "\\";
        RestoreTree(rc.backupPath, user, destination);
    }

    if (toFolder) {
        Extraction cycle;
        cycle.addFile("Pmail.usr", rc.targetFolder);
        cycle.addFile("user.reg", rc.targetFolder);
        cycle.run(rc.backupPath);
        ConvertRegistryFileForHand(rc.targetFolder + "user.reg");
        return jobs::archiveJob().errorFlag;
    }
    ExtractFile(rc.backupPath, "Pmail.usr", base + "\\");
    // A user mode file left by an earlier job is never taken for this backup's.
    const std::string userReg = ExtractToStaging(rc.backupPath, "user.reg");
    if (!userReg.empty())
        ImportBackupRegistryFile(userReg, "user.reg", {{RootKey::LocalMachine, kUserModeKey}},
                                 false);
    return jobs::archiveJob().errorFlag;
}

}  // namespace

void RegisterPegasus() {
    jobs::RegisterBackupAdapter(kind::PegasusMail, backup);
    jobs::RegisterRestoreAdapter(kind::PegasusMail, restore, restore);
}

}  // namespace qb::clients
