// Listing and extracting: list order, redirection, absent names, passwords,
// volumes, and hostile or damaged archives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>

#include "sqx_testutil.h"

using namespace sqxtest;

namespace {

class SqxExtract : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string root = dir / "src/Profile";
        writeFile(root + "/Mail/Inbox.mbx", "inbox");
        writeFile(root + "/Mail/Sent.mbx", "sent");
        writeFile(root + "/Mail/Größe.eml", "umlauts");
        writeFile(root + "/prefs.js", "prefs");
        fs::create_directories(root + "/Empty");
        struct timeval times[2] = {{1400000000, 0}, {1400000000, 0}};
        ASSERT_EQ(::utimes((root + "/prefs.js").c_str(), times), 0);
        Recorder rec;
        ASSERT_EQ(pack(archive, {root}, rec), SQX_OK) << lastError();
    }

    ScratchDir dir;
    const std::string archive = dir / "backup.ebk";
};

}  // namespace

TEST_F(SqxExtract, ListsStoredNamesInArchiveOrder) {
    Recorder rec;
    std::vector<std::string> names;
    std::vector<unsigned char> info;
    ASSERT_EQ(list(archive, names, rec, &info), SQX_OK) << lastError();
    EXPECT_EQ(names,
              (std::vector<std::string>{"Profile\\", "Profile\\Empty\\", "Profile\\Mail\\",
                                        "Profile\\Mail\\Größe.eml", "Profile\\Mail\\Inbox.mbx",
                                        "Profile\\Mail\\Sent.mbx", "Profile\\prefs.js"}));
    EXPECT_EQ(getI32(info.data(), SQX_INFO_OFS_ENTRIES), 7);
    EXPECT_EQ(getI32(info.data(), SQX_INFO_OFS_FILES), 4);
    EXPECT_EQ(getI32(info.data(), SQX_INFO_OFS_FOLDERS), 3);
    EXPECT_EQ(getI32(info.data(), SQX_INFO_OFS_VOLUMES), 1);
    EXPECT_EQ(getI32(info.data(), SQX_INFO_OFS_TOTAL_SIZE), 5 + 4 + 7 + 5);

    ASSERT_EQ(list(archive, names, rec, nullptr, {"*.MBX"}), SQX_OK);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Profile\\Mail\\Inbox.mbx", "Profile\\Mail\\Sent.mbx"}));
}

TEST_F(SqxExtract, FollowsListOrderWithRedirectionAndAbsentNames) {
    const std::string out = dir / "out", elsewhere = dir / "elsewhere/deeper/inbox copy.mbx";
    Recorder rec;
    rec.handler = [&](const Event& e, unsigned char* r) {
        if (e.reason == SQX_REASON_EXTRACT && e.name.find("Inbox") != std::string::npos)
            setName(r, elsewhere);
        return 1;
    };
    // prefs.js lies behind Inbox.mbx in the archive, and names match
    // without regard to case.
    ASSERT_EQ(extract(archive,
                      {"Profile\\prefs.js", "Profile\\Missing.txt", "PROFILE\\mail\\inbox.MBX",
                       "Profile\\Mail\\größe.EML", "Profile\\Empty\\"},
                      out, true, rec),
              SQX_OK)
        << lastError();
    std::vector<std::string> calls;
    for (const Event& e : rec.events)
        if (e.reason != SQX_REASON_PROGRESS)
            calls.push_back(std::to_string(e.reason) + " " + e.name);
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "6 " + out + "/Profile/prefs.js", "7 Profile\\Missing.txt",
                         "6 " + out + "/Profile/Mail/Inbox.mbx",
                         "6 " + out + "/Profile/Mail/Größe.eml", "6 " + out + "/Profile/Empty"}));
    EXPECT_EQ(readFile(elsewhere), "inbox");
    EXPECT_EQ(treeOf(out),
              (std::vector<std::string>{"Profile/", "Profile/Empty/", "Profile/Mail/",
                                        "Profile/Mail/Größe.eml", "Profile/prefs.js"}));
    struct stat st;
    ASSERT_EQ(::stat((out + "/Profile/prefs.js").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1400000000);

    // Without the sub-folder flag each file lands under its bare name.
    ASSERT_EQ(extract(archive, {"Profile\\Mail\\Sent.mbx", "Profile\\prefs.js"}, dir / "flat",
                      false, rec),
              SQX_OK);
    EXPECT_EQ(treeOf(dir / "flat"), (std::vector<std::string>{"Sent.mbx", "prefs.js"}));
}

