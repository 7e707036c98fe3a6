// Protected backups end to end on a fake machine with the real Eudora adapter:
// made from every password source, opened by 7-Zip, restored with the right
// password like an unprotected one, refused without it, a changed entry caught,
// and the password nowhere on the machine.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/password.h"
#include "app_fixture.h"
#include "catalog/backup_name.h"
#include "catalog/identities.h"
#include "clients/all_clients.h"
#include "jobs/restore_job.h"
#include "platform/files.h"
#include "testkit/clients_fixture.h"
#include "testkit/zip_check.h"

using namespace qb;
using namespace qb::app;
using platform::RootKey;
namespace fs = std::filesystem;

namespace {

const std::string kPassword = "Sesame, open 42";

// Every file below `root` by relative name, with its content.
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            out[fs::relative(e.path(), root).string()] = test::readHostFile(e.path());
    return out;
}

int shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// Runs quillbox on a terminal of its own (a pseudo-terminal), answering each
// prompt that ends in ": " with the next of `answers`; returns all it showed.
std::string runOnTerminal(const test::FakeMachine& m, const std::vector<std::string>& args,
                          std::vector<std::string> answers, int& status) {
    platform::flushRegistry();
    std::vector<std::string> argv{test::kQuillbox};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const std::string prefix = m.prefix().string();
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::setenv("QUILLBOX_PREFIX", prefix.c_str(), 1);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    std::string shown;
    size_t answered = 0, answeredAt = 0;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) break;
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        shown.append(buf, static_cast<size_t>(n));
        // A prompt waits for its answer at the end of what was shown.
        if (shown.ends_with(": ") && shown.size() > answeredAt && answered < answers.size()) {
            answeredAt = shown.size();
            const std::string line = answers[answered++] + "\n";
            if (::write(master, line.data(), line.size()) < 0) break;
        }
    }
    ::close(master);
    int raw_status = 0;
    ::waitpid(pid, &raw_status, 0);
    status = WIFEXITED(raw_status) ? WEXITSTATUS(raw_status) : -1;
    platform::unloadRegistry();
    return shown;
}

class ProtectedBackup : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        clients::RegisterAllClients();
        test::installEudora(machine);
        passwordFile = keys.path() / "quillbox.pw";
        test::writeHostFile(passwordFile, kPassword + "\nsecond line is not the password\n");
        fs::permissions(passwordFile, fs::perms::owner_read | fs::perms::owner_write);
        ::unsetenv("QUILLBOX_PASSWORD");
    }
    void TearDown() override {
        ::unsetenv("QUILLBOX_PASSWORD");
        AppFixture::TearDown();
    }
    std::string backupIn(const std::string& folder) {
        return folder + "\\" + DefaultBackupFileName(kind::Eudora);
    }
    // The backup is protected: every entry AES AE-2 without a CRC, 7-Zip tests
    // it with the password and refuses another.
    void expectProtected(const std::string& file) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(platform::fileExists(file)) << err << out.str();
        const fs::path host = machine.host(file);
        const std::vector<test::StoredEntry> entries = test::checkAe2(test::readHostFile(host));
        EXPECT_GE(entries.size(), 10u);
        EXPECT_EQ(shell("7z t '-p" + kPassword + "' '" + host.string() + "'"), 0);
        EXPECT_NE(shell("7z t -pwrong '" + host.string() + "'"), 0);
    }
    // Restores `file` into a folder of its own with the job, the password given
    // by the prompt; returns the folder's files.
    std::map<std::string, std::string> restoreToFolder(const std::string& file,
                                                       const std::string& folder,
                                                       std::optional<std::string> password,
                                                       bool* errorFlag = nullptr) {
        const jobs::UnlockResult unlocked =
            jobs::UnlockBackup(file, [&](bool wrongBefore) -> std::optional<std::string> {
                if (wrongBefore) return std::nullopt;
                return password;
            });
        if (unlocked != jobs::UnlockResult::Open) return {};
        const ClientKind kind = jobs::ReadBackupClient(file);
        EXPECT_EQ(kind, kind::Eudora);
        std::vector<bool> present;
        uint8_t count = 0;
        std::vector<std::string> ids, items;
        bool mismatch = false;
        jobs::ListBackupContents(jobs::ListKindOf(kind), file, present, count, ids, items,
                                 mismatch);
        Selection idSel, itemSel;
        for (const std::string& id : ids)
            idSel.add(id, true);
        for (size_t k = 0; k < items.size(); ++k)
            itemSel.add(items[k], present[k]);
        const bool error = jobs::RunRestoreToFolder(file, folder, kind, idSel, itemSel);
        if (errorFlag) *errorFlag = error;
        jobs::archiveJob().password.clear();
        return treeOf(machine.host(folder));
    }

    test::TempDir keys;
    fs::path passwordFile;
};

}  // namespace

