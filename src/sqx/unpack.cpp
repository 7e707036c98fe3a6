// Listing and extracting (SqxListFiles, SqxExtractFiles).
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

#include "sqx/jobs.h"
#include "sqx/names.h"
#include "sqx/progress.h"
#include "sqx/support.h"
#include "sqx/volumes.h"

namespace sqx {

namespace {

constexpr size_t kDataChunk = 256 << 10;

// ---- libarchive's seekable ZIP reader on top of the volume set ------------

class ZipReader {
  public:
    // `password` is asked for only when an encrypted entry's data is read;
    // it may throw (the host said stop, or gave no password).
    using PasswordSource = std::function<std::string()>;

    ZipReader(VolumeSet& volumes, PasswordSource password)
        : volumes_(volumes), passwordSource_(std::move(password)) {
        volumes_.rewind();
        handle_.reset(archive_read_new());
        a_ = handle_.get();
        if (!a_) fail(SQX_ERR_NO_MEMORY, "out of memory");
        // Only the reader that starts from the central directory: it sees
        // the entries the archive really lists, and a file without an end
        // record is refused instead of being half read.
        archive_read_support_format_zip_seekable(a_);
        if (passwordSource_) archive_read_set_passphrase_callback(a_, this, &ZipReader::passphrase);
        archive_read_set_callback_data(a_, this);
        archive_read_set_read_callback(a_, &ZipReader::readCallback);
        archive_read_set_seek_callback(a_, &ZipReader::seekCallback);
        if (archive_read_open1(a_) != ARCHIVE_OK) damaged("is not a ZIP archive or is damaged");
    }
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // The next entry, or null at the end.
    archive_entry* next() {
        archive_entry* e = nullptr;
        int r = archive_read_next_header(a_, &e);
        if (r == ARCHIVE_EOF) return nullptr;
        // A warning concerns a name that did not convert cleanly.
        if (r < ARCHIVE_WARN) damaged("is damaged");
        return e;
    }

    // Bytes of the current entry's data; negative on failure (see error()).
    la_ssize_t data(void* buffer, size_t size) { return archive_read_data(a_, buffer, size); }

    // A failure of the volumes underneath (missing volume, stop, I/O) wins
    // over what libarchive makes of it.
    void rethrowSourceFailure() const {
        if (sourceFailure_) throw *sourceFailure_;
    }
    std::string error() const {
        const char* msg = archive_error_string(a_);
        return msg ? msg : "unknown error";
    }

  private:
    [[noreturn]] void damaged(const std::string& what) {
        rethrowSourceFailure();
        fail(SQX_ERR_BAD_ARCHIVE, volumes_.path() + " " + what + " (" + error() + ")");
    }

    static la_ssize_t readCallback(struct archive*, void* self, const void** buffer) {
        auto* r = static_cast<ZipReader*>(self);
        try {
            return r->volumes_.read(buffer);
        } catch (const Failure& f) {
            r->sourceFailure_ = f;
        } catch (const std::bad_alloc&) {
            r->sourceFailure_ = Failure{SQX_ERR_NO_MEMORY, "out of memory"};
        } catch (...) {
            r->sourceFailure_ = Failure{SQX_ERR_INTERNAL, "internal error while reading"};
        }
        return -1;
    }

    // libarchive keeps a passphrase it was given and asks again only when
    // all it holds failed: a second request means the password is wrong.
    static const char* passphrase(struct archive*, void* self) {
        auto* r = static_cast<ZipReader*>(self);
        if (r->passwordGiven_ || r->sourceFailure_) return nullptr;
        try {
            r->password_ = r->passwordSource_();
        } catch (const Failure& f) {
            r->sourceFailure_ = f;
            return nullptr;
        } catch (...) {
            r->sourceFailure_ = Failure{SQX_ERR_INTERNAL, "internal error while asking a password"};
            return nullptr;
        }
        r->passwordGiven_ = true;
        return r->password_.c_str();
    }

    static la_int64_t seekCallback(struct archive*, void* self, la_int64_t offset, int whence) {
        return static_cast<ZipReader*>(self)->volumes_.seek(offset, whence);
    }

    struct Free {
        void operator()(struct archive* a) const { archive_read_free(a); }
    };

