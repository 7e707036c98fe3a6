// Writing archives: what the library stores must read back through
// independent readers (libarchive's, unzip, bsdtar).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <set>

#include "sqx_testutil.h"

using namespace sqxtest;

namespace {

// Between two reason-5 announcements, reason 0 never goes down, never
// passes 100, and ends at 100 (a skipped entry reports nothing).
void expectSaneProgress(const std::vector<Event>& events) {
    int last = 100;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].reason == SQX_REASON_ADD) {
            EXPECT_TRUE(last == 100 || last == -1) << "entry ending before event " << i;
            last = -1;
        } else if (events[i].reason == SQX_REASON_PROGRESS) {
            EXPECT_GE(events[i].value, std::max(last, 0)) << "event " << i;
            EXPECT_LE(events[i].value, 100) << "event " << i;
            last = events[i].value;
        }
    }
    EXPECT_EQ(last, 100);
}

std::set<std::string> lines(const std::string& text) {
    std::set<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.insert(line);
    return out;
}

}  // namespace

TEST(SqxPack, FolderTreeReadsBackThroughIndependentReaders) {
    ScratchDir dir;
    const std::string mail = dir / "src/Mail Store", single = dir / "src/account.ini";
    writeFile(mail + "/Inbox.mbx", "From a\nbody\n");
    writeFile(mail + "/.hidden", "dot file");
    writeFile(mail + "/empty.eml", "");
    writeFile(mail + "/Archiv 2023/Größe März.eml", "Grüße");
    writeFile(mail + "/Archiv 2023/deep/deeper/x.eml", std::string(300000, 'x'));
    fs::create_directories(mail + "/Empty Folder");
    writeFile(single, "[acct]\n");
    struct timeval times[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(::utimes(single.c_str(), times), 0);

    Recorder rec;
    rec.handler = [](const Event& e, unsigned char* r) {
        if (e.reason == SQX_REASON_ADD)
            setName(r, "\\Profile\\\\" + fs::path(e.name).filename().string());
        return 1;
    };
    const std::string archive = dir / "backup.ebk";
    ASSERT_EQ(pack(archive, {mail, single}, rec), SQX_OK) << lastError();
    std::vector<Event> adds = rec.withReason(SQX_REASON_ADD);
    ASSERT_EQ(adds.size(), 2u);
    EXPECT_EQ(adds[0].name, mail);
    EXPECT_EQ(adds[1].name, single);
    expectSaneProgress(rec.events);

    const std::string m = "Profile/Mail Store/";
    const std::set<std::string> expected = {m,
                                            m + ".hidden",
                                            m + "Archiv 2023/",
                                            m + "Archiv 2023/Größe März.eml",
                                            m + "Archiv 2023/deep/",
                                            m + "Archiv 2023/deep/deeper/",
                                            m + "Archiv 2023/deep/deeper/x.eml",
                                            m + "Empty Folder/",
                                            m + "Inbox.mbx",
                                            m + "empty.eml",
                                            "Profile/account.ini"};
    ReadBack rb = readWithLibarchive({archive});
    ASSERT_TRUE(rb.ok) << rb.error;
    EXPECT_EQ(std::set<std::string>(rb.names.begin(), rb.names.end()), expected);
    EXPECT_EQ(rb.names.size(), expected.size());
    EXPECT_EQ(rb.data[m + "Archiv 2023/Größe März.eml"], "Grüße");
    EXPECT_EQ(rb.data[m + "Archiv 2023/deep/deeper/x.eml"], std::string(300000, 'x'));
    EXPECT_EQ(rb.data[m + ".hidden"], "dot file");
    EXPECT_EQ(rb.mtimes["Profile/account.ini"], 1500000000);

    // The non-ASCII name carries the UTF-8 flag (bit 11) in its local header.
    const std::string bytes = readFile(archive);
    size_t at = bytes.find(m + "Archiv 2023/Größe März.eml");
    ASSERT_TRUE(at != std::string::npos && at >= 30);
    EXPECT_EQ(bytes.substr(at - 30, 4), std::string("PK\3\4"));
    EXPECT_TRUE(static_cast<unsigned char>(bytes[at - 30 + 7]) & 0x08);

    std::string out;
    EXPECT_EQ(run("unzip -t " + quote(archive), out), 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    ASSERT_EQ(run("bsdtar -tf " + quote(archive), out), 0) << out;
    EXPECT_EQ(lines(out), expected);
}

TEST(SqxPack, ProgressMissingPathsAndTheArchiveItself) {
    ScratchDir dir;
    writeFile(dir / "big.bin", randomBytes(5 << 20, 1));
    for (int i = 0; i < 40; ++i)
        writeFile(dir / ("folder/m" + std::to_string(i) + ".eml"), randomBytes(20000, 100 + i));
    writeFile(dir / "zero.txt", "");
    Recorder rec;
    // The archive lands inside a folder it packs: it must leave itself out.
    const std::string archive = dir / "folder/p.ebk";
    ASSERT_EQ(
        pack(archive, {dir / "big.bin", dir / "gone.txt", dir / "folder", dir / "zero.txt"}, rec),
        SQX_OK)
        << lastError();
    expectSaneProgress(rec.events);
    // The missing path is announced like the others, then skipped.
    ASSERT_EQ(rec.withReason(SQX_REASON_ADD).size(), 4u);
    EXPECT_EQ(rec.withReason(SQX_REASON_ADD)[1].name, dir / "gone.txt");
    // The 5 MiB file reports at least once per MiB.
    size_t bigReports = 0;
    while (rec.events[bigReports + 1].reason == SQX_REASON_PROGRESS)
        ++bigReports;
    EXPECT_GE(bigReports, 5u);

    ReadBack rb = readWithLibarchive({archive});
    ASSERT_TRUE(rb.ok) << rb.error;
    EXPECT_EQ(rb.names.size(), 1 + 1 + 40 + 1u);
    EXPECT_EQ(std::count(rb.names.begin(), rb.names.end(), "folder/p.ebk"), 0);
}

TEST(SqxPack, StoredNamesAreNormalisedAndDotDotRefused) {
    ScratchDir dir;
    writeFile(dir / "a.txt", "a");
    std::string given;
    Recorder rec;
    rec.handler = [&](const Event& e, unsigned char* r) {
        if (e.reason == SQX_REASON_ADD) setName(r, given);
        return 1;
    };
    given = "\\\\x\\.\\\\y\\a.txt\\";
    ASSERT_EQ(pack(dir / "n.ebk", {dir / "a.txt"}, rec), SQX_OK) << lastError();
    EXPECT_EQ(readWithLibarchive({dir / "n.ebk"}).names, std::vector<std::string>{"x/y/a.txt"});
    given = "x\\..\\..\\a.txt";
    EXPECT_EQ(pack(dir / "bad.ebk", {dir / "a.txt"}, rec), SQX_ERR_BAD_NAME);
    EXPECT_FALSE(fs::exists(dir / "bad.ebk"));
}

TEST(SqxPack, UnreadableFileFailsWithAccessDenied) {
    ScratchDir dir;
    writeFile(dir / "secret.txt", "secret");
    ASSERT_EQ(::chmod((dir / "secret.txt").c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    auto attempt = [&] {
        Recorder rec;
        return pack(dir / "s.ebk", {dir / "secret.txt"}, rec) == SQX_ERR_ACCESS_DENIED &&
               lastError().find(dir / "secret.txt") != std::string::npos &&
               !fs::exists(dir / "s.ebk");
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(attempt()) << lastError();
        return;
    }
    // Root reads anything: the job runs in a child that gave up root.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
        ::_exit(attempt() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 99) GTEST_SKIP() << "cannot drop root here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SqxPack, StopKeepsOlderArchiveAndLeavesNoPartialFile) {
    ScratchDir dir;
    writeFile(dir / "src/big.bin", randomBytes(3 << 20, 7));
    writeFile(dir / "src/small.txt", "small");
    const std::string target = dir / "out/backup.ebk";
    writeFile(target, "older backup");
    for (int32_t stopAt : {SQX_REASON_ADD, SQX_REASON_PROGRESS}) {
        SCOPED_TRACE(stopAt);
        int progressCalls = 0;
        Recorder rec;
        rec.handler = [&](const Event& e, unsigned char* r) -> int32_t {
            if (e.reason == SQX_REASON_ADD) setName(r, "x");
            if (e.reason == SQX_REASON_PROGRESS) ++progressCalls;
            bool stop = e.reason == stopAt &&
                        (stopAt == SQX_REASON_ADD ? e.name.find("small") != std::string::npos
                                                  : progressCalls == 2);
            return stop ? 0 : 1;
        };
        EXPECT_EQ(pack(target, {dir / "src/big.bin", dir / "src/small.txt"}, rec), SQX_ERR_ABORTED);
        EXPECT_EQ(readFile(target), "older backup");
        EXPECT_EQ(treeOf(dir / "out"), std::vector<std::string>{"backup.ebk"});
    }
}

TEST(SqxPack, PasswordProtectsTheData) {
    ScratchDir dir;
    const std::string body = "confidential letter body, long enough to be compressed";
    writeFile(dir / "letter.eml", body);
    Recorder rec;
    ASSERT_EQ(pack(dir / "pw.ebk", {dir / "letter.eml"}, rec, withPassword("pässwörd")), SQX_OK)
        << lastError();
    EXPECT_FALSE(readWithLibarchive({dir / "pw.ebk"}).ok);
    EXPECT_FALSE(readWithLibarchive({dir / "pw.ebk"}, "other").ok);
    ReadBack with = readWithLibarchive({dir / "pw.ebk"}, "pässwörd");
    ASSERT_TRUE(with.ok) << with.error;
    EXPECT_EQ(with.data["letter.eml"], body);
    EXPECT_EQ(readFile(dir / "pw.ebk").find("confidential"), std::string::npos);
}

TEST(SqxPack, VolumesCutOneArchiveThatReadsBackWhole) {
    ScratchDir dir;
    const std::string data = randomBytes(4 << 20, 42);
    writeFile(dir / "src/mail.mbx", data);
    writeFile(dir / "src/note.txt", "note");
    fs::create_directories(dir / "out");
    const std::string first = dir / "out/backup.ebk";
    Recorder rec;
    ASSERT_EQ(pack(first, {dir / "src"}, rec, withVolumes(SQX_FLOPPY_BYTES)), SQX_OK)
        << lastError();

    const std::vector<std::string> vols = {first, dir / "out/backup.e01", dir / "out/backup.e02",
                                           dir / "out/backup.e03"};
    EXPECT_EQ(treeOf(dir / "out"),
              (std::vector<std::string>{"backup.e01", "backup.e02", "backup.e03", "backup.ebk"}));
    for (size_t i = 0; i + 1 < vols.size(); ++i)
        EXPECT_EQ(fs::file_size(vols[i]), SQX_FLOPPY_BYTES);
    std::vector<Event> asks = rec.withReason(SQX_REASON_VOLUME);
    ASSERT_EQ(asks.size(), 3u);
    for (size_t i = 0; i < asks.size(); ++i) {
        EXPECT_EQ(asks[i].text, vols[i + 1]);
        EXPECT_EQ(asks[i].disk, static_cast<int32_t>(i + 2));
        EXPECT_EQ(asks[i].volumeKind, SQX_VOLUME_WRITE);
        EXPECT_EQ(asks[i].value, SQX_FLOPPY_BYTES);
    }

    ReadBack rb = readWithLibarchive(vols);
    ASSERT_TRUE(rb.ok) << rb.error;
    EXPECT_TRUE(rb.data["src/mail.mbx"] == data);
    std::string joined, out;
    for (const std::string& v : vols)
        joined += " " + quote(v);
    ASSERT_EQ(run("cat" + joined + " > " + quote(dir / "whole.zip"), out), 0);
    EXPECT_EQ(run("unzip -t " + quote(dir / "whole.zip"), out), 0) << out;
    Recorder back;
    ASSERT_EQ(extract(first, {"src\\mail.mbx"}, dir / "x", false, back), SQX_OK) << lastError();
    EXPECT_TRUE(readFile(dir / "x/mail.mbx") == data);

    // Stopping before the third volume removes the whole new set and
    // leaves the old one alone.
    Recorder stop;
    stop.handler = [](const Event& e, unsigned char*) {
        return e.reason == SQX_REASON_VOLUME && e.disk == 3 ? 0 : 1;
    };
    EXPECT_EQ(pack(first, {dir / "src"}, stop, withVolumes(SQX_FLOPPY_BYTES)), SQX_ERR_ABORTED);
    EXPECT_EQ(treeOf(dir / "out"),
              (std::vector<std::string>{"backup.e01", "backup.e02", "backup.e03", "backup.ebk"}));
    EXPECT_TRUE(readWithLibarchive(vols).ok);
}