TEST_F(ProtectedBackup, EverySourceProtectsAndTheRightPasswordRestoresTheSame) {
    // An unprotected backup to compare with.
    ASSERT_FALSE(run({"/b", "/c:eudora", "/p:C:\\Plain", "-"}).failed) << err;
    // The password from a file (the switch counts as the fourth parameter).
    ASSERT_FALSE(
        run({"/b", "/c:eudora", "/p:C:\\File", "--password-file", passwordFile.string()}).failed)
        << err;
    expectProtected(backupIn("C:\\File"));
    // From the environment.
    ::setenv("QUILLBOX_PASSWORD", kPassword.c_str(), 1);
    ASSERT_FALSE(run({"/b", "/c:eudora", "/p:C:\\Env", "-"}).failed) << err;
    ::unsetenv("QUILLBOX_PASSWORD");
    expectProtected(backupIn("C:\\Env"));
    // Scheduled, with the password file named in the settings.
    test::setString(RootKey::CurrentUser, kSettingsKey, "PasswordFile", passwordFile.string());
    settings().autoBackupFolder = "C:\\Auto";
    const std::string entry = std::string(kScheduleKey) + "\\3";
    test::setDword(RootKey::CurrentUser, entry, "Selected", 1);
    std::vector<std::string> ids, items;
    ListIdentitiesAndItems(kind::Eudora, ids, items);
    for (const std::string& id : ids)
        test::setDword(RootKey::CurrentUser, entry + "\\Identity", id, 1);
    for (const std::string& item : items)
        test::setDword(RootKey::CurrentUser, entry + "\\Items", item, 1);
    ASSERT_FALSE(run({"/auto"}).failed) << err;
    expectProtected(backupIn("C:\\Auto"));

    // A password file that others can read is refused, and no backup is made
    // without the password.
    fs::permissions(passwordFile, fs::perms::group_read, fs::perm_options::add);
    platform::deleteFile(backupIn("C:\\Auto"));
    EXPECT_TRUE(run({"/auto"}).failed);
    EXPECT_FALSE(platform::fileExists(backupIn("C:\\Auto")));
    EXPECT_NE(err.find("can be read by others"), std::string::npos) << err;
    EXPECT_NE(machine.readFile("C:\\Auto\\quillbox-auto.log").find("can be read by others"),
              std::string::npos);
    EXPECT_TRUE(
        run({"/b", "/c:eudora", "/p:C:\\Loose", "-", "--password-file", passwordFile.string()})
            .failed);
    EXPECT_FALSE(platform::directoryExists("C:\\Loose"));
    // Too short for a new backup.
    ::setenv("QUILLBOX_PASSWORD", "abcd", 1);
    EXPECT_TRUE(run({"/b", "/c:eudora", "/p:C:\\Short", "-"}).failed);
    EXPECT_NE(err.find("The password must be at least 5 characters long"), std::string::npos)
        << err;
    ::unsetenv("QUILLBOX_PASSWORD");

    // The right password restores what the unprotected backup restores.
    const auto plain = restoreToFolder(backupIn("C:\\Plain"), "C:\\R\\Plain", std::nullopt);
    ASSERT_GE(plain.size(), 10u);
    EXPECT_EQ(restoreToFolder(backupIn("C:\\Env"), "C:\\R\\Env", kPassword), plain);
    // A wrong or missing password opens nothing and writes nothing.
    EXPECT_TRUE(restoreToFolder(backupIn("C:\\Env"), "C:\\R\\Wrong", "wrong one").empty());
    EXPECT_TRUE(restoreToFolder(backupIn("C:\\Env"), "C:\\R\\None", std::nullopt).empty());
    EXPECT_FALSE(platform::directoryExists("C:\\R\\Wrong"));
    EXPECT_FALSE(platform::directoryExists("C:\\R\\None"));

    // A changed byte in one entry: that entry is reported and not written, the
    // others are restored.
    const fs::path host = machine.host(backupIn("C:\\Env"));
    std::string bytes = test::readHostFile(host);
    const std::vector<test::StoredEntry> entries = test::checkAe2(bytes);
    const auto victim = std::find_if(entries.begin(), entries.end(), [](const auto& e) {
        return e.name.ends_with("Projects.mbx") && !e.name.ends_with("Client Projects.mbx");
    });
    ASSERT_NE(victim, entries.end());
    bytes[victim->dataOffset + 18 + victim->compressed / 3] ^= 0x01;
    test::writeHostFile(host, bytes);
    bool error = false;
    const auto damaged = restoreToFolder(backupIn("C:\\Env"), "C:\\R\\Damaged", kPassword, &error);
    EXPECT_TRUE(error);
    EXPECT_NE(jobs::archiveJob().errorText.find("Projects.mbx"), std::string::npos)
        << jobs::archiveJob().errorText;
    EXPECT_EQ(damaged.size(), plain.size() - 1);
    for (const auto& [name, content] : damaged) {
        EXPECT_FALSE(name.ends_with("/Projects.mbx") && !name.ends_with("Client Projects.mbx"))
            << name;
        EXPECT_EQ(plain.at(name), content) << name;
    }

    // The password is in no file of the machine: not in the registry's hives,
    // the staging folder, the log or the backups, and not on the command line.
    platform::flushRegistry();
    for (const auto& e : fs::recursive_directory_iterator(machine.prefix())) {
        if (!e.is_regular_file() || e.is_symlink()) continue;
        EXPECT_EQ(test::readHostFile(e.path()).find(kPassword), std::string::npos) << e.path();
    }
    EXPECT_EQ(test::readHostFile("/proc/self/cmdline").find(kPassword), std::string::npos);
}

