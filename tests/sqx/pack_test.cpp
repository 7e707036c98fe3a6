// Writing archives: what the library stores must read back through
// independent readers (libarchive's, unzip, bsdtar).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "sqx_testutil.h"

using namespace sqxtest;

namespace {

// Checks the reason-0 events between two announcements: never over 100,
// never going down, ending at 100.
void expectSaneProgress(const std::vector<Event>& events) {
    int last = -1;
    size_t announcements = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        if (e.reason == SQX_REASON_ADD) {
            if (announcements++ > 0) {
                EXPECT_EQ(last, 100) << "entry before event " << i;
            }
            last = -1;
        } else if (e.reason == SQX_REASON_PROGRESS) {
            EXPECT_GE(e.value, last) << "event " << i;
            EXPECT_LE(e.value, 100) << "event " << i;
            EXPECT_GE(e.value, 0) << "event " << i;
            last = e.value;
        }
    }
}

// Reason 5 answers that place everything under "Profile\".
Recorder::Handler storeUnderProfile() {
    return [](const Event& e, unsigned char* rec) {
        if (e.reason == SQX_REASON_ADD)
            setName(rec, "\\Profile\\\\" + fs::path(e.name).filename().string());
        return 1;
    };
}

}  // namespace

TEST(SqxPack, FolderTreeReadsBackThroughIndependentReaders) {
    ScratchDir dir;
    const std::string mail = dir / "src/Mail Store";
    writeFile(mail + "/Inbox.mbx", "From a\nbody\n");
    writeFile(mail + "/.hidden", "dot file");
    writeFile(mail + "/empty.eml", "");
    writeFile(mail + "/Archiv 2023/Größe März.eml", "Grüße");
    writeFile(mail + "/Archiv 2023/deep/deeper/x.eml", std::string(300000, 'x'));
    fs::create_directories(mail + "/Empty Folder");
    const std::string single = dir / "src/account.ini";
    writeFile(single, "[acct]\nname=ß\n");
    // A known modification time that must come back.
    struct timespec times[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, single.c_str(), times, 0), 0);

    Recorder rec;
    rec.handler = storeUnderProfile();
    const std::string archive = dir / "backup.ebk";
    ASSERT_EQ(pack(archive, {mail, single}, rec), SQX_OK) << lastError();

    std::vector<Event> adds = rec.withReason(SQX_REASON_ADD);
    ASSERT_EQ(adds.size(), 2u);
    EXPECT_EQ(adds[0].name, mail);
    EXPECT_EQ(adds[1].name, single);
    expectSaneProgress(rec.events);

    const std::set<std::string> expected = {
        "Profile/Mail Store/",
        "Profile/Mail Store/.hidden",
        "Profile/Mail Store/Archiv 2023/",
        "Profile/Mail Store/Archiv 2023/Größe März.eml",
        "Profile/Mail Store/Archiv 2023/deep/",
        "Profile/Mail Store/Archiv 2023/deep/deeper/",
        "Profile/Mail Store/Archiv 2023/deep/deeper/x.eml",
        "Profile/Mail Store/Empty Folder/",
        "Profile/Mail Store/Inbox.mbx",
        "Profile/Mail Store/empty.eml",
        "Profile/account.ini",
    };
    ReadBack rb = readWithLibarchive({archive});
    ASSERT_TRUE(rb.ok) << rb.error;
    EXPECT_EQ(std::set<std::string>(rb.names.begin(), rb.names.end()), expected);
    EXPECT_EQ(rb.names.size(), expected.size());
    EXPECT_EQ(rb.data["Profile/Mail Store/Archiv 2023/Größe März.eml"], "Grüße");
    EXPECT_EQ(rb.data["Profile/Mail Store/Archiv 2023/deep/deeper/x.eml"],
              std::string(300000, 'x'));
    EXPECT_EQ(rb.data["Profile/Mail Store/empty.eml"], "");
    EXPECT_EQ(rb.data["Profile/Mail Store/.hidden"], "dot file");
    EXPECT_EQ(rb.mtimes["Profile/account.ini"], 1500000000);

    // The non-ASCII name carries the UTF-8 flag (bit 11) in its local header.
    const std::string bytes = readFile(archive);
    size_t at = bytes.find("Profile/Mail Store/Archiv 2023/Größe März.eml");
    ASSERT_NE(at, std::string::npos);
    ASSERT_GE(at, 30u);
    EXPECT_EQ(bytes.substr(at - 30, 4), std::string("PK\3\4"));
    EXPECT_TRUE(static_cast<unsigned char>(bytes[at - 30 + 7]) & 0x08);

    std::string out;
    EXPECT_EQ(runCommand("unzip -t " + shellQuote(archive), &out), 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    ASSERT_EQ(runCommand("bsdtar -tf " + shellQuote(archive), &out), 0) << out;
    std::set<std::string> bsdtarNames;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        bsdtarNames.insert(line);
    EXPECT_EQ(bsdtarNames, expected);
}