    VolumeSet& volumes_;
    std::unique_ptr<struct archive, Free> handle_;  // freed also when the constructor throws
    struct archive* a_ = nullptr;
    std::optional<Failure> sourceFailure_;
    PasswordSource passwordSource_;
    std::string password_;
    bool passwordGiven_ = false;
};

struct CatalogEntry {
    std::string name;  // as stored
    bool folder;
    bool encrypted;
    int64_t size;
    bool sizeKnown = false;
};

std::vector<CatalogEntry> readCatalog(VolumeSet& volumes) {
    std::vector<CatalogEntry> entries;
    if (volumes.isEmptyArchive()) return entries;
    ZipReader reader(volumes, nullptr);
    while (archive_entry* e = reader.next()) {
        const char* name = archive_entry_pathname(e);
        CatalogEntry c;
        c.name = name ? name : "";
        c.folder = archive_entry_filetype(e) == AE_IFDIR;
        if (c.folder && (c.name.empty() || c.name.back() != '/')) c.name += '/';
        c.encrypted = archive_entry_is_data_encrypted(e) != 0;
        c.sizeKnown = archive_entry_size_is_set(e) != 0;
        c.size = c.sizeKnown ? archive_entry_size(e) : 0;
        entries.push_back(std::move(c));
    }
    return entries;
}

// ---- Output files -----------------------------------------------------------

std::string parentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates `path` and the folders above it. Errors carry the entry failure
// code unless errno has a code of its own (disk full, read-only, access).
void makeFolders(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return;
        fail(SQX_ERR_EXTRACT, "cannot create folder " + path + ": a file of that name exists");
    }
    std::string parent = parentOf(path);
    if (parent != path) makeFolders(parent);
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        failErrno(errno, SQX_ERR_EXTRACT, "create folder", path);
}

// A file being written under a hidden name beside its final place, renamed
// there when complete; removed when given up.
class OutputFile {
  public:
    explicit OutputFile(const std::string& finalPath) : final_(finalPath) {
        const std::string folder = parentOf(finalPath);
        removeStaleTemporaries(folder, ".sqx-", ".part");
        fd_ = createTemporary(folder + "/.sqx-", ".part", 0666, temp_);
        if (fd_ < 0) failErrno(errno, SQX_ERR_EXTRACT, "create", final_);
    }
    ~OutputFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!done_) ::unlink(temp_.c_str());
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const char* p, size_t n) {
        while (n > 0) {
            ssize_t w = ::write(fd_, p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                failErrno(errno, SQX_ERR_WRITE, "write", final_);
            }
            p += w;
            n -= static_cast<size_t>(w);
        }
    }

    void complete(time_t mtime, long mtimeNsec) {
        struct timeval times[2] = {{mtime, mtimeNsec / 1000}, {mtime, mtimeNsec / 1000}};
        ::futimes(fd_, times);
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) failErrno(errno, SQX_ERR_WRITE, "write", final_);
        if (::rename(temp_.c_str(), final_.c_str()) != 0)
            failErrno(errno, SQX_ERR_EXTRACT, "create", final_);
        done_ = true;
    }

  private:
    std::string final_;
    std::string temp_;
    int fd_ = -1;
    bool done_ = false;
};

// ---- The extraction job -------------------------------------------------------

bool stopsTheJob(int32_t code) {
    switch (code) {
        case SQX_ERR_EXTRACT:
        case SQX_ERR_ACCESS_DENIED:
        case SQX_ERR_WRITE:
            return false;
        default:
            return true;
    }
}

class Extractor {
  public:
    Extractor(const std::string& archivePath, const ExtractOptions& options, Callback& cb)
        : options_(options), cb_(cb), volumes_(archivePath, cb), buffer_(kDataChunk) {
        catalog_ = readCatalog(volumes_);
        for (size_t i = 0; i < catalog_.size(); ++i)
            index_[matchKey(catalog_[i].name)].push_back(i);
    }

    int32_t run(const std::vector<std::string>& names) {
        for (const std::string& listName : names) {
            std::optional<size_t> idx = lookup(listName);
            if (!idx) {
                cb_.announceAbsent(listName);
                continue;
            }
            try {
                extract(*idx);
            } catch (const Failure& f) {
                if (stopsTheJob(f.code)) throw;
                note(f);
            }
        }
        if (failures_ == 0) return SQX_OK;
        std::string text = firstFailure_->message;
        if (failures_ > 1) text += " (and " + std::to_string(failures_ - 1) + " more failures)";
        setLastError(text);
        return firstFailure_->code;
    }

  private:
    // The archive entry for a list name: the exact name if the archive
    // has it, else the first that differs only in case.
    std::optional<size_t> lookup(const std::string& listName) const {
        auto it = index_.find(matchKey(listName));
        if (it == index_.end()) return std::nullopt;
        std::string exact = matchKeyUnfolded(listName);
        for (size_t i : it->second)
            if (matchKeyUnfolded(catalog_[i].name) == exact) return i;
        return it->second.front();
    }

    static std::string matchKeyUnfolded(const std::string& name) {
        bool unused;
        std::string joined;
        for (const std::string& part : nameComponents(name, unused)) {
            if (!joined.empty()) joined += '/';
            joined += part;
        }
        return joined;
    }

