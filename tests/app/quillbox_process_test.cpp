// The quillbox program as a child process on a fake machine: its exit status, what
// it prints, and what it leaves in the machine's registry and folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "testkit/testkit.h"

using namespace qb;
using qb::test::FakeMachine;
namespace fs = std::filesystem;

namespace {

struct ProgramRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args` on the machine's prefix, stdin empty, and collects
// both output streams. The test's registry changes are written first and the
// child's read afterwards.
ProgramRun runProgram(const FakeMachine& m, const std::string& program,
               const std::vector<std::string>& args, bool withArchivePath = true) {
    platform::flushRegistry();
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return {};
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const std::string prefix = m.prefix().string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::setenv("QUILLBOX_PREFIX", prefix.c_str(), 1);
        if (!withArchivePath) ::unsetenv("QUILLBOX_SQX");
        ::execv(program.c_str(), raw.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ProgramRun r;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int streams = 2;
    while (streams > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --streams;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    platform::unloadRegistry();
    return r;
}

const std::string kQuillbox = QB_BIN_DIR "/quillbox";

ProgramRun quillbox(const FakeMachine& m, const std::vector<std::string>& args) {
    return runProgram(m, kQuillbox, args);
}

}  // namespace

TEST(QuillboxProgram, HelpAndVersionTouchNothing) {
    FakeMachine m;
    const ProgramRun version = quillbox(m, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillbox " QB_VERSION "\n");
    const ProgramRun help = quillbox(m, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"/b /c:CLIENTS /p:FOLDER", "/r /f:BACKUPFILE /p:FOLDER", "/auto",
                             "/uninstall", "oexpress", "favorites", "exit status"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    platform::Registry r(platform::RootKey::CurrentUser);
    EXPECT_FALSE(r.keyExists(app::kSettingsKey));
}

TEST(QuillboxProgram, InvalidCommandsExitWithOneAndTheSyntaxMessage) {
    FakeMachine m;
    const ProgramRun three = quillbox(m, {"/b", "/c:oexpress", "/p:C:\\Backup"});
    EXPECT_EQ(three.status, 1);
    EXPECT_NE(three.err.find("Error: Invalid command!"), std::string::npos) << three.err;
    EXPECT_EQ(three.out, "");
    EXPECT_FALSE(platform::directoryExists("C:\\Backup"));
    // The start-up ran first: the settings' defaults are in the machine's registry.
    platform::Registry r(platform::RootKey::CurrentUser);
    ASSERT_TRUE(r.openKeyReadOnly(app::kSettingsKey));
    EXPECT_EQ(r.readInteger("BackupMode"), 2);
    EXPECT_EQ(r.readString("AutoBackupDir"), "C:\\users\\tester\\Documents\\AutoBackup\\");

    const ProgramRun opened = quillbox(m, {"/O", "C:\\a.ebk"});
    EXPECT_EQ(opened.status, 1);
    EXPECT_NE(opened.err.find("windows are not built yet"), std::string::npos) << opened.err;
    EXPECT_EQ(quillbox(m, {}).status, 1);
    EXPECT_EQ(quillbox(m, {"/r", "/f:C:\\a.ebk", "/p"}).status, 1);
}

TEST(QuillboxProgram, BackupOfAnUninstalledFamilyFailsButMakesTheFolder) {
    FakeMachine m;
    test::TempDir host;
    const fs::path folder = host.path() / "Backups" / "Mixed Case";
    const ProgramRun r = quillbox(m, {"/B", "/C:PocoMail", "/P:" + folder.string(), "-"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "PocoMail: not backed up, no version of it is installed\n");
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(QuillboxProgram, WithoutTheArchiveLibraryEveryRunFails) {
    FakeMachine m;
    // A copy of the program in a folder without the library beside it.
    test::TempDir dir;
    const fs::path copy = dir.path() / "quillbox";
    fs::copy_file(kQuillbox, copy);
    const ProgramRun r = runProgram(m, copy.string(), {"/b", "/c:favorites", "/p:C:\\B", "-"}, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("SQX.DLL not found! Reinstall Quillbox!"), std::string::npos) << r.err;
}