TEST(SqxPack, ArchiveInsideThePackedFolderLeavesItselfOut) {
    ScratchDir dir;
    writeFile(dir / "store/a.eml", "a");
    Recorder rec;
    ASSERT_EQ(pack(dir / "store/self.ebk", {dir / "store"}, rec), SQX_OK) << lastError();
    ReadBack rb = readWithLibarchive({dir / "store/self.ebk"});
    EXPECT_EQ(rb.names, (std::vector<std::string>{"store/", "store/a.eml"}));
}

TEST(SqxPack, StoredNamesAreNormalisedAndDotDotRefused) {
    ScratchDir dir;
    writeFile(dir / "a.txt", "a");
    Recorder rec;
    rec.handler = [](const Event& e, unsigned char* r) {
        if (e.reason == SQX_REASON_ADD) setName(r, "\\\\x\\.\\\\y\\a.txt\\");
        return 1;
    };
    ASSERT_EQ(pack(dir / "n.ebk", {dir / "a.txt"}, rec), SQX_OK) << lastError();
    ReadBack rb = readWithLibarchive({dir / "n.ebk"});
    EXPECT_EQ(rb.names, std::vector<std::string>{"x/y/a.txt"});

    rec.handler = [](const Event& e, unsigned char* r) {
        if (e.reason == SQX_REASON_ADD) setName(r, "x\\..\\..\\a.txt");
        return 1;
    };
    EXPECT_EQ(pack(dir / "bad.ebk", {dir / "a.txt"}, rec), SQX_ERR_BAD_NAME);
    EXPECT_FALSE(fs::exists(dir / "bad.ebk"));
}

TEST(SqxPack, ProgressIsFrequentMonotonicAndPerEntry) {
    ScratchDir dir;
    writeFile(dir / "big.bin", randomBytes(5 << 20, 1));
    for (int i = 0; i < 40; ++i)
        writeFile(dir / ("folder/m" + std::to_string(i) + ".eml"), randomBytes(20000, 100 + i));
    writeFile(dir / "zero.txt", "");
    Recorder rec;
    ASSERT_EQ(pack(dir / "p.ebk", {dir / "big.bin", dir / "folder", dir / "zero.txt"}, rec), SQX_OK)
        << lastError();
    expectSaneProgress(rec.events);
    // The 5 MiB file reports at least once per MiB.
    size_t bigReports = 0;
    for (size_t i = 1; i < rec.events.size() && rec.events[i].reason == SQX_REASON_PROGRESS; ++i)
        ++bigReports;
    EXPECT_GE(bigReports, 5u);
    EXPECT_EQ(rec.events.back().reason, SQX_REASON_PROGRESS);
    EXPECT_EQ(rec.events.back().value, 100);
}

TEST(SqxPack, MissingPathIsAnnouncedThenSkipped) {
    ScratchDir dir;
    writeFile(dir / "here.txt", "here");
    Recorder rec;
    ASSERT_EQ(pack(dir / "m.ebk", {dir / "gone.txt", dir / "here.txt"}, rec), SQX_OK)
        << lastError();
    std::vector<Event> adds = rec.withReason(SQX_REASON_ADD);
    ASSERT_EQ(adds.size(), 2u);
    EXPECT_EQ(adds[0].name, dir / "gone.txt");
    ReadBack rb = readWithLibarchive({dir / "m.ebk"});
    EXPECT_EQ(rb.names, std::vector<std::string>{"here.txt"});
}

