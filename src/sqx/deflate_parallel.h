// Compression of data pieces on worker threads. The pieces of one entry form
// one deflate stream: every piece but the last ends with a sync flush (byte
// aligned, not final) and is compressed with the 32 KiB before it as its
// dictionary, so the joined stream is a standard one that compresses as well
// as a single pass would. Pieces whose data does not compress become stored
// deflate blocks. Only the worker threads run here; the caller's thread
// submits pieces and collects them in order.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sqx {

using Bytes = std::vector<unsigned char>;

struct DeflatePiece {
    std::shared_ptr<const Bytes> input;
    // The piece before this one in the same entry (its tail is the dictionary).
    std::shared_ptr<const Bytes> previous;
    bool final = false;      // the entry's last piece: the stream ends here
    bool storeOnly = false;  // only the CRC is wanted: the entry is stored

    // Filled by the worker.
    Bytes output;
    uint32_t crc = 0;
    // The piece did not shrink by a few per cent: stored blocks in `output`.
    bool incompressible = false;
    std::exception_ptr error;
    bool done = false;
};

class DeflatePool {
  public:
    // level: zlib level 1..9; threads: workers to start (at least one).
    DeflatePool(int level, unsigned threads);
    ~DeflatePool();
    DeflatePool(const DeflatePool&) = delete;
    DeflatePool& operator=(const DeflatePool&) = delete;

    void submit(std::shared_ptr<DeflatePiece> piece);
    // Blocks until the piece is done; rethrows a failure of its worker.
    void wait(DeflatePiece& piece);

    // Workers for this machine: one per core, at most eight.
    static unsigned defaultThreads();

  private:
    void work();

    int level_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<DeflatePiece>> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// Combines the CRC-32 of two pieces: crc of (a then b), where b has `lengthB` bytes.
uint32_t combineCrc(uint32_t crcA, uint32_t crcB, uint64_t lengthB);

}  // namespace sqx
