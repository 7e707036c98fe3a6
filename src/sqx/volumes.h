// The byte stream of one ZIP archive spread over volume files: the first at
// the archive's path, the following ones beside it as .e01, .e02, ...
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sqx/callback.h"

namespace sqx {

// Writes the stream under temporary names ("<volume>.partial-<pid>-<random>", made exclusively) and
// renames them over the real names only in commit(); until then an older
// archive at the target stays untouched, and a writer destroyed without
// commit() removes every temporary file it made.
class VolumeWriter {
  public:
    // volumeSize 0 writes a single file. With askVolumes the callback hears
    // reason 2 before each volume after the first.
    VolumeWriter(std::string archivePath, uint64_t volumeSize, bool askVolumes, Callback& cb);
    ~VolumeWriter();
    VolumeWriter(const VolumeWriter&) = delete;
    VolumeWriter& operator=(const VolumeWriter&) = delete;

    void open();
    void write(const void* data, size_t size);
    void commit();
    size_t volumeCount() const { return temps_.size(); }
    // Whether a file is one of the volumes being written: an archive written
    // into a folder that is being packed must not swallow itself.
    bool isOwnFile(dev_t device, ino_t inode) const;

  private:
    void flushBuffer();
    void startVolume();
    void finishVolume();
    void discard() noexcept;

    std::string archivePath_;
    uint64_t volumeSize_;
    bool askVolumes_;
    Callback& cb_;
    std::vector<std::string> temps_;
    std::vector<std::pair<dev_t, ino_t>> identities_;
    int fd_ = -1;
    uint64_t inVolume_ = 0;
    uint64_t writebackStart_ = 0;
    std::vector<unsigned char> buffer_;
    size_t used_ = 0;
    bool committed_ = false;
};

// Reads the stream back as one seekable file. The volumes are found when
// the set is opened; a volume missing then, or later when it is read, is
// asked for with reason 2 (volume kind 2).
class VolumeSet {
  public:
    VolumeSet(std::string archivePath, Callback& cb);
    ~VolumeSet();
    VolumeSet(const VolumeSet&) = delete;
    VolumeSet& operator=(const VolumeSet&) = delete;

    uint64_t size() const { return total_; }
    size_t count() const { return paths_.size(); }
    const std::string& path() const { return paths_.front(); }
    // True for the 22-byte end record of an archive without entries, which
    // libarchive 3.6 does not recognise as a ZIP archive.
    bool isEmptyArchive() const { return emptyArchive_; }

    void rewind();
    // Next piece of the stream at the current position; 0 at the end.
    ssize_t read(const void** data);
    int64_t seek(int64_t offset, int whence);

  private:
    void discover();
    bool splitEvident() const;
    void selectVolume(size_t index);
    void closeVolume() noexcept;

    Callback& cb_;
    std::vector<std::string> paths_;
    std::vector<uint64_t> starts_;
    std::vector<uint64_t> sizes_;
    uint64_t total_ = 0;
    bool emptyArchive_ = false;
    int fd_ = -1;
    size_t openIndex_ = 0;
    uint64_t pos_ = 0;
    size_t blockSize_;
    std::vector<unsigned char> buffer_;
};

}  // namespace sqx
