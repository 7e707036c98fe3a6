// Writing the archive (SqxAddFiles).
#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include "sqx/jobs.h"
#include "sqx/names.h"
#include "sqx/parallel_zip.h"
#include "sqx/progress.h"
#include "sqx/support.h"
#include "sqx/volumes.h"
#include "sqx/zip_ae2.h"

namespace sqx {

namespace {

constexpr size_t kReadChunk = 256 << 10;

// ---- libarchive's zip writer on top of the volume writer ------------------

class ZipWriter {
  public:
    ZipWriter(VolumeWriter& out, const AddOptions& options) : out_(out) {
        handle_.reset(archive_write_new());
        a_ = handle_.get();
        if (!a_) fail(SQX_ERR_NO_MEMORY, "out of memory");
        check(archive_write_set_format_zip(a_), "set up the ZIP writer");
        // Names go out as UTF-8 with the UTF-8 flag set.
        check(archive_write_set_options(a_, "zip:hdrcharset=UTF-8"), "set up the ZIP writer");
        if (options.level == 0) {
            check(archive_write_set_options(a_, "zip:compression=store"), "set up the ZIP writer");
        } else {
            std::string level = "zip:compression-level=" + std::to_string(options.level);
            check(archive_write_set_options(a_, "zip:compression=deflate"),
                  "set up the ZIP writer");
            check(archive_write_set_options(a_, level.c_str()), "set up the ZIP writer");
        }
        if (!options.password.empty()) {
            check(archive_write_set_options(a_, "zip:encryption=aes256"), "set up encryption");
            check(archive_write_set_passphrase(a_, options.password.c_str()), "set up encryption");
            ae2_.emplace([this](const void* p, size_t n) { out_.write(p, n); });
        }
        // The volume writer does its own buffering; no padding after the end.
        archive_write_set_bytes_per_block(a_, 0);
        archive_write_set_bytes_in_last_block(a_, 1);
        check(archive_write_open2(a_, this, nullptr, &ZipWriter::writeCallback, nullptr, nullptr),
              "start the archive");
    }