TEST(SqxPack, UnreadableFileFailsWithAccessDenied) {
    ScratchDir dir;
    writeFile(dir / "secret.txt", "secret");
    ASSERT_EQ(::chmod((dir / "secret.txt").c_str(), 0), 0);
    auto attempt = [&]() -> std::pair<int32_t, std::string> {
        Recorder rec;
        int32_t rc = pack(dir / "s.ebk", {dir / "secret.txt"}, rec);
        return {rc, lastError()};
    };
    if (::geteuid() != 0) {
        auto [rc, text] = attempt();
        EXPECT_EQ(rc, SQX_ERR_ACCESS_DENIED);
        EXPECT_NE(text.find(dir / "secret.txt"), std::string::npos) << text;
        EXPECT_FALSE(fs::exists(dir / "s.ebk"));
        return;
    }
    // Root reads anything: run the job in a child that gave up root.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
        auto [rc, text] = attempt();
        bool named = text.find(dir / "secret.txt") != std::string::npos;
        ::_exit(rc == SQX_ERR_ACCESS_DENIED && named && !fs::exists(dir / "s.ebk") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 99) GTEST_SKIP() << "cannot drop root privileges here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SqxPack, StopKeepsOlderArchiveAndLeavesNoPartialFile) {
    ScratchDir dir;
    writeFile(dir / "src/big.bin", randomBytes(3 << 20, 7));
    writeFile(dir / "src/small.txt", "small");
    const std::string target = dir / "out/backup.ebk";
    writeFile(target, "older backup");
    for (int32_t stopAt : {SQX_REASON_ADD, SQX_REASON_PROGRESS}) {
        SCOPED_TRACE(stopAt);
        Recorder rec;
        int progressCalls = 0;
        rec.handler = [&](const Event& e, unsigned char* r) -> int32_t {
            if (e.reason == SQX_REASON_ADD) setName(r, "big.bin");
            if (stopAt == SQX_REASON_ADD && e.reason == SQX_REASON_ADD &&
                e.name.find("small") != std::string::npos)
                return 0;
            if (stopAt == SQX_REASON_PROGRESS && e.reason == SQX_REASON_PROGRESS &&
                ++progressCalls == 2)
                return 0;
            return 1;
        };
        EXPECT_EQ(pack(target, {dir / "src/big.bin", dir / "src/small.txt"}, rec), SQX_ERR_ABORTED);
        EXPECT_EQ(readFile(target), "older backup");
        EXPECT_EQ(treeOf(dir / "out"), std::vector<std::string>{"backup.ebk"});
    }
}

TEST(SqxPack, PasswordProtectsTheData) {
    ScratchDir dir;
    writeFile(dir / "letter.eml", "confidential letter body, long enough to be compressed");
    Recorder rec;
    AddSettings s;
    s.password = "pässwörd";
    ASSERT_EQ(pack(dir / "pw.ebk", {dir / "letter.eml"}, rec, s), SQX_OK) << lastError();

    ReadBack without = readWithLibarchive({dir / "pw.ebk"});
    EXPECT_FALSE(without.ok);
    ReadBack wrong = readWithLibarchive({dir / "pw.ebk"}, "other");
    EXPECT_FALSE(wrong.ok);
    ReadBack with = readWithLibarchive({dir / "pw.ebk"}, "pässwörd");
    ASSERT_TRUE(with.ok) << with.error;
    EXPECT_EQ(with.data["letter.eml"], "confidential letter body, long enough to be compressed");
    EXPECT_EQ(readFile(dir / "pw.ebk").find("confidential"), std::string::npos);
}

TEST(SqxPack, VolumesCutOneArchiveThatReadsBackWhole) {
    ScratchDir dir;
    const std::string data = randomBytes(4 << 20, 42);
    writeFile(dir / "src/mail.mbx", data);
    writeFile(dir / "src/note.txt", "note");
    Recorder rec;
    AddSettings s;
    s.volumeSize = SQX_FLOPPY_BYTES;
    const std::string first = dir / "out/backup.ebk";
    fs::create_directories(dir / "out");
    ASSERT_EQ(pack(first, {dir / "src"}, rec, s), SQX_OK) << lastError();

    std::vector<std::string> vols = {first, dir / "out/backup.e01", dir / "out/backup.e02",
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

    std::string joined;
    for (const std::string& v : vols)
        joined += " " + shellQuote(v);
    std::string out;
    ASSERT_EQ(runCommand("cat" + joined + " > " + shellQuote(dir / "whole.zip"), &out), 0);
    EXPECT_EQ(runCommand("unzip -t " + shellQuote(dir / "whole.zip"), &out), 0) << out;

    // The library reads the set back itself, through its first volume.
    Recorder back;
    ASSERT_EQ(extract(first, {"src\\mail.mbx"}, dir / "x", false, back), SQX_OK) << lastError();
    EXPECT_TRUE(readFile(dir / "x/mail.mbx") == data);
}

TEST(SqxPack, StopBeforeANewVolumeRemovesEveryVolume) {
    ScratchDir dir;
    writeFile(dir / "src/mail.mbx", randomBytes(3 << 20, 5));
    Recorder rec;
    rec.handler = [](const Event& e, unsigned char* r) -> int32_t {
        if (e.reason == SQX_REASON_ADD) setName(r, "mail.mbx");
        return e.reason == SQX_REASON_VOLUME && e.disk == 3 ? 0 : 1;
    };
    AddSettings s;
    s.volumeSize = SQX_FLOPPY_BYTES;
    fs::create_directories(dir / "out");
    EXPECT_EQ(pack(dir / "out/b.ebk", {dir / "src/mail.mbx"}, rec, s), SQX_ERR_ABORTED);
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}