TEST_F(SqxExtract, AsksBeforeReplacingAnExistingFile) {
    const std::string target = dir / "out/prefs.js";
    writeFile(target, "mine");
    for (int32_t answer : {SQX_ANSWER_CONTINUE, SQX_ANSWER_STOP, SQX_ANSWER_OVERWRITE}) {
        SCOPED_TRACE(answer);
        Recorder rec;
        rec.handler = [&](const Event& e, unsigned char*) {
            return e.reason == SQX_REASON_OVERWRITE ? answer : 1;
        };
        int32_t rc = extract(archive, {"Profile\\prefs.js"}, dir / "out", false, rec);
        EXPECT_EQ(rc, answer == SQX_ANSWER_STOP ? SQX_ERR_ABORTED : SQX_OK);
        ASSERT_EQ(rec.withReason(SQX_REASON_OVERWRITE).size(), 1u);
        EXPECT_EQ(rec.withReason(SQX_REASON_OVERWRITE)[0].name, target);
        EXPECT_EQ(readFile(target), answer == SQX_ANSWER_OVERWRITE ? "prefs" : "mine");
        EXPECT_EQ(treeOf(dir / "out"), std::vector<std::string>{"prefs.js"});
    }
}

TEST(SqxExtractPassword, AskedOnceAndChecked) {
    ScratchDir dir;
    writeFile(dir / "src/a.eml", "first letter, encrypted");
    writeFile(dir / "src/b.eml", "second letter, encrypted");
    Recorder packRec;
    ASSERT_EQ(pack(dir / "pw.ebk", {dir / "src"}, packRec, withPassword("right one")), SQX_OK);
    for (const std::string given : {"", "wrong", "right one"}) {
        SCOPED_TRACE(given);
        const std::string out = dir / ("out-" + std::to_string(given.size()));
        Recorder rec;
        rec.handler = [&](const Event& e, unsigned char* r) {
            if (e.reason == SQX_REASON_PASSWORD) setText(r, given);
            return 1;
        };
        int32_t rc = extract(dir / "pw.ebk", {"src\\a.eml", "src\\b.eml"}, out, false, rec);
        EXPECT_EQ(rec.withReason(SQX_REASON_PASSWORD).size(), 1u);
        if (given == "right one") {
            EXPECT_EQ(rc, SQX_OK) << lastError();
            EXPECT_EQ(readFile(out + "/b.eml"), "second letter, encrypted");
        } else {
            EXPECT_EQ(rc, SQX_ERR_BAD_PASSWORD);
            EXPECT_NE(lastError().find("password"), std::string::npos) << lastError();
            EXPECT_FALSE(fs::exists(out + "/a.eml"));
        }
    }
}

TEST(SqxExtractHostile, NamesLeadingOutsideAreRefused) {
    ScratchDir dir;
    const std::string archive = dir / "hostile.zip";
    writeZipWithLibarchive(
        archive,
        {{"../evil", "evil"}, {"/abs", "abs"}, {"sub/../../evil2", "evil2"}, {"ok.txt", "ok"}});
    Recorder rec;
    std::vector<std::string> names;
    ASSERT_EQ(list(archive, names, rec), SQX_OK) << lastError();
    ASSERT_EQ(names.size(), 4u);
    for (bool subfolders : {true, false}) {
        SCOPED_TRACE(subfolders);
        EXPECT_EQ(extract(archive, names, dir / "a/b/out", subfolders, rec), SQX_ERR_EXTRACT);
        EXPECT_NE(lastError().find("../evil"), std::string::npos) << lastError();
        EXPECT_EQ(treeOf(dir.path()), (std::vector<std::string>{"a/", "a/b/", "a/b/out/",
                                                                "a/b/out/ok.txt", "hostile.zip"}));
        EXPECT_FALSE(fs::exists("/abs"));
        fs::remove_all(dir / "a");
    }
}

TEST(SqxExtractDamaged, ForeignTruncatedAndEmptyFilesGiveErrorCodes) {
    ScratchDir dir;
    writeFile(dir / "src/one.txt", randomBytes(200000, 3));
    writeFile(dir / "src/two.txt", "two");
    Recorder rec;
    ASSERT_EQ(pack(dir / "good.zip", {dir / "src"}, rec), SQX_OK);
    const std::string good = readFile(dir / "good.zip");
    std::string tar;
    ASSERT_EQ(run("tar -cf - -C " + quote(dir.path()) + " src", tar), 0);
    std::string badDirectory = good;
    badDirectory[good.find("PK\1\2")] = 'X';

    for (const auto& [label, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"empty", ""},
             {"random", randomBytes(100000, 9)},
             {"short", "PK"},
             {"head", good.substr(0, 1000)},
             {"no-end", good.substr(0, good.size() - 10)},
             {"half", good.substr(0, good.size() / 2)},
             {"bad-directory", badDirectory},
             {"tar", tar}}) {
        SCOPED_TRACE(label);
        const std::string path = dir / ("case-" + label + ".ebk");
        writeFile(path, bytes);
        std::vector<std::string> names;
        EXPECT_EQ(list(path, names, rec), SQX_ERR_BAD_ARCHIVE) << lastError();
        EXPECT_NE(lastError().find(path), std::string::npos) << lastError();
        EXPECT_EQ(extract(path, {"src\\one.txt"}, dir / "x", true, rec), SQX_ERR_BAD_ARCHIVE);
    }
    std::vector<std::string> names;
    EXPECT_EQ(list(dir / "missing.ebk", names, rec), SQX_ERR_NOT_FOUND);
    EXPECT_EQ(list(dir.path(), names, rec), SQX_ERR_BAD_ARCHIVE);
    EXPECT_FALSE(fs::exists(dir / "x"));

    // Damaged data fails that entry only, and leaves no partial file.
    writeFile(dir / "c/a.txt", "aaaa");
    writeFile(dir / "c/b.bin", randomBytes(100000, 11));
    writeFile(dir / "c/c.txt", "cccc");
    ASSERT_EQ(pack(dir / "c.zip", {dir / "c"}, rec), SQX_OK);
    std::string bytes = readFile(dir / "c.zip");
    bytes[bytes.size() / 2] ^= 0x55;
    writeFile(dir / "c.zip", bytes);
    ASSERT_EQ(extract(dir / "c.zip", {"c\\a.txt", "c\\b.bin", "c\\c.txt"}, dir / "out", false, rec),
              SQX_ERR_EXTRACT);
    EXPECT_NE(lastError().find("c/b.bin"), std::string::npos) << lastError();
    EXPECT_EQ(treeOf(dir / "out"), (std::vector<std::string>{"a.txt", "c.txt"}));
}