    ~ZipWriter() {
        if (!closed_) {
            // Given up: let libarchive finish the entry into the void, which
            // also releases its compressor (archive_write_free alone would
            // leak it when a job stops in the middle of a file).
            discard_ = true;
            archive_write_close(a_);
        }
    }
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    void addEntry(const std::string& name, const struct stat& st, bool folder, uint64_t size) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> e(archive_entry_new(),
                                                                        &archive_entry_free);
        if (!e) fail(SQX_ERR_NO_MEMORY, "out of memory");
        archive_entry_copy_pathname(e.get(), folder ? (name + "/").c_str() : name.c_str());
        archive_entry_set_filetype(e.get(), folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(e.get(), st.st_mode & 0777);
        archive_entry_set_mtime(e.get(), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        if (!folder) archive_entry_set_size(e.get(), static_cast<la_int64_t>(size));
        if (ae2_) {
            finishEntry();
            ae2_->begin(Ae2Rewriter::Part::LocalHeader);
        }
        // A warning only means the name had to be converted imperfectly
        // (bytes that are not UTF-8); the entry is still written.
        int r = archive_write_header(a_, e.get());
        check(r == ARCHIVE_WARN ? ARCHIVE_OK : r, "store " + name);
        if (ae2_) {
            ae2_->begin(Ae2Rewriter::Part::Data);
            entryOpen_ = true;
        }
    }

    void data(const void* p, size_t n, const std::string& name) {
        la_ssize_t w = archive_write_data(a_, p, n);
        check(w < 0 ? static_cast<int>(w) : ARCHIVE_OK, "store " + name);
    }

    void close() {
        if (ae2_) {
            finishEntry();
            ae2_->begin(Ae2Rewriter::Part::Central);
        }
        check(archive_write_close(a_), "finish the archive");
        if (ae2_) {
            ae2_->begin(Ae2Rewriter::Part::None);
            if (outFailure_) throw *outFailure_;
        }
        closed_ = true;
    }

  private:
    // Protected archives: the end of an entry is written on its own, so that
    // the rewriter sees where each entry's descriptor lies.
    void finishEntry() {
        if (!entryOpen_) return;
        ae2_->begin(Ae2Rewriter::Part::EntryEnd);
        check(archive_write_finish_entry(a_), "finish an entry");
        entryOpen_ = false;
    }

    // A failure of the output is kept for check() to throw, and libarchive
    // is told all went well: an archive object in the fatal state could no
    // longer be closed, and closing is what frees its compressor.
    static la_ssize_t writeCallback(struct archive*, void* self, const void* buffer, size_t n) {
        auto* w = static_cast<ZipWriter*>(self);
        if (w->discard_ || w->outFailure_) return static_cast<la_ssize_t>(n);
        try {
            if (w->ae2_)
                w->ae2_->write(buffer, n);
            else
                w->out_.write(buffer, n);
        } catch (const Failure& f) {
            w->outFailure_ = f;
        } catch (const std::bad_alloc&) {
            w->outFailure_ = Failure{SQX_ERR_NO_MEMORY, "out of memory"};
        } catch (...) {
            w->outFailure_ = Failure{SQX_ERR_INTERNAL, "internal error while writing"};
        }
        return static_cast<la_ssize_t>(n);
    }

    void check(int r, const std::string& what) {
        // A failure of the output (disk full, stop at a volume) is the real cause.
        if (outFailure_) throw *outFailure_;
        if (r >= ARCHIVE_OK) return;
        const char* msg = archive_error_string(a_);
        fail(SQX_ERR_WRITE, "cannot " + what + ": " + (msg ? msg : "ZIP writer failed"));
    }

    struct Free {
        void operator()(struct archive* a) const { archive_write_free(a); }
    };

    VolumeWriter& out_;
    std::unique_ptr<struct archive, Free> handle_;  // freed also when the constructor throws
    struct archive* a_ = nullptr;
    std::optional<Failure> outFailure_;
    bool closed_ = false;
    bool discard_ = false;
    std::optional<Ae2Rewriter> ae2_;  // set for a protected archive
    bool entryOpen_ = false;
};

// ---- Walking a folder -------------------------------------------------------

struct TreeItem {
    std::string rel;  // "/"-separated, below the listed folder
    bool folder;
};

// Everything below `root` in name order, each folder before its contents.
// No symbolic link below a listed folder is followed, whether to a file or a
// folder: where a link may lead is the caller's to judge (it lists the links it
// allows as paths of their own), and a link could lead out of the folder or
// into a cycle. Neither sockets, pipes nor devices are stored.
void walkFolder(const std::string& root, const std::string& rel, std::vector<TreeItem>& items,
                uint64_t& totalBytes) {
    std::string path = rel.empty() ? root : root + "/" + rel;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        if (errno == ENOENT) return;  // vanished meanwhile
        failErrno(errno, SQX_ERR_READ, "read folder", path);
    }
    struct DirCloser {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, DirCloser> guard(dir);
    std::vector<std::string> names;
    errno = 0;
    while (dirent* d = ::readdir(dir)) {
        std::string_view n = d->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
        errno = 0;
    }
    if (errno != 0) failErrno(errno, SQX_ERR_READ, "read folder", path);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        struct stat st;
        if (::fstatat(::dirfd(dir), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string childRel = rel.empty() ? n : rel + "/" + n;
        if (S_ISDIR(st.st_mode)) {
            items.push_back({childRel, true});
            walkFolder(root, childRel, items, totalBytes);
        } else if (S_ISREG(st.st_mode)) {
            items.push_back({childRel, false});
            totalBytes += static_cast<uint64_t>(st.st_size);
        }
    }
}

// ---- Storing one file ---------------------------------------------------------

template <typename Zip>
class FileStorer {
  public:
    FileStorer(Zip& zip, const VolumeWriter& out) : zip_(zip), out_(out), buffer_(kReadChunk) {}

    // Returns false for a file that is not stored after all: it vanished,
    // is no longer a regular file, or is one of the archive's own volumes.
    // A file found below a listed folder (`listed` false) that has become a
    // symbolic link meanwhile is not followed either.
    bool store(const std::string& source, const std::string& name, Progress& progress,
               bool listed = true) {
        int fd = ::open(source.c_str(),
                        O_RDONLY | O_CLOEXEC | O_NOCTTY | (listed ? 0 : O_NOFOLLOW | O_NONBLOCK));
        if (fd < 0) {
            if (errno == ENOENT || (!listed && errno == ELOOP)) return false;
            failErrno(errno, SQX_ERR_READ, "read", source);
        }
        std::unique_ptr<int, void (*)(int*)> guard(&fd, [](int* f) { ::close(*f); });
        struct stat st;
        if (::fstat(fd, &st) != 0) failErrno(errno, SQX_ERR_READ, "read", source);
        if (!S_ISREG(st.st_mode) || out_.isOwnFile(st.st_dev, st.st_ino)) return false;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        zip_.addEntry(name, st, false, size);
        // Exactly the size announced in the header goes in: a file that
        // grows meanwhile is cut at that size, one that shrinks fails.
        uint64_t left = size;
        while (left > 0) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer_.size()));
            ssize_t got = ::read(fd, buffer_.data(), want);
            if (got < 0) {
                if (errno == EINTR) continue;
                failErrno(errno, SQX_ERR_READ, "read", source);
            }
            if (got == 0)
                fail(SQX_ERR_READ, "cannot read " + source + ": the file shrank while it was read");
            zip_.data(buffer_.data(), static_cast<size_t>(got), name);
            left -= static_cast<uint64_t>(got);
            progress.advance(static_cast<uint64_t>(got));
        }
        return true;
    }