    void note(const Failure& f) {
        if (failures_++ == 0) firstFailure_ = f;
    }

    // Positions the reader on entry `idx`. The reader only goes forward, so
    // a list entry that lies behind the current one opens the archive
    // again; lists in archive order are served in a single pass.
    ZipReader& seekTo(size_t idx) {
        if (!reader_ || static_cast<int64_t>(idx) <= position_) {
            reader_.reset();
            position_ = -1;
            reader_ = std::make_unique<ZipReader>(volumes_, [this] { return password(); });
        }
        while (position_ < static_cast<int64_t>(idx)) {
            entry_ = reader_->next();
            ++position_;
            if (!entry_) fail(SQX_ERR_BAD_ARCHIVE, volumes_.path() + " changed while it was read");
        }
        return *reader_;
    }

    // An entry that cannot fit is refused before a byte of it is written: a
    // small backup can declare (and inflate to) far more than the disk holds.
    static void refuseWhatDoesNotFit(const CatalogEntry& c, const std::string& target) {
        constexpr uint64_t kMargin = 1 << 20;
        const std::string folder = parentOf(target);
        struct statvfs fs;
        if (!c.sizeKnown || ::statvfs(folder.c_str(), &fs) != 0) return;
        const uint64_t free = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
        const uint64_t needed = static_cast<uint64_t>(c.size) + kMargin;
        if (needed <= free) return;
        fail(SQX_ERR_DISK_FULL, "cannot extract " + c.name + ": it needs " +
                                    std::to_string(c.size) + " bytes, and " + folder +
                                    " has only " + std::to_string(free) + " bytes free");
    }

    // Asked once per job, the first time encrypted data is read.
    std::string password() {
        if (password_.empty()) {
            password_ = cb_.askPassword(currentName_);
            if (password_.empty())
                fail(SQX_ERR_BAD_PASSWORD, "a password is needed to extract " + currentName_);
        }
        return password_;
    }

    std::string outputPathFor(const CatalogEntry& c, bool& unsafe) const {
        std::vector<std::string> parts = nameComponents(c.name, unsafe);
        if (parts.empty()) unsafe = true;
        std::string rel;
        if (options_.subfolders) {
            for (const std::string& p : parts)
                rel += (rel.empty() ? "" : "/") + p;
        } else if (!parts.empty()) {
            rel = parts.back();
            if (rel == "..") unsafe = true;
        }
        std::string out = options_.outputFolder;
        if (out.empty() || out.back() != '/') out += '/';
        return out + rel;
    }

    void extract(size_t idx) {
        const CatalogEntry& c = catalog_[idx];
        bool unsafe = false;
        const std::string proposed = outputPathFor(c, unsafe);
        const std::string target = cb_.announceExtract(proposed);
        if (target.empty()) return;  // the host skips this one
        if (target == proposed && unsafe)
            fail(SQX_ERR_EXTRACT,
                 "refused to extract \"" + c.name + "\": the name leads outside the output folder");
        if (c.folder) {
            makeFolders(target);
            return;
        }
        makeFolders(parentOf(target));
        // The reader moves on even when the entry ends up skipped, so that
        // the entries after it are still reached in the same pass.
        ZipReader& reader = seekTo(idx);
        if (archive_entry_filetype(entry_) != AE_IFREG)
            fail(SQX_ERR_EXTRACT, "cannot extract " + c.name + ": not a regular file");
        struct stat st;
        if (::lstat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                fail(SQX_ERR_EXTRACT, "cannot extract " + c.name + " to " + target +
                                          ": a folder of that name exists");
            if (options_.askOverwrite && !cb_.confirmOverwrite(target)) return;
        }

        refuseWhatDoesNotFit(c, target);
        currentName_ = c.name;
        OutputFile out(target);
        Progress progress(cb_, target, static_cast<uint64_t>(c.size));
        bool any = false;
        uint64_t written = 0;
        for (;;) {
            la_ssize_t n = reader.data(buffer_.data(), buffer_.size());
            if (n == 0) break;
            if (n < 0) {
                reader.rethrowSourceFailure();
                std::string why = reader.error();
                // The reader may be unusable after a data error.
                reader_.reset();
                if (c.encrypted && !any && why.find("assphrase") != std::string::npos)
                    fail(SQX_ERR_BAD_PASSWORD, "wrong password for " + volumes_.path());
                fail(SQX_ERR_EXTRACT, "cannot extract " + c.name + ": " + why);
            }
            any = true;
            written += static_cast<uint64_t>(n);
            if (c.sizeKnown && written > static_cast<uint64_t>(c.size)) {
                reader_.reset();
                fail(SQX_ERR_EXTRACT, "cannot extract " + c.name +
                                          ": its data is larger than the " +
                                          std::to_string(c.size) + " bytes it declares");
            }
            out.write(buffer_.data(), static_cast<size_t>(n));
            progress.advance(static_cast<uint64_t>(n));
        }
        out.complete(archive_entry_mtime(entry_), archive_entry_mtime_nsec(entry_));
        progress.finish();
    }