TEST_F(ProtectedBackup, ARestoreWithoutTheRightPasswordFailsNamingTheFile) {
    ASSERT_FALSE(
        run({"/b", "/c:eudora", "/p:C:\\B", "--password-file", passwordFile.string()}).failed)
        << err;
    const std::string file = backupIn("C:\\B");
    // A mailbox lost since the backup: a refused restore does not bring it back.
    const std::string lost = "C:\\Eudora\\Work.fol\\Projects.mbx";
    const std::string content = machine.readFile(lost);
    platform::deleteFile(lost);

    // Nobody to ask (the child's input is no terminal) and no password given.
    const test::ProgramRun none =
        test::runProgram(machine, test::kQuillbox, {"/r", "/f:" + file, "/p:C:\\Restored"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find(file + " is protected by a password"), std::string::npos) << none.err;
    EXPECT_EQ(none.out, "nothing restored\n");
    // A wrong password from the environment.
    ::setenv("QUILLBOX_PASSWORD", "not the password", 1);
    const test::ProgramRun wrong =
        test::runProgram(machine, test::kQuillbox, {"/r", "/f:" + file, "/p:C:\\Restored"});
    ::unsetenv("QUILLBOX_PASSWORD");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("Incorect password!"), std::string::npos) << wrong.err;
    EXPECT_NE(wrong.err.find(file), std::string::npos) << wrong.err;
    EXPECT_EQ(wrong.err.find("not the password"), std::string::npos) << wrong.err;
    EXPECT_FALSE(platform::fileExists(lost));
    EXPECT_FALSE(platform::directoryExists("C:\\Restored"));

    // The right one, from the file.
    const test::ProgramRun right = test::runProgram(
        machine, test::kQuillbox,
        {"/r", "/f:" + file, "/p:C:\\Restored", "--password-file", passwordFile.string()});
    EXPECT_EQ(right.status, 0) << right.err << right.out;
    EXPECT_EQ(machine.readFile(lost), content);
}

TEST_F(ProtectedBackup, OnATerminalThePasswordIsAskedTwiceAndNotShown) {
    int status = -1;
    const std::string typed = "typed on the terminal";
    const std::string shown = runOnTerminal(
        machine, {"/b", "/c:eudora", "/p:C:\\T", "--ask-password"}, {typed, typed}, status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_NE(shown.find("Password for the backup: "), std::string::npos) << shown;
    EXPECT_NE(shown.find("The same password again: "), std::string::npos) << shown;
    EXPECT_EQ(shown.find(typed), std::string::npos) << shown;
    const fs::path host = machine.host(backupIn("C:\\T"));
    EXPECT_GE(test::checkAe2(test::readHostFile(host)).size(), 10u);
    EXPECT_EQ(shell("7z t '-p" + typed + "' '" + host.string() + "'"), 0);

    // Two different answers: nothing is backed up.
    const std::string differ = runOnTerminal(
        machine, {"/b", "/c:eudora", "/p:C:\\U", "--ask-password"}, {typed, "other"}, status);
    EXPECT_EQ(status, 1) << differ;
    EXPECT_NE(differ.find("the two passwords typed differ"), std::string::npos) << differ;
    EXPECT_FALSE(platform::directoryExists("C:\\U"));
}
