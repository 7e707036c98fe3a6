// A ZIP archive that lies about its size, for the tests of backups that declare
// more than the disk holds. Header-only (zlib), so that tests of the archive
// library and of the jobs share it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

namespace qb::test {

namespace zip_declaring_detail {
inline void le(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
}
}  // namespace zip_declaring_detail

// A one-entry ZIP archive whose headers declare `declared` uncompressed bytes
// (ZIP64 fields), holding the deflated `data`.
inline std::string zipDeclaring(const std::string& name, const std::string& data,
                                uint64_t declared) {
    std::string packed(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));

    using zip_declaring_detail::le;
    std::string zip;
    le(zip, 0x04034b50, 4);
    le(zip, 45, 2), le(zip, 0, 2), le(zip, 8, 2), le(zip, 0, 2), le(zip, 0x21, 2);
    le(zip, crc, 4), le(zip, 0xffffffff, 4), le(zip, 0xffffffff, 4);
    le(zip, name.size(), 2), le(zip, 20, 2);
    zip += name;
    le(zip, 1, 2), le(zip, 16, 2), le(zip, declared, 8), le(zip, packed.size(), 8);
    zip += packed;
    const size_t central = zip.size();
    le(zip, 0x02014b50, 4);
    le(zip, 45, 2), le(zip, 45, 2), le(zip, 0, 2), le(zip, 8, 2), le(zip, 0, 2), le(zip, 0x21, 2);
    le(zip, crc, 4), le(zip, 0xffffffff, 4), le(zip, 0xffffffff, 4);
    le(zip, name.size(), 2), le(zip, 28, 2), le(zip, 0, 2), le(zip, 0, 2), le(zip, 0, 2);
    le(zip, 0, 4), le(zip, 0xffffffff, 4);
    zip += name;
    le(zip, 1, 2), le(zip, 24, 2), le(zip, declared, 8), le(zip, packed.size(), 8), le(zip, 0, 8);
    const size_t centralSize = zip.size() - central;
    le(zip, 0x06054b50, 4);
    le(zip, 0, 2), le(zip, 0, 2), le(zip, 1, 2), le(zip, 1, 2);
    le(zip, centralSize, 4), le(zip, central, 4), le(zip, 0, 2);
    return zip;
}

}  // namespace qb::test
