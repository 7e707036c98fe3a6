#include "sqx/volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sqx/names.h"
#include "sqx/support.h"

namespace sqx {

namespace {

// Output is gathered into blocks of this size before it goes to the file:
// libarchive hands over many small pieces (headers, names, descriptors).
constexpr size_t kWriteBuffer = 1 << 20;
// Writeback of a volume is started every this many bytes so that the final
// fdatasync() finds little left to do.
constexpr uint64_t kWritebackChunk = 16 << 20;
// Reads after a seek start small (the seekable ZIP reader jumps from header
// to header) and double while the reading stays sequential.
constexpr size_t kFirstReadBlock = 16 << 10;
constexpr size_t kMaxReadBlock = 1 << 20;
// The end record is 22 bytes plus a comment of at most 65535 bytes.
constexpr size_t kEndRecord = 22;
constexpr size_t kEndSearch = kEndRecord + 65535;

bool existsAsFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void writeAll(int fd, const unsigned char* p, size_t n, const std::string& shownPath) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            failErrno(errno, SQX_ERR_WRITE, "write", shownPath);
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void syncFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : path.substr(0, slash);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: makes the renames durable
    ::close(fd);
}

// Whether the file ends with a ZIP end record whose comment reaches exactly
// to the end of the file: only the last volume of a set does.
bool endsWithEndRecord(const std::string& path, uint64_t size) {
    if (size < kEndRecord) return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t len = static_cast<size_t>(std::min<uint64_t>(size, kEndSearch));
    std::vector<unsigned char> tail(len);
    ssize_t got = ::pread(fd, tail.data(), len, static_cast<off_t>(size - len));
    ::close(fd);
    if (got != static_cast<ssize_t>(len)) return false;
    for (size_t i = len - kEndRecord + 1; i-- > 0;) {
        if (tail[i] != 'P' || tail[i + 1] != 'K' || tail[i + 2] != 5 || tail[i + 3] != 6) continue;
        size_t commentLen = size_t(tail[i + 20]) | size_t(tail[i + 21]) << 8;
        if (i + kEndRecord + commentLen == len) return true;
    }
    return false;
}

}  // namespace

// ---- VolumeWriter ---------------------------------------------------------

VolumeWriter::VolumeWriter(std::string archivePath, uint64_t volumeSize, bool askVolumes,
                           Callback& cb)
    : archivePath_(std::move(archivePath)),
      volumeSize_(volumeSize),
      askVolumes_(askVolumes),
      cb_(cb),
      buffer_(kWriteBuffer) {}

VolumeWriter::~VolumeWriter() {
    if (!committed_) discard();
}

void VolumeWriter::open() {
    startVolume();
}

void VolumeWriter::startVolume() {
    size_t index = temps_.size();
    std::string finalPath = volumePath(archivePath_, static_cast<unsigned>(index));
    if (index > 0 && askVolumes_ &&
        !cb_.volume(SQX_VOLUME_WRITE, finalPath, static_cast<int64_t>(volumeSize_),
                    static_cast<int32_t>(index + 1)))
        fail(SQX_ERR_ABORTED, "stopped by the user before volume " + finalPath);
    // A name nobody can plant a file or link at beforehand; the backup holds the
    // person's mail, so only its owner reads it.
    const size_t slash = finalPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : finalPath.substr(0, slash + 1);
    removeStaleTemporaries(folder, finalPath.substr(slash + 1) + ".partial-", "");
    std::string temp;
    int fd = createTemporary(finalPath + ".partial-", "", 0600, temp);
    if (fd < 0) failErrno(errno, SQX_ERR_ACCESS_DENIED, "create", finalPath);
    temps_.push_back(temp);
    struct stat st;
    if (::fstat(fd, &st) == 0) identities_.emplace_back(st.st_dev, st.st_ino);
    fd_ = fd;
    inVolume_ = 0;
    writebackStart_ = 0;
}

bool VolumeWriter::isOwnFile(dev_t device, ino_t inode) const {
    for (const auto& [dev, ino] : identities_)
        if (dev == device && ino == inode) return true;
    return false;
}