    ExtractOptions options_;
    Callback& cb_;
    VolumeSet volumes_;
    std::vector<CatalogEntry> catalog_;
    std::unordered_map<std::string, std::vector<size_t>> index_;
    std::unique_ptr<ZipReader> reader_;
    archive_entry* entry_ = nullptr;
    int64_t position_ = -1;
    std::string password_;
    std::string currentName_;
    std::vector<char> buffer_;
    size_t failures_ = 0;
    std::optional<Failure> firstFailure_;
};

}  // namespace

ExtractOptions parseExtractOptions(const void* record) {
    if (!record) fail(SQX_ERR_INVALID_PARAM, "extract options missing");
    if (getI32(record, SQX_EO_OFS_SIZE) != SQX_EO_SIZE)
        fail(SQX_ERR_INVALID_PARAM, "extract options record has the wrong size");
    ExtractOptions o;
    o.askOverwrite = getI32(record, SQX_EO_OFS_ASK) != 0;
    o.subfolders = getI32(record, SQX_EO_OFS_SUBFOLDERS) != 0;
    o.outputFolder = getText(record, SQX_EO_OFS_OUTDIR, SQX_EO_OUTDIR_LEN);
    if (o.outputFolder.empty()) fail(SQX_ERR_INVALID_PARAM, "no output folder given");
    return o;
}

int32_t extractFiles(const std::string& archivePath, const std::vector<std::string>& names,
                     const ExtractOptions& options, Callback& cb) {
    Extractor extractor(archivePath, options, cb);
    return extractor.run(names);
}

int32_t testArchive(const std::string& archivePath, const std::vector<std::string>& patterns,
                    Callback& cb) {
    VolumeSet volumes(archivePath, cb);
    const std::vector<CatalogEntry> catalog = readCatalog(volumes);
    if (catalog.empty()) return SQX_OK;
    std::string password;
    std::string current;
    ZipReader reader(volumes, [&]() -> std::string {
        if (password.empty()) {
            password = cb.askPassword(current);
            if (password.empty())
                fail(SQX_ERR_BAD_PASSWORD, "a password is needed to test " + current);
        }
        return password;
    });
    std::vector<char> buffer(kDataChunk);
    size_t seen = 0;
    while (archive_entry* e = reader.next()) {
        if (seen >= catalog.size()) break;
        const CatalogEntry& c = catalog[seen++];
        if (c.folder) continue;
        bool wanted = patterns.empty();
        for (const std::string& p : patterns)
            if (!wanted && wildcardMatch(p, hostNameOf(c.name))) wanted = true;
        if (!wanted) continue;
        current = c.name;
        Progress progress(cb, hostNameOf(c.name), static_cast<uint64_t>(c.size));
        uint64_t total = 0;
        // Reading an entry to its end makes the reader compare its CRC-32 (and,
        // for encrypted entries, the authentication code) with the stored one.
        for (;;) {
            la_ssize_t n = reader.data(buffer.data(), buffer.size());
            if (n == 0) break;
            if (n < 0) {
                reader.rethrowSourceFailure();
                std::string why = reader.error();
                if (c.encrypted && total == 0 && why.find("assphrase") != std::string::npos)
                    fail(SQX_ERR_BAD_PASSWORD, "wrong password for " + volumes.path());
                fail(SQX_ERR_EXTRACT, "damaged entry " + hostNameOf(c.name) + ": " + why);
            }
            total += static_cast<uint64_t>(n);
            progress.advance(static_cast<uint64_t>(n));
        }
        if (archive_entry_size_is_set(e) && total != static_cast<uint64_t>(archive_entry_size(e)))
            fail(SQX_ERR_EXTRACT, "damaged entry " + hostNameOf(c.name) + ": " +
                                      std::to_string(total) + " bytes instead of " +
                                      std::to_string(archive_entry_size(e)));
        progress.finish();
    }
    if (seen != catalog.size())
        fail(SQX_ERR_BAD_ARCHIVE, volumes.path() + " changed while it was read");
    return SQX_OK;
}

Listing listArchive(const std::string& archivePath, Callback& cb) {
    VolumeSet volumes(archivePath, cb);
    Listing listing;
    for (CatalogEntry& c : readCatalog(volumes))
        listing.entries.push_back({std::move(c.name), c.folder, c.encrypted, c.size});
    listing.volumes = volumes.count();
    listing.archiveBytes = volumes.size();
    return listing;
}

}  // namespace sqx
