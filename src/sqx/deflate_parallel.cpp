#include "sqx/deflate_parallel.h"

#include <libdeflate.h>

#include <algorithm>
#include <new>
#include <stdexcept>

namespace sqx {

namespace {

constexpr size_t kWindow = 32768;
// Data below this size is compressed outright; larger pieces are first judged
// by a quick pass over their start, so that incompressible data costs no
// full-strength deflate.
constexpr size_t kProbe = 16384;

// A piece that does not shrink by at least this share is stored.
bool shrankEnough(size_t compressed, size_t original) {
    return compressed + original / 32 < original;
}

// `data` as stored deflate blocks; the stream is byte aligned before and after.
void storedBlocks(const unsigned char* p, size_t n, bool final, Bytes& out) {
    out.clear();
    out.reserve(n + 5 * (n / 65535 + 1));
    do {
        const size_t len = std::min<size_t>(n, 65535);
        const bool last = final && len == n;
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<unsigned char>(len & 0xFF));
        out.push_back(static_cast<unsigned char>(len >> 8));
        out.push_back(static_cast<unsigned char>(~len & 0xFF));
        out.push_back(static_cast<unsigned char>((~len >> 8) & 0xFF));
        out.insert(out.end(), p, p + len);
        p += len;
        n -= len;
    } while (n > 0);
}

class Stream {
  public:
    explicit Stream(int level) {
        if (deflateInit2(&z_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~Stream() { deflateEnd(&z_); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Raw deflate of p[0..n) into out, after `dict`; final ends the stream,
    // else it ends with a sync flush.
    void compress(const unsigned char* dict, size_t dictLen, const unsigned char* p, size_t n,
                  bool final, Bytes& out) {
        deflateReset(&z_);
        if (dictLen > 0 && deflateSetDictionary(&z_, dict, static_cast<uInt>(dictLen)) != Z_OK)
            throw std::runtime_error("deflate dictionary refused");
        out.resize(deflateBound(&z_, static_cast<uLong>(n)) + 64);
        z_.next_in = const_cast<unsigned char*>(p);
        z_.avail_in = static_cast<uInt>(n);
        size_t used = 0;
        for (;;) {
            z_.next_out = out.data() + used;
            z_.avail_out = static_cast<uInt>(out.size() - used);
            const int r = deflate(&z_, final ? Z_FINISH : Z_SYNC_FLUSH);
            used = out.size() - z_.avail_out;
            if (r == Z_STREAM_END || (!final && r == Z_OK && z_.avail_in == 0 && z_.avail_out > 0))
                break;
            if (r != Z_OK && r != Z_BUF_ERROR) throw std::runtime_error("deflate failed");
            out.resize(out.size() * 2);
        }
        out.resize(used);
    }

  private:
    z_stream z_{};
};

// A whole entry in one piece needs no dictionary and no sync flush: libdeflate
// compresses it about twice as fast as zlib, and as small.
class WholeCompressor {
  public:
    explicit WholeCompressor(int level) : c_(libdeflate_alloc_compressor(level)) {
        if (!c_) throw std::bad_alloc();
    }
    ~WholeCompressor() { libdeflate_free_compressor(c_); }
    WholeCompressor(const WholeCompressor&) = delete;
    WholeCompressor& operator=(const WholeCompressor&) = delete;

    void compress(const unsigned char* p, size_t n, Bytes& out) {
        out.resize(libdeflate_deflate_compress_bound(c_, n));
        const size_t got = libdeflate_deflate_compress(c_, p, n, out.data(), out.size());
        if (got == 0) throw std::runtime_error("deflate failed");
        out.resize(got);
    }

  private:
    libdeflate_compressor* c_;
};

}  // namespace

uint32_t combineCrc(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
    return static_cast<uint32_t>(crc32_combine(crcA, crcB, static_cast<z_off_t>(lengthB)));
}

unsigned DeflatePool::defaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n, 1u, 8u);
}

DeflatePool::DeflatePool(int level, unsigned threads) : level_(level) {
    threads = std::max(threads, 1u);
    threads_.reserve(threads);
    try {
        for (unsigned i = 0; i < threads; ++i)
            threads_.emplace_back([this] { work(); });
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_)
            t.join();
        throw;
    }
}

DeflatePool::~DeflatePool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

void DeflatePool::submit(std::shared_ptr<DeflatePiece> piece) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(piece));
    }
    wake_.notify_one();
}

void DeflatePool::wait(DeflatePiece& piece) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return piece.done; });
    if (piece.error) std::rethrow_exception(piece.error);
}

void DeflatePool::work() {
    std::unique_ptr<Stream> stream;
    std::unique_ptr<Stream> probe;
    std::unique_ptr<WholeCompressor> whole;
    Bytes probeOut;
    for (;;) {
        std::shared_ptr<DeflatePiece> piece;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            piece = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            const Bytes& in = *piece->input;
            const size_t n = in.size();
            piece->crc = libdeflate_crc32(0, in.data(), n);
            bool store = n == 0 || piece->storeOnly;
            if (!store && n >= 2 * kProbe) {
                if (!probe) probe = std::make_unique<Stream>(1);
                probe->compress(nullptr, 0, in.data(), kProbe, true, probeOut);
                store = !shrankEnough(probeOut.size(), kProbe);
            }
            if (!store && piece->final && !piece->previous) {
                if (!whole) whole = std::make_unique<WholeCompressor>(level_);
                whole->compress(in.data(), n, piece->output);
                store = !shrankEnough(piece->output.size(), n);
            } else if (!store) {
                if (!stream) stream = std::make_unique<Stream>(level_);
                const Bytes* prev = piece->previous.get();
                const size_t dictLen = prev ? std::min(prev->size(), kWindow) : 0;
                stream->compress(prev ? prev->data() + prev->size() - dictLen : nullptr, dictLen,
                                 in.data(), n, piece->final, piece->output);
                store = !shrankEnough(piece->output.size(), n);
            }
            if (store) {
                piece->incompressible = true;
                if (!piece->storeOnly) storedBlocks(in.data(), n, piece->final, piece->output);
            }
        } catch (...) {
            piece->error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            piece->done = true;
        }
        finished_.notify_all();
    }
}

}  // namespace sqx