void VolumeWriter::finishVolume() {
    if (fd_ < 0) return;
    std::string shown = volumePath(archivePath_, static_cast<unsigned>(temps_.size() - 1));
    int fd = fd_;
    fd_ = -1;
    if (::fdatasync(fd) != 0 && errno != EINVAL) {
        int err = errno;
        ::close(fd);
        failErrno(err, SQX_ERR_WRITE, "write", shown);
    }
    if (::close(fd) != 0) failErrno(errno, SQX_ERR_WRITE, "write", shown);
}

void VolumeWriter::write(const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        size_t n = std::min(size, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, p, n);
        used_ += n;
        p += n;
        size -= n;
        if (used_ == buffer_.size()) flushBuffer();
    }
}

void VolumeWriter::flushBuffer() {
    const unsigned char* p = buffer_.data();
    size_t n = used_;
    used_ = 0;
    while (n > 0) {
        if (volumeSize_ > 0 && inVolume_ == volumeSize_) {
            finishVolume();
            startVolume();
        }
        size_t chunk = n;
        if (volumeSize_ > 0)
            chunk = static_cast<size_t>(std::min<uint64_t>(n, volumeSize_ - inVolume_));
        std::string shown = volumePath(archivePath_, static_cast<unsigned>(temps_.size() - 1));
        writeAll(fd_, p, chunk, shown);
        p += chunk;
        n -= chunk;
        inVolume_ += chunk;
        if (inVolume_ - writebackStart_ >= kWritebackChunk) {
            // Only a hint; file systems without it simply ignore the request.
            ::sync_file_range(fd_, static_cast<off_t>(writebackStart_),
                              static_cast<off_t>(inVolume_ - writebackStart_),
                              SYNC_FILE_RANGE_WRITE);
            writebackStart_ = inVolume_;
        }
    }
}

void VolumeWriter::commit() {
    flushBuffer();
    finishVolume();
    const size_t written = temps_.size();
    // The later volumes first: the archive's own name appears last, when
    // the whole set is in place.
    for (size_t i = temps_.size(); i-- > 0;) {
        std::string finalPath = volumePath(archivePath_, static_cast<unsigned>(i));
        if (::rename(temps_[i].c_str(), finalPath.c_str()) != 0)
            failErrno(errno, SQX_ERR_WRITE, "rename the finished volume to", finalPath);
        temps_.pop_back();
    }
    committed_ = true;
    syncFolderOf(archivePath_);
    // Volumes of an earlier, longer set would otherwise hang on beside it.
    if (volumeSize_ > 0) {
        for (unsigned i = static_cast<unsigned>(written);; ++i) {
            std::string stale = volumePath(archivePath_, i);
            if (!existsAsFile(stale) || ::unlink(stale.c_str()) != 0) break;
        }
    }
}

void VolumeWriter::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    for (const std::string& t : temps_)
        ::unlink(t.c_str());
    temps_.clear();
}

// ---- VolumeSet ------------------------------------------------------------

VolumeSet::VolumeSet(std::string archivePath, Callback& cb)
    : cb_(cb), blockSize_(kFirstReadBlock), buffer_(kMaxReadBlock) {
    paths_.push_back(std::move(archivePath));
    discover();
}

VolumeSet::~VolumeSet() {
    closeVolume();
}