  private:
    Zip& zip_;
    const VolumeWriter& out_;
    std::vector<char> buffer_;
};

int zlibLevel(int32_t level) {
    switch (level) {
        case 0:
            return 0;
        case 1:
            return 1;
        case 2:
            return 3;
        case 3:
            return 6;
        case 4:
            return 8;
        case 5:
            return 9;
        default:
            fail(SQX_ERR_INVALID_PARAM,
                 "compression level " + std::to_string(level) + " is not 0 to 5");
    }
}

}  // namespace

AddOptions parseAddOptions(const void* record) {
    if (!record) fail(SQX_ERR_INVALID_PARAM, "archive options missing");
    if (getI32(record, SQX_AO_OFS_SIZE) != SQX_AO_SIZE)
        fail(SQX_ERR_INVALID_PARAM, "archive options record has the wrong size");
    AddOptions o;
    o.level =
        getI32(record, SQX_AO_OFS_METHOD) == 0 ? 0 : zlibLevel(getI32(record, SQX_AO_OFS_LEVEL));
    o.recurse = getI32(record, SQX_AO_OFS_RECURSE) != 0;
    o.password = getText(record, SQX_AO_OFS_PASSWORD, SQX_AO_PASSWORD_LEN);
    o.askVolumes = getI32(record, SQX_AO_OFS_ASK_VOLUME) != 0;
    if (getI32(record, SQX_AO_OFS_SPLIT) != 0) {
        int32_t v = getI32(record, SQX_AO_OFS_VOLUME_SIZE);
        switch (v) {
            case SQX_MEDIA_ZIP100:
                o.volumeSize = SQX_MEDIA_ZIP100_BYTES;
                break;
            case SQX_MEDIA_ZIP250:
                o.volumeSize = SQX_MEDIA_ZIP250_BYTES;
                break;
            case SQX_MEDIA_CD650:
                o.volumeSize = SQX_MEDIA_CD650_BYTES;
                break;
            case SQX_MEDIA_CD700:
                o.volumeSize = SQX_MEDIA_CD700_BYTES;
                break;
            default:
                if (v < SQX_MIN_VOLUME_BYTES)
                    fail(SQX_ERR_INVALID_PARAM,
                         "volume size " + std::to_string(v) + " is too small");
                o.volumeSize = static_cast<uint64_t>(v);
        }
    }
    return o;
}

namespace {

template <typename Zip>
void packSources(Zip& zip, VolumeWriter& out, const std::vector<std::string>& sources,
                 const AddOptions& options, Callback& cb) {
    FileStorer<Zip> storer(zip, out);

    for (const std::string& source : sources) {
        const std::string stored = storedNameFromHost(cb.announceAdd(source), source);
        struct stat st;
        if (::stat(source.c_str(), &st) != 0) {
            // A listed path that is not there is skipped: the list may name
            // optional files of the host program.
            if (errno == ENOENT || errno == ENOTDIR) continue;
            failErrno(errno, SQX_ERR_READ, "read", source);
        }
        if (S_ISREG(st.st_mode)) {
            Progress progress(cb, stored, static_cast<uint64_t>(st.st_size));
            storer.store(source, stored, progress);
            progress.finish();
        } else if (S_ISDIR(st.st_mode)) {
            std::vector<TreeItem> items;
            uint64_t total = 0;
            if (options.recurse) walkFolder(source, {}, items, total);
            Progress progress(cb, stored, total);
            zip.addEntry(stored, st, true, 0);
            for (const TreeItem& item : items) {
                std::string itemSource = source + "/" + item.rel;
                std::string itemName = stored + "/" + item.rel;
                if (item.folder) {
                    struct stat ds;
                    if (::lstat(itemSource.c_str(), &ds) == 0 && S_ISDIR(ds.st_mode))
                        zip.addEntry(itemName, ds, true, 0);
                } else {
                    storer.store(itemSource, itemName, progress, false);
                }
            }
            progress.finish();
        }
        // Anything else (pipes, devices) is not stored.
    }
    zip.close();
}

}  // namespace

void addFiles(const std::string& archivePath, const std::vector<std::string>& sources,
              const AddOptions& options, Callback& cb) {
    if (archivePath.empty()) fail(SQX_ERR_INVALID_PARAM, "no archive path given");
    VolumeWriter out(archivePath, options.volumeSize, options.askVolumes, cb);
    out.open();
    if (options.password.empty()) {
        // Compressed on every core; the callbacks stay on this thread.
        ParallelZipWriter zip(out, options.level);
        packSources(zip, out, sources, options, cb);
    } else {
        ZipWriter zip(out, options);
        packSources(zip, out, sources, options, cb);
    }
    out.commit();
}

}  // namespace sqx
