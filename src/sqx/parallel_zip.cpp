#include "sqx/parallel_zip.h"

#include <time.h>

#include <algorithm>

#include "sqx/support.h"

namespace sqx {

namespace {

constexpr size_t kPiece = 1 << 20;
// Pieces in flight: enough to keep every worker busy, little enough for memory.
size_t maxQueuedBytes() {
    return std::min<size_t>(16, 2 * DeflatePool::defaultThreads() + 2) << 20;
}
constexpr size_t kMaxQueuedItems = 512;
// Entries that may pass 4 GiB once compressed get ZIP64 sizes from the start.
constexpr uint64_t kZip64Declared = 0xFF000000u;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;

constexpr uint16_t kFlagDescriptor = 1 << 3;
constexpr uint16_t kFlagUtf8 = 1 << 11;
constexpr uint16_t kMethodStore = 0;
constexpr uint16_t kMethodDeflate = 8;

void le16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
void le32(Bytes& b, uint32_t v) {
    le16(b, static_cast<uint16_t>(v));
    le16(b, static_cast<uint16_t>(v >> 16));
}
void le64(Bytes& b, uint64_t v) {
    le32(b, static_cast<uint32_t>(v));
    le32(b, static_cast<uint32_t>(v >> 32));
}

uint32_t clamp32(uint64_t v) {
    return v >= kMax32 ? kMax32 : static_cast<uint32_t>(v);
}

// MS-DOS date and time (local time, two-second steps), date in the high half.
uint32_t dosDateTime(time_t t) {
    struct tm tm {};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) return (1u << 5 | 1u) << 16;  // 1980-01-01
    if (tm.tm_year > 207) tm.tm_year = 207;
    const uint32_t date =
        static_cast<uint32_t>((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    const uint32_t time = static_cast<uint32_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    return date << 16 | time;
}

// The extended timestamp field: the modification time in Unix seconds.
void timestampExtra(Bytes& b, uint32_t mtime) {
    le16(b, 0x5455);
    le16(b, 5);
    b.push_back(1);
    le32(b, mtime);
}

}  // namespace

ParallelZipWriter::ParallelZipWriter(VolumeWriter& out, int level) : out_(out), level_(level) {
    pool_ = std::make_unique<DeflatePool>(level > 0 ? level : 1, DeflatePool::defaultThreads());
}

ParallelZipWriter::~ParallelZipWriter() = default;

void ParallelZipWriter::addEntry(const std::string& name, const struct stat& st, bool folder,
                                 uint64_t size) {
    if (open_) fail(SQX_ERR_INTERNAL, "internal error: " + entries_.back().name + " is unfinished");
    Entry e;
    e.name = folder ? name + "/" : name;
    e.folder = folder;
    e.mode = static_cast<uint32_t>((folder ? S_IFDIR : S_IFREG) | (st.st_mode & 07777));
    e.dosTime = dosDateTime(st.st_mtim.tv_sec);
    e.mtime = static_cast<uint32_t>(st.st_mtim.tv_sec);
    e.declared = folder ? 0 : size;
    entries_.push_back(std::move(e));
    if (folder || size == 0) {
        queue_.push_back({entries_.size() - 1, nullptr, true, true});
    } else {
        open_ = true;
        received_ = 0;
        firstPiece_ = true;
        previous_.reset();
        current_ = std::make_shared<Bytes>();
        current_->reserve(static_cast<size_t>(std::min<uint64_t>(size, kPiece)));
    }
    drainUntil(kMaxQueuedItems, maxQueuedBytes());
}

void ParallelZipWriter::data(const void* p, size_t n, const std::string& name) {
    const auto* bytes = static_cast<const unsigned char*>(p);
    if (!open_ || received_ + n > entries_.back().declared)
        fail(SQX_ERR_INTERNAL, "internal error: more data than announced for " + name);
    while (n > 0) {
        const size_t take = std::min(n, kPiece - current_->size());
        current_->insert(current_->end(), bytes, bytes + take);
        bytes += take;
        n -= take;
        received_ += take;
        const bool last = received_ == entries_.back().declared;
        if (current_->size() == kPiece || last) submitPiece(last);
    }
}

void ParallelZipWriter::submitPiece(bool last) {
    auto piece = std::make_shared<DeflatePiece>();
    piece->input = current_;
    piece->previous = previous_;
    piece->final = last;
    piece->storeOnly = level_ == 0;
    queuedBytes_ += current_->size();
    queue_.push_back({entries_.size() - 1, piece, firstPiece_, last});
    pool_->submit(piece);
    firstPiece_ = false;
    if (last) {
        open_ = false;
        previous_.reset();
        current_.reset();
    } else {
        previous_ = current_;
        const uint64_t left = entries_.back().declared - received_;
        current_ = std::make_shared<Bytes>();
        current_->reserve(static_cast<size_t>(std::min<uint64_t>(left, kPiece)));
    }
    drainUntil(kMaxQueuedItems, maxQueuedBytes());
}

void ParallelZipWriter::drainUntil(size_t maxItems, size_t maxBytes) {
    while (!queue_.empty() && (queue_.size() > maxItems || queuedBytes_ > maxBytes))
        drainOne();
}

void ParallelZipWriter::drainOne() {
    Item item = std::move(queue_.front());
    queue_.pop_front();
    Entry& e = entries_[item.entry];
    DeflatePiece* piece = item.piece.get();
    if (piece) pool_->wait(*piece);

    if (item.first) {
        e.offset = written_;
        if (!piece) {
            e.method = kMethodStore;
            writeLocalHeader(e, true);
            return;
        }
        storing_ = piece->incompressible;
        e.method = storing_ ? kMethodStore : kMethodDeflate;
        if (item.last) {
            // The whole entry is at hand: a plain local header.
            e.crc = piece->crc;
            e.size = piece->input->size();
            e.compressed = storing_ ? e.size : piece->output.size();
            writeLocalHeader(e, true);
        } else {
            e.flags |= kFlagDescriptor;
            e.zip64Local = e.declared >= kZip64Declared;
            writeLocalHeader(e, false);
        }
    }
    const Bytes& out = storing_ ? *piece->input : piece->output;
    put(out.data(), out.size());
    const uint64_t inSize = piece->input->size();
    queuedBytes_ -= inSize;
    if (item.first && item.last) return;

    e.crc = item.first ? piece->crc : combineCrc(e.crc, piece->crc, inSize);
    e.size += inSize;
    e.compressed += out.size();
    if (item.last) {
        Bytes d;
        le32(d, 0x08074b50);
        le32(d, e.crc);
        if (e.zip64Local) {
            le64(d, e.compressed);
            le64(d, e.size);
        } else {
            if (e.compressed >= kMax32 || e.size >= kMax32)
                fail(SQX_ERR_INTERNAL, "internal error: " + e.name + " outgrew its header");
            le32(d, static_cast<uint32_t>(e.compressed));
            le32(d, static_cast<uint32_t>(e.size));
        }
        put(d.data(), d.size());
    }
}

void ParallelZipWriter::writeLocalHeader(Entry& e, bool known) {
    e.flags |= kFlagUtf8;
    Bytes h;
    le32(h, 0x04034b50);
    le16(h, e.zip64Local ? 45 : 20);
    le16(h, e.flags);
    le16(h, e.method);
    le32(h, e.dosTime);
    le32(h, known ? e.crc : 0);
    const uint32_t sizes = e.zip64Local ? kMax32 : 0;
    le32(h, known ? static_cast<uint32_t>(e.compressed) : sizes);
    le32(h, known ? static_cast<uint32_t>(e.size) : sizes);
    le16(h, static_cast<uint16_t>(e.name.size()));
    le16(h, static_cast<uint16_t>(9 + (e.zip64Local ? 20 : 0)));
    h.insert(h.end(), e.name.begin(), e.name.end());
    timestampExtra(h, e.mtime);
    if (e.zip64Local) {
        le16(h, 0x0001);
        le16(h, 16);
        le64(h, 0);
        le64(h, 0);
    }
    put(h.data(), h.size());
}

void ParallelZipWriter::writeCentralDirectory() {
    const uint64_t start = written_;
    Bytes c;
    for (const Entry& e : entries_) {
        c.clear();
        Bytes zip64;
        if (e.size >= kMax32) le64(zip64, e.size);
        if (e.compressed >= kMax32) le64(zip64, e.compressed);
        if (e.offset >= kMax32) le64(zip64, e.offset);
        const bool big = !zip64.empty() || e.zip64Local;
        le32(c, 0x02014b50);
        le16(c, static_cast<uint16_t>(3 << 8 | (big ? 45 : 20)));  // made on Unix
        le16(c, big ? 45 : 20);
        le16(c, e.flags);
        le16(c, e.method);
        le32(c, e.dosTime);
        le32(c, e.crc);
        le32(c, clamp32(e.compressed));
        le32(c, clamp32(e.size));
        le16(c, static_cast<uint16_t>(e.name.size()));
        le16(c, static_cast<uint16_t>(9 + (zip64.empty() ? 0 : 4 + zip64.size())));
        le16(c, 0);  // comment
        le16(c, 0);  // disk
        le16(c, 0);  // internal attributes
        le32(c, e.mode << 16 | (e.folder ? 0x10u : 0u));
        le32(c, clamp32(e.offset));
        c.insert(c.end(), e.name.begin(), e.name.end());
        timestampExtra(c, e.mtime);
        if (!zip64.empty()) {
            le16(c, 0x0001);
            le16(c, static_cast<uint16_t>(zip64.size()));
            c.insert(c.end(), zip64.begin(), zip64.end());
        }
        put(c.data(), c.size());
    }
    const uint64_t size = written_ - start;
    const uint64_t count = entries_.size();
    c.clear();
    if (count >= 0xFFFF || start >= kMax32 || size >= kMax32) {
        const uint64_t record = written_;
        le32(c, 0x06064b50);
        le64(c, 44);
        le16(c, 3 << 8 | 45);
        le16(c, 45);
        le32(c, 0);
        le32(c, 0);
        le64(c, count);
        le64(c, count);
        le64(c, size);
        le64(c, start);
        le32(c, 0x07064b50);
        le32(c, 0);
        le64(c, record);
        le32(c, 1);
    }
    le32(c, 0x06054b50);
    le16(c, 0);
    le16(c, 0);
    le16(c, static_cast<uint16_t>(std::min<uint64_t>(count, 0xFFFF)));
    le16(c, static_cast<uint16_t>(std::min<uint64_t>(count, 0xFFFF)));
    le32(c, clamp32(size));
    le32(c, clamp32(start));
    le16(c, 0);
    put(c.data(), c.size());
}

void ParallelZipWriter::close() {
    if (open_) fail(SQX_ERR_INTERNAL, "internal error: " + entries_.back().name + " is unfinished");
    while (!queue_.empty())
        drainOne();
    writeCentralDirectory();
    closed_ = true;
}

void ParallelZipWriter::put(const void* p, size_t n) {
    out_.write(p, n);
    written_ += n;
}

}  // namespace sqx