void VolumeSet::discover() {
    const std::string first = paths_.front();
    struct stat st;
    if (::stat(first.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            fail(SQX_ERR_NOT_FOUND, "archive not found: " + first);
        failErrno(errno, SQX_ERR_READ, "open", first);
    }
    if (!S_ISREG(st.st_mode)) fail(SQX_ERR_BAD_ARCHIVE, "not an archive: " + first);
    int probe = ::open(first.c_str(), O_RDONLY | O_CLOEXEC);
    if (probe < 0) failErrno(errno, SQX_ERR_READ, "open", first);
    ::close(probe);
    sizes_.push_back(static_cast<uint64_t>(st.st_size));

    while (!endsWithEndRecord(paths_.back(), sizes_.back())) {
        std::string next = volumePath(first, static_cast<unsigned>(paths_.size()));
        struct stat vs;
        if (::stat(next.c_str(), &vs) == 0 && S_ISREG(vs.st_mode)) {
            paths_.push_back(next);
            sizes_.push_back(static_cast<uint64_t>(vs.st_size));
            continue;
        }
        // A single file without an end record is a damaged archive (or not
        // one at all) unless something says it starts a set of volumes.
        if (paths_.size() == 1 && !splitEvident()) break;
        if (!cb_.present())
            fail(SQX_ERR_NOT_FOUND, "volume " + next + " of " + first + " is missing");
        if (!cb_.volume(SQX_VOLUME_READ, next, 0, static_cast<int32_t>(paths_.size() + 1)))
            fail(SQX_ERR_ABORTED, "stopped by the user while volume " + next + " was missing");
    }
    uint64_t start = 0;
    for (uint64_t s : sizes_) {
        starts_.push_back(start);
        start += s;
    }
    total_ = start;

    if (total_ == kEndRecord) {
        unsigned char rec[kEndRecord];
        int fd = ::open(first.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            emptyArchive_ = ::pread(fd, rec, kEndRecord, 0) == ssize_t(kEndRecord) &&
                            std::memcmp(rec, "PK\5\6", 4) == 0 && rec[8] == 0 && rec[9] == 0 &&
                            rec[10] == 0 && rec[11] == 0;
            ::close(fd);
        }
    }
}

bool VolumeSet::splitEvident() const {
    switch (sizes_.front()) {
        case SQX_MEDIA_ZIP100_BYTES:
        case SQX_MEDIA_ZIP250_BYTES:
        case SQX_MEDIA_CD650_BYTES:
        case SQX_MEDIA_CD700_BYTES:
        case SQX_FLOPPY_BYTES:
            return true;
        default:
            break;
    }
    for (unsigned i = 2; i <= 99; ++i)
        if (existsAsFile(volumePath(paths_.front(), i))) return true;
    return false;
}

void VolumeSet::closeVolume() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void VolumeSet::selectVolume(size_t index) {
    if (fd_ >= 0 && openIndex_ == index) return;
    closeVolume();
    const std::string& path = paths_[index];
    for (;;) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st;
            if (::fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) != sizes_[index]) {
                ::close(fd);
                fail(SQX_ERR_BAD_ARCHIVE, "volume " + path + " changed while it was read");
            }
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
            fd_ = fd;
            openIndex_ = index;
            return;
        }
        if (errno != ENOENT) failErrno(errno, SQX_ERR_READ, "open", path);
        if (!cb_.present()) fail(SQX_ERR_NOT_FOUND, "volume " + path + " is missing");
        if (!cb_.volume(SQX_VOLUME_READ, path, 0, static_cast<int32_t>(index + 1)))
            fail(SQX_ERR_ABORTED, "stopped by the user while volume " + path + " was missing");
    }
}

void VolumeSet::rewind() {
    pos_ = 0;
    blockSize_ = kFirstReadBlock;
}

ssize_t VolumeSet::read(const void** data) {
    *data = buffer_.data();
    if (pos_ >= total_) return 0;
    size_t index = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), pos_) -
                                       starts_.begin() - 1);
    // Skip empty volumes (a set cut exactly at a volume boundary has none,
    // but a hand-made one might).
    while (sizes_[index] == 0)
        ++index;
    selectVolume(index);
    uint64_t offset = pos_ - starts_[index];
    size_t want = static_cast<size_t>(std::min<uint64_t>(blockSize_, sizes_[index] - offset));
    ssize_t got;
    do {
        got = ::pread(fd_, buffer_.data(), want, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got < 0) failErrno(errno, SQX_ERR_READ, "read", paths_[index]);
    if (got == 0) fail(SQX_ERR_BAD_ARCHIVE, "volume " + paths_[index] + " ends too early");
    pos_ += static_cast<uint64_t>(got);
    blockSize_ = std::min(blockSize_ * 2, kMaxReadBlock);
    return got;
}

int64_t VolumeSet::seek(int64_t offset, int whence) {
    int64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? static_cast<int64_t>(pos_)
                                        : static_cast<int64_t>(total_);
    int64_t target = std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(total_));
    if (static_cast<uint64_t>(target) != pos_) blockSize_ = kFirstReadBlock;
    pos_ = static_cast<uint64_t>(target);
    return target;
}

}  // namespace sqx
