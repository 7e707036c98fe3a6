// Archives past the classic ZIP limits: more than 65,535 entries, and files
// and offsets beyond 4 GiB. These take a while (several GiB go through zlib).
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "sqx_testutil.h"

using namespace sqxtest;

TEST(SqxZip64, MoreThan65535Entries) {
    ScratchDir dir;
    // One small file listed over and over, stored under a new name each
    // time (creating 66,000 files is slow on some file systems).
    const int entries = 66000;
    writeFile(dir / "mail.eml", "Subject: hello\n\nbody\n");
    int counter = 0;
    Recorder rec;
    rec.handler = [&](const Event& e, unsigned char* r) {
        if (e.reason == SQX_REASON_ADD) setName(r, "store\\m" + std::to_string(counter++));
        return 1;
    };
    const std::string zipPath = dir / "many.ebk";
    ASSERT_EQ(pack(zipPath, std::vector<std::string>(entries, dir / "mail.eml"), rec), SQX_OK)
        << lastError();

    std::vector<std::string> names;
    Recorder quiet;
    ASSERT_EQ(list(zipPath, names, quiet), SQX_OK) << lastError();
    ASSERT_EQ(names.size(), static_cast<size_t>(entries));
    EXPECT_EQ(names.back(), "store\\m65999");
    std::string out;
    EXPECT_EQ(run("unzip -tqq " + quote(zipPath), out), 0) << out.substr(0, 2000);
    ASSERT_EQ(run("bsdtar -tf " + quote(zipPath) + " | wc -l", out), 0);
    EXPECT_EQ(std::stoi(out), entries);
    ASSERT_EQ(extract(zipPath, {"store\\m65999"}, dir / "x", false, quiet), SQX_OK) << lastError();
    EXPECT_EQ(readFile(dir / "x/m65999"), "Subject: hello\n\nbody\n");
}

TEST(SqxZip64, FileAndOffsetsBeyond4GiB) {
    ScratchDir dir;
    const uint64_t bigSize = (uint64_t(4) << 30) + 12345;
    const std::string big = dir / "src/huge.mbx";
    fs::create_directories(dir / "src");
    {
        // Sparse: only the marks at both ends take disk space.
        int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "first", 5, 0), 5);
        ASSERT_EQ(::pwrite(fd, "last", 4, static_cast<off_t>(bigSize - 4)), 4);
        ::close(fd);
    }
    writeFile(dir / "src/z-after.txt", "after the big one");
    Recorder rec;
    const std::string zipPath = dir / "huge.ebk";
    ASSERT_EQ(pack(zipPath, {dir / "src"}, rec, withLevel(1)), SQX_OK) << lastError();

    // libarchive's streaming reader walks the local headers and the data.
    archive* a = archive_read_new();
    archive_read_support_format_zip_streamable(a);
    ASSERT_EQ(archive_read_open_filename(a, zipPath.c_str(), 1 << 20), ARCHIVE_OK);
    archive_entry* e;
    std::vector<std::pair<std::string, uint64_t>> seen;
    std::string tail;
    while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
        uint64_t total = 0;
        const void* buf;
        size_t size;
        la_int64_t offset;
        int r;
        while ((r = archive_read_data_block(a, &buf, &size, &offset)) == ARCHIVE_OK) {
            total = static_cast<uint64_t>(offset) + size;
            if (size >= 4) tail.assign(static_cast<const char*>(buf) + size - 4, 4);
        }
        ASSERT_EQ(r, ARCHIVE_EOF) << archive_error_string(a);
        seen.emplace_back(archive_entry_pathname(e), total);
        if (seen.back().first == "src/huge.mbx") {
            EXPECT_EQ(tail, "last");
        }
    }
    archive_read_free(a);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], (std::pair<std::string, uint64_t>{"src/huge.mbx", bigSize}));

    std::string out;
    EXPECT_EQ(run("unzip -tqq " + quote(zipPath), out), 0) << out;
    // The small file's header lies past 4 GiB in the archive.
    Recorder quiet;
    ASSERT_EQ(extract(zipPath, {"src\\z-after.txt"}, dir / "x", false, quiet), SQX_OK)
        << lastError();
    EXPECT_EQ(readFile(dir / "x/z-after.txt"), "after the big one");
    std::vector<std::string> names;
    std::vector<unsigned char> info;
    ASSERT_EQ(list(zipPath, names, quiet, &info), SQX_OK);
    uint64_t total;
    std::memcpy(&total, info.data() + SQX_INFO_OFS_TOTAL_SIZE, 8);
    EXPECT_EQ(total, bigSize + 17);
}
