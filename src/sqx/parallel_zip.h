// A ZIP writer for archives without a password that compresses on every core.
// Entries go out in the order they are added; the caller's thread reads the
// files, writes the archive and hears every callback, while worker threads
// only compress. A file is cut into pieces of 1 MiB that are compressed side by
// side and joined into one deflate stream (see deflate_parallel.h); many small
// files are compressed side by side too. A file whose first piece does not
// compress is stored. A file of one piece gets its CRC and sizes in its local
// header; a longer one gets them in a data descriptor after its data. Memory
// stays bounded: at most a few MiB of pieces are in flight.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sqx/deflate_parallel.h"
#include "sqx/volumes.h"

namespace sqx {

class ParallelZipWriter {
  public:
    // level: zlib level 0 (store everything) to 9.
    ParallelZipWriter(VolumeWriter& out, int level);
    ~ParallelZipWriter();
    ParallelZipWriter(const ParallelZipWriter&) = delete;
    ParallelZipWriter& operator=(const ParallelZipWriter&) = delete;

    // Starts an entry of `size` bytes (0 for a folder); exactly that many bytes
    // must follow through data() before the next entry starts.
    void addEntry(const std::string& name, const struct stat& st, bool folder, uint64_t size);
    void data(const void* p, size_t n, const std::string& name);
    // Writes what is left and the central directory.
    void close();

  private:
    struct Entry {
        std::string name;
        bool folder = false;
        uint32_t mode = 0;
        uint32_t dosTime = 0;
        uint32_t mtime = 0;
        uint64_t declared = 0;
        // Known once written.
        uint16_t method = 0;
        uint16_t flags = 0;
        uint32_t crc = 0;
        uint64_t compressed = 0;
        uint64_t size = 0;
        uint64_t offset = 0;
        bool zip64Local = false;
    };
    struct Item {
        size_t entry;
        std::shared_ptr<DeflatePiece> piece;  // null for an entry without data
        bool first;
        bool last;
    };

    void submitPiece(bool last);
    void drainOne();
    void drainUntil(size_t maxItems, size_t maxBytes);
    void writeLocalHeader(Entry& e, bool known);
    void writeCentralDirectory();
    void put(const void* p, size_t n);

    VolumeWriter& out_;
    int level_;
    std::unique_ptr<DeflatePool> pool_;
    std::vector<Entry> entries_;
    std::deque<Item> queue_;
    size_t queuedBytes_ = 0;
    // The entry being added and its piece being filled.
    std::shared_ptr<Bytes> current_;
    std::shared_ptr<const Bytes> previous_;
    uint64_t received_ = 0;
    bool firstPiece_ = true;
    bool open_ = false;
    // The entry being written.
    bool storing_ = false;
    uint64_t written_ = 0;  // bytes of the archive so far
    bool closed_ = false;
};

}  // namespace sqx
