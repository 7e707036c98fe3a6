// The protection of a ZIP archive as its headers record it: every file entry
// with data encrypted with AES in the AE-2 form, with no CRC-32 of the plaintext
// in its local header, its data descriptor or its central header.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qb::test {

inline uint16_t u16(const std::string& d, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(d[at]) |
                                 (static_cast<unsigned char>(d[at + 1]) << 8));
}
inline uint32_t u32(const std::string& d, size_t at) {
    return u16(d, at) | (static_cast<uint32_t>(u16(d, at + 2)) << 16);
}

// The vendor version of the AES extra field, 0 when there is none.
inline int aesVersion(const std::string& d, size_t extra, size_t len) {
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

// Walks the central directory of the archive `d` (its bytes) and each entry's
// local header and data descriptor, checking the protection of every file entry
// that has data; returns those entries.
inline std::vector<StoredEntry> checkAe2(const std::string& d) {
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

}  // namespace qb::test
