// Archives compressed on several threads: large files cut into pieces that join
// into one deflate stream, incompressible data stored, many small files side by
// side; each must read back through independent readers, and a test of the
// archive must find a damaged entry.
#include <gtest/gtest.h>
#include <unistd.h>

#include "sqx_testutil.h"

using namespace sqxtest;

namespace {

// Mail-like text that deflate shrinks well.
std::string mailText(size_t size, uint32_t seed) {
    static const char* const words[] = {"meeting", "report",  "the",    "invoice", "of",
                                        "please",  "regards", "budget", "and",     "Monday"};
    std::mt19937 gen(seed);
    std::string out;
    while (out.size() < size) {
        out += words[gen() % 10];
        out += gen() % 9 == 0 ? '\n' : ' ';
    }
    out.resize(size);
    return out;
}

struct CentralEntry {
    uint16_t flags = 0, method = 0;
    uint64_t compressed = 0, size = 0;
};

uint32_t le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}

// The central directory's records by name (archives below 4 GiB).
std::map<std::string, CentralEntry> centralDirectory(const std::string& bytes) {
    std::map<std::string, CentralEntry> out;
    const size_t end = bytes.rfind(std::string("PK\5\6", 4));
    if (end == std::string::npos) return out;
    size_t at = le(bytes, end + 16, 4);
    while (at + 46 <= bytes.size() && bytes.compare(at, 4, std::string("PK\1\2", 4)) == 0) {
        CentralEntry e;
        e.flags = static_cast<uint16_t>(le(bytes, at + 8, 2));
        e.method = static_cast<uint16_t>(le(bytes, at + 10, 2));
        e.compressed = le(bytes, at + 20, 4);
        e.size = le(bytes, at + 24, 4);
        const size_t nameLen = le(bytes, at + 28, 2), extra = le(bytes, at + 30, 2),
                     comment = le(bytes, at + 32, 2);
        out[bytes.substr(at + 46, nameLen)] = e;
        at += 46 + nameLen + extra + comment;
    }
    return out;
}

int32_t testArchive(const std::string& archive, Recorder& rec) {
    return SqxTestFiles(archive.c_str(), nullptr, nullptr, &Recorder::callback,
                        reinterpret_cast<intptr_t>(&rec));
}

}  // namespace