TEST(SqxExtractVolumes, MissingVolumeIsAskedForUntilItAppears) {
    ScratchDir dir;
    const std::string data = randomBytes(3 << 20, 21);
    writeFile(dir / "src/big.bin", data);
    Recorder rec;
    ASSERT_EQ(pack(dir / "set.ebk", {dir / "src/big.bin"}, rec, withVolumes(SQX_FLOPPY_BYTES)),
              SQX_OK);
    fs::rename(dir / "set.e01", dir / "away");

    Recorder stop;
    stop.handler = [](const Event&, unsigned char*) { return 0; };
    std::vector<std::string> names;
    EXPECT_EQ(list(dir / "set.ebk", names, stop), SQX_ERR_ABORTED);
    EXPECT_EQ(stop.withReason(SQX_REASON_VOLUME).size(), 1u);

    Recorder insert;
    insert.handler = [&](const Event& e, unsigned char*) {
        if (e.reason == SQX_REASON_VOLUME) fs::rename(dir / "away", e.text);
        return 1;
    };
    ASSERT_EQ(extract(dir / "set.ebk", {"big.bin"}, dir / "out", false, insert), SQX_OK)
        << lastError();
    std::vector<Event> asks = insert.withReason(SQX_REASON_VOLUME);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].text, dir / "set.e01");
    EXPECT_EQ(asks[0].volumeKind, SQX_VOLUME_READ);
    EXPECT_EQ(asks[0].disk, 2);
    EXPECT_TRUE(readFile(dir / "out/big.bin") == data);
}

TEST(SqxExtractScale, EmptyArchiveAndThousandsOfNamesInOnePass) {
    ScratchDir dir;
    Recorder rec;
    ASSERT_EQ(pack(dir / "empty.ebk", {dir / "nothing-here"}, rec), SQX_OK) << lastError();
    std::vector<std::string> names;
    ASSERT_EQ(list(dir / "empty.ebk", names, rec), SQX_OK) << lastError();
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(extract(dir / "empty.ebk", {"a"}, dir / "o", true, rec), SQX_OK);
    EXPECT_EQ(rec.withReason(SQX_REASON_ABSENT).size(), 1u);

    const int count = 2000;
    for (int i = 0; i < count; ++i)
        writeFile(dir / ("store/m" + std::to_string(100000 + i)), "mail " + std::to_string(i));
    ASSERT_EQ(pack(dir / "many.ebk", {dir / "store"}, rec), SQX_OK) << lastError();
    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    ASSERT_EQ(list(dir / "many.ebk", names, rec), SQX_OK);
    auto listing = Clock::now() - t0;
    names.erase(names.begin());  // the folder entry
    ASSERT_EQ(names.size(), static_cast<size_t>(count));

    // Into the source folder, where every file exists already: skipping
    // them all leaves the walk through the archive as the cost measured
    // (creating files is slow on some file systems).
    Recorder skipAll;
    t0 = Clock::now();
    ASSERT_EQ(extract(dir / "many.ebk", names, dir / "store", false, skipAll), SQX_OK);
    auto walk = Clock::now() - t0;
    EXPECT_EQ(skipAll.withReason(SQX_REASON_OVERWRITE).size(), static_cast<size_t>(count));
    // Opening the archive again for each name would cost about a thousand listings.
    EXPECT_LT(walk, listing * 30 + std::chrono::seconds(1));
    ASSERT_EQ(extract(dir / "many.ebk", {names[0], names[1999]}, dir / "out", false, rec), SQX_OK);
    EXPECT_EQ(readFile(dir / "out/m101999"), "mail 1999");
}
