// Protected archives: every encrypted entry in the AE-2 form (no CRC of the
// plaintext anywhere), readable by 7-Zip and bsdtar, and a changed byte caught
// by the entry's authentication code.
#include <gtest/gtest.h>

#include <cstring>

#include "sqx_testutil.h"

using namespace sqxtest;

namespace {

uint16_t u16(const std::string& d, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(d[at]) |
                                 (static_cast<unsigned char>(d[at + 1]) << 8));
}
uint32_t u32(const std::string& d, size_t at) {
    return u16(d, at) | (static_cast<uint32_t>(u16(d, at + 2)) << 16);
}

// The vendor version of the AES extra field, 0 when there is none.
int aesVersion(const std::string& d, size_t extra, size_t len) {
    for (size_t i = extra; i + 4 <= extra + len; i += 4 + u16(d, i + 2))
        if (u16(d, i) == 0x9901) return u16(d, i + 4);
    return 0;
}

struct StoredEntry {
    std::string name;
    uint32_t localOffset = 0;
    uint32_t compressed = 0;
    size_t dataOffset = 0;  // first byte after the local header
};

// Walks the central directory and each entry's local header and data
// descriptor, checking the protection of every file entry.
std::vector<StoredEntry> checkAe2(const std::string& d) {
    std::vector<StoredEntry> files;
    const size_t end = d.rfind(std::string("PK\x05\x06", 4));
    EXPECT_NE(end, std::string::npos);
    if (end == std::string::npos) return files;
    const uint16_t count = u16(d, end + 10);
    size_t c = u32(d, end + 16);
    for (uint16_t k = 0; k < count; ++k) {
        EXPECT_EQ(u32(d, c), 0x02014b50u);
        const size_t nameLen = u16(d, c + 28), extraLen = u16(d, c + 30);
        StoredEntry e;
        e.name = d.substr(c + 46, nameLen);
        e.compressed = u32(d, c + 20);
        e.localOffset = u32(d, c + 42);
        const bool folder = e.name.back() == '/';
        // An empty file has nothing to hide: stored as it is, CRC 0.
        if (!folder && u32(d, c + 24) == 0) {
            EXPECT_EQ(u32(d, c + 16), 0u) << e.name;
        } else if (!folder) {
            SCOPED_TRACE(e.name);
            EXPECT_EQ(u16(d, c + 8) & 1, 1) << "central: not encrypted";
            EXPECT_EQ(u16(d, c + 10), 99) << "central: not AES";
            EXPECT_EQ(u32(d, c + 16), 0u) << "central: CRC stored";
            EXPECT_EQ(aesVersion(d, c + 46 + nameLen, extraLen), 2) << "central: not AE-2";
            const size_t l = e.localOffset;
            EXPECT_EQ(u32(d, l), 0x04034b50u);
            const uint16_t flags = u16(d, l + 6);
            EXPECT_EQ(u16(d, l + 8), 99) << "local: not AES";
            EXPECT_EQ(u32(d, l + 14), 0u) << "local: CRC stored";
            const size_t ln = u16(d, l + 26), le = u16(d, l + 28);
            EXPECT_EQ(aesVersion(d, l + 30 + ln, le), 2) << "local: not AE-2";
            e.dataOffset = l + 30 + ln + le;
            if (flags & 8) {
                const size_t dd = e.dataOffset + e.compressed;
                EXPECT_EQ(u32(d, dd), 0x08074b50u);
                EXPECT_EQ(u32(d, dd + 4), 0u) << "descriptor: CRC stored";
            }
            files.push_back(e);
        }
        c += 46 + nameLen + extraLen + u16(d, c + 32);
    }
    return files;
}

}  // namespace

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