TEST(SqxParallelPack, PiecesJoinIntoStreamsThatEveryReaderTakes) {
    ScratchDir dir;
    const std::string store = dir / "Store";
    const std::string text = mailText(5 << 20, 1);                             // five pieces
    const std::string mixed = mailText(1 << 20, 2) + randomBytes(3 << 20, 3);  // text, then noise
    const std::string noise = randomBytes((2 << 20) + 12345, 4);
    writeFile(store + "/Inbox.mbx", text);
    writeFile(store + "/mixed.bin", mixed);
    writeFile(store + "/photo.jpg", noise);
    writeFile(store + "/small noise.bin", randomBytes(3000, 5));
    for (int i = 0; i < 1500; ++i)
        writeFile(store + "/Messages/" + std::to_string(i) + ".eml",
                  mailText(200 + static_cast<size_t>(i) * 37 % 9000, 100 + i));

    Recorder rec;
    const std::string archive = dir / "backup.ebk";
    ASSERT_EQ(pack(archive, {store}, rec), SQX_OK) << lastError();

    ReadBack rb = readWithLibarchive({archive});
    ASSERT_TRUE(rb.ok) << rb.error;
    EXPECT_EQ(rb.names.size(), 1 + 1 + 4 + 1500u);
    EXPECT_EQ(rb.data["Store/Inbox.mbx"], text);
    EXPECT_EQ(rb.data["Store/mixed.bin"], mixed);
    EXPECT_EQ(rb.data["Store/photo.jpg"], noise);
    EXPECT_EQ(rb.data["Store/Messages/1499.eml"], readFile(store + "/Messages/1499.eml"));
    for (const char* command : {"unzip -tqq ", "bsdtar -tf ", "7z t "}) {
        std::string out;
        EXPECT_EQ(run(command + quote(archive), out), 0) << command << out;
    }

    const std::string bytes = readFile(archive);
    std::map<std::string, CentralEntry> cd = centralDirectory(bytes);
    ASSERT_EQ(cd.size(), rb.names.size());
    // A large file: one deflate stream, sizes after its data.
    EXPECT_EQ(cd["Store/Inbox.mbx"].method, 8);
    EXPECT_TRUE(cd["Store/Inbox.mbx"].flags & 0x08);
    EXPECT_LT(cd["Store/Inbox.mbx"].compressed * 2, cd["Store/Inbox.mbx"].size);
    // Noise after text stays in the stream, as stored blocks: barely larger.
    EXPECT_EQ(cd["Store/mixed.bin"].method, 8);
    EXPECT_LT(cd["Store/mixed.bin"].compressed, mixed.size());
    // Data that does not compress is stored, large or small.
    EXPECT_EQ(cd["Store/photo.jpg"].method, 0);
    EXPECT_EQ(cd["Store/photo.jpg"].compressed, noise.size());
    EXPECT_EQ(cd["Store/small noise.bin"].method, 0);
    // A small file: deflated, sizes in its local header.
    EXPECT_EQ(cd["Store/Messages/7.eml"].method, 8);
    EXPECT_FALSE(cd["Store/Messages/7.eml"].flags & 0x08);

    // The test reads every entry back; one changed byte in the middle of the
    // large stream is found and named.
    Recorder tester;
    EXPECT_EQ(testArchive(archive, tester), SQX_OK) << lastError();
    std::string damaged = bytes;
    const size_t at = damaged.find("Store/Inbox.mbx");
    ASSERT_NE(at, std::string::npos);
    const size_t middle = at + cd["Store/Inbox.mbx"].compressed / 2;
    damaged[middle] = static_cast<char>(damaged[middle] ^ 0x20);
    const std::string bad = dir / "damaged.ebk";
    writeFile(bad, damaged);
    Recorder tester2;
    EXPECT_EQ(testArchive(bad, tester2), SQX_ERR_EXTRACT);
    EXPECT_NE(lastError().find("Store\\Inbox.mbx"), std::string::npos) << lastError();
}

// A file that changes while it is packed: one that grows is stored at the size
// it had when its entry began; one that shrinks fails the job, and an older
// archive of that name stays.
TEST(SqxParallelPack, FileChangingWhilePackedIsCutOrRefused) {
    ScratchDir dir;
    const std::string file = dir / "src/Inbox.mbx";
    const std::string original = mailText(6 << 20, 7);
    writeFile(file, original);
    const std::string archive = dir / "backup.ebk";

    Recorder grow;
    bool grown = false;
    grow.handler = [&](const Event& e, unsigned char* r) {
        if (e.reason == SQX_REASON_ADD) setName(r, "Inbox.mbx");
        if (e.reason == SQX_REASON_PROGRESS && !grown) {
            std::ofstream(file, std::ios::app) << std::string(3 << 20, 'g');
            grown = true;
        }
        return 1;
    };
    ASSERT_EQ(pack(archive, {file}, grow), SQX_OK) << lastError();
    ASSERT_TRUE(grown);
    ReadBack rb = readWithLibarchive({archive});
    ASSERT_TRUE(rb.ok) << rb.error;
    EXPECT_EQ(rb.data["Inbox.mbx"], original);
    std::string out;
    EXPECT_EQ(run("unzip -tqq " + quote(archive), out), 0) << out;

    writeFile(file, original);
    Recorder shrink;
    bool shrunk = false;
    shrink.handler = [&](const Event& e, unsigned char* r) {
        if (e.reason == SQX_REASON_ADD) setName(r, "Inbox.mbx");
        if (e.reason == SQX_REASON_PROGRESS && !shrunk) {
            EXPECT_EQ(::truncate(file.c_str(), 1 << 20), 0);
            shrunk = true;
        }
        return 1;
    };
    EXPECT_EQ(pack(archive, {file}, shrink), SQX_ERR_READ);
    EXPECT_NE(lastError().find("shrank"), std::string::npos) << lastError();
    rb = readWithLibarchive({archive});
    ASSERT_TRUE(rb.ok) << rb.error;
    EXPECT_EQ(rb.data["Inbox.mbx"], original);
    EXPECT_EQ(treeOf(dir.path()),
              (std::vector<std::string>{"backup.ebk", "src/", "src/Inbox.mbx"}));
}
