// Protected archives: every encrypted entry in the AE-2 form (no CRC of the
// plaintext anywhere), readable by 7-Zip and bsdtar, and a changed byte caught
// by the entry's authentication code.
#include <gtest/gtest.h>

#include <cstring>

#include "sqx_testutil.h"
#include "testkit/zip_check.h"

using namespace sqxtest;
using qb::test::checkAe2;
using qb::test::StoredEntry;

TEST(SqxProtected, EveryEntryIsAe2AndOpensInOtherTools) {
    ScratchDir dir;
    const std::string big = randomBytes(300 << 10, 7) + std::string(200 << 10, 'x');
    writeFile(dir / "src/mail/big.mbx", big);
    writeFile(dir / "src/known.txt", "a small file whose content anyone could guess");
    writeFile(dir / "src/tiny", "abc");
    writeFile(dir / "src/empty", "");
    const std::string password = "correct horse";
    for (int32_t level : {3, 0}) {
        SCOPED_TRACE(level);
        const std::string archive = dir / ("pw" + std::to_string(level) + ".ebk");
        Recorder rec;
        AddSettings s = withPassword(password);
        s.level = level;
        ASSERT_EQ(pack(archive, {dir / "src"}, rec, s), SQX_OK) << lastError();
        const std::string bytes = readFile(archive);
        EXPECT_EQ(checkAe2(bytes).size(), 3u);

        std::string out;
        EXPECT_EQ(run("7z t -p" + quote(password) + " " + quote(archive), out), 0) << out;
        EXPECT_NE(run("7z t -pwrong " + quote(archive), out), 0) << out;
        const std::string x = dir / ("bsdtar" + std::to_string(level));
        fs::create_directories(x);
        ASSERT_EQ(run("bsdtar --passphrase " + quote(password) + " -xf " + quote(archive) + " -C " +
                          quote(x),
                      out),
                  0)
            << out;
        EXPECT_TRUE(readFile(x + "/src/mail/big.mbx") == big);
        EXPECT_EQ(readFile(x + "/src/known.txt"), "a small file whose content anyone could guess");
    }
}

TEST(SqxProtected, AChangedByteFailsThatEntryAndWritesNothingOfIt) {
    ScratchDir dir;
    const std::string big = randomBytes(100 << 10, 3);
    writeFile(dir / "src/a.mbx", big);
    writeFile(dir / "src/b.txt", "the other letter");
    // Stored without compression, the damage reaches no decompressor: only the
    // authentication code can tell.
    for (int32_t level : {0, 3}) {
        SCOPED_TRACE(level);
        const std::string archive = dir / ("pw" + std::to_string(level) + ".ebk");
        Recorder packRec;
        AddSettings s = withPassword("secret");
        s.level = level;
        ASSERT_EQ(pack(archive, {dir / "src"}, packRec, s), SQX_OK) << lastError();
        std::string bytes = readFile(archive);
        const std::vector<StoredEntry> files = checkAe2(bytes);
        ASSERT_EQ(files.size(), 2u);
        ASSERT_EQ(files[0].name, "src/a.mbx");
        // Past the salt and the password check, in the middle of the data.
        bytes[files[0].dataOffset + 18 + files[0].compressed / 2] ^= 0x20;
        writeFile(archive, bytes);

        const std::string out = dir / ("out" + std::to_string(level));
        Recorder rec;
        rec.handler = [](const Event& e, unsigned char* r) {
            if (e.reason == SQX_REASON_PASSWORD) setText(r, "secret");
            return 1;
        };
        EXPECT_EQ(extract(archive, {"src\\a.mbx", "src\\b.txt"}, out, false, rec), SQX_ERR_EXTRACT);
        EXPECT_NE(lastError().find("src/a.mbx"), std::string::npos) << lastError();
        if (level == 0) {
            EXPECT_NE(lastError().find("uthentication"), std::string::npos) << lastError();
        }
        EXPECT_EQ(treeOf(out), std::vector<std::string>{"b.txt"});
        EXPECT_EQ(readFile(out + "/b.txt"), "the other letter");
    }
}
