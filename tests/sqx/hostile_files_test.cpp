// Temporary files nobody can plant, stale ones of runs that died, and backups
// that declare or inflate to more than the disk holds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>

#include "sqx_testutil.h"
#include "testkit/zip_declaring.h"

namespace {

using namespace sqxtest;
using qb::test::zipDeclaring;

// The id of a process that has ended.
long deadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int st = 0;
    ::waitpid(child, &st, 0);
    return child;
}

TEST(SqxTemporaryFiles, PlantedLinksAreNeverFollowedAndStaleFilesOfDeadRunsGo) {
    ScratchDir dir;
    writeFile(dir / "mail/Inbox.mbx", randomBytes(5000, 7));
    writeFile(dir / "outside.txt", "not yours");
    const std::string archive = dir / "out.ebk";
    // Links at every name a process id could give, this one's among them.
    const long own = ::getpid();
    for (long pid = own - 150; pid < own + 150; ++pid)
        fs::create_symlink(dir / "outside.txt", archive + ".partial-" + std::to_string(pid));
    const std::string dead = std::to_string(deadPid());
    const std::string stale = archive + ".partial-" + dead + "-0123456789ab";
    writeFile(stale, "left by a run that was killed");
    const std::string alive = archive + ".partial-1-0123456789ab";  // init never dies
    writeFile(alive, "another run's");

    Recorder rec;
    ASSERT_EQ(pack(archive, {dir / "mail"}, rec), SQX_OK) << lastError();
    EXPECT_EQ(readFile(dir / "outside.txt"), "not yours");
    EXPECT_TRUE(readWithLibarchive({archive}).ok);
    struct stat st {};
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(fs::exists(fs::symlink_status(stale)));
    EXPECT_TRUE(fs::exists(alive));

    // Extraction: a stale piece of a dead run in the destination goes, too.
    const std::string out = dir / "restored";
    fs::create_directories(out + "/mail");
    const std::string piece = out + "/mail/.sqx-" + dead + "-1.part";
    writeFile(piece, "half a mailbox");
    std::vector<std::string> names;
    ASSERT_EQ(list(archive, names, rec), SQX_OK) << lastError();
    ASSERT_EQ(extract(archive, names, out, true, rec), SQX_OK) << lastError();
    EXPECT_FALSE(fs::exists(piece));
    EXPECT_EQ(readFile(out + "/mail/Inbox.mbx"), randomBytes(5000, 7));
}

TEST(SqxExtractBombs, WhatDoesNotFitIsRefusedAndAnEntryCannotOutgrowItsSize) {
    ScratchDir dir;
    const std::string out = dir / "out";
    fs::create_directories(out);
    struct statvfs vfs {};
    ASSERT_EQ(::statvfs(out.c_str(), &vfs), 0);
    const uint64_t free = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    // 10 GiB, or more than the disk has free, declared by a backup of a few bytes.
    const uint64_t declared = std::max<uint64_t>(10ull << 30, free + (10ull << 30));
    writeFile(dir / "bomb.zip", zipDeclaring("Inbox.mbx", std::string(4096, '\0'), declared));
    Recorder rec;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(extract(dir / "bomb.zip", {"Inbox.mbx"}, out, true, rec), SQX_ERR_DISK_FULL);
    // Refused before a byte is written, not after writing until the disk is full.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_NE(lastError().find(std::to_string(declared)), std::string::npos) << lastError();
    EXPECT_NE(lastError().find("bytes free"), std::string::npos) << lastError();
    EXPECT_TRUE(treeOf(out).empty());

    // Declares 100 bytes and inflates to 4 MB: stopped, nothing left behind.
    writeFile(dir / "grows.zip", zipDeclaring("Inbox.mbx", std::string(4 << 20, 'x'), 100));
    EXPECT_EQ(extract(dir / "grows.zip", {"Inbox.mbx"}, out, true, rec), SQX_ERR_EXTRACT);
    EXPECT_NE(lastError().find("larger than the 100 bytes it declares"), std::string::npos)
        << lastError();
    EXPECT_TRUE(treeOf(out).empty());
}

}  // namespace
