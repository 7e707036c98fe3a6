// Helpers for the archive library's tests: scratch folders, the caller's
// records, a recording callback, and libarchive's own reader and writer as
// an independent check of what the library stores.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sqx/sqx.h"

namespace sqxtest {

namespace fs = std::filesystem;

class ScratchDir {
  public:
    ScratchDir() {
        std::string tmpl = (fs::temp_directory_path() / "sqx-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return (path_ / rel).string(); }

  private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Bytes that deflate cannot shrink.
inline std::string randomBytes(size_t size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(gen());
    return out;
}

// Every path below `root`, relative and sorted; folders end with "/".
inline std::vector<std::string> treeOf(const fs::path& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it)
        out.push_back(fs::relative(it->path(), root).generic_string() +
                      (it->is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

inline int32_t getI32(const unsigned char* rec, size_t ofs) {
    int32_t v;
    std::memcpy(&v, rec + ofs, 4);
    return v;
}
inline void putI32(unsigned char* rec, size_t ofs, int32_t v) {
    std::memcpy(rec + ofs, &v, 4);
}
inline void putText(unsigned char* rec, size_t ofs, size_t len, const std::string& s) {
    std::memset(rec + ofs, 0, len);
    std::memcpy(rec + ofs, s.data(), std::min(s.size(), len - 1));
}
inline std::string getText(const unsigned char* rec, size_t ofs, size_t len) {
    const char* p = reinterpret_cast<const char*>(rec + ofs);
    return std::string(p, strnlen(p, len));
}
inline void setName(unsigned char* rec, const std::string& s) {
    putText(rec, SQX_CB_OFS_NAME, SQX_CB_NAME_LEN, s);
}
inline void setText(unsigned char* rec, const std::string& s) {
    putText(rec, SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN, s);
}

inline std::string lastError() {
    char buf[1024];
    SqxGetLastError(buf, sizeof buf);
    return buf;
}

// A file list record, filled through the library's own calls.
class FileList {
  public:
    explicit FileList(const std::vector<std::string>& items) {
        SqxInitFileList(rec_);
        for (const std::string& i : items)
            SqxAddFileList(i.c_str(), rec_);
    }
    ~FileList() { SqxDoneFileList(rec_); }
    void* record() { return rec_; }

  private:
    alignas(8) unsigned char rec_[SQX_FILELIST_SIZE] = {};  // the pointer at 4 is unaligned
};

// One call of the callback, as the library filled the record.
struct Event {
    int32_t reason;
    std::string name, text;
    int32_t value, disk, volumeKind;
};

// Records every call and answers through `handler`; by default 1, storing
// a source under its bare file name.
struct Recorder {
    std::function<int32_t(const Event&, unsigned char*)> handler;
    std::vector<Event> events;

    static int32_t callback(intptr_t user, void* record) {
        auto* self = reinterpret_cast<Recorder*>(user);
        auto* r = static_cast<unsigned char*>(record);
        Event e{getI32(r, SQX_CB_OFS_REASON),
                getText(r, SQX_CB_OFS_NAME, SQX_CB_NAME_LEN),
                getText(r, SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN),
                getI32(r, SQX_CB_OFS_VALUE),
                getI32(r, SQX_CB_OFS_DISK),
                getI32(r, SQX_CB_OFS_VOLUME_KIND)};
        self->events.push_back(e);
        if (self->handler) return self->handler(e, r);
        if (e.reason == SQX_REASON_ADD) setName(r, fs::path(e.name).filename().string());
        return 1;
    }
    std::vector<Event> withReason(int32_t reason) const {
        std::vector<Event> out;
        std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                     [&](const Event& e) { return e.reason == reason; });
        return out;
    }
};

struct AddSettings {
    std::string password;
    int32_t volumeSize = 0;  // non-zero: split
    int32_t level = 3;
};
inline AddSettings withPassword(std::string p) {
    return AddSettings{std::move(p), 0, 3};
}
inline AddSettings withVolumes(int32_t size) {
    return AddSettings{{}, size, 3};
}
inline AddSettings withLevel(int32_t level) {
    return AddSettings{{}, 0, level};
}

inline int32_t pack(const std::string& archive, const std::vector<std::string>& sources,
                    Recorder& rec, const AddSettings& s = {}) {
    std::vector<unsigned char> o(SQX_AO_SIZE, 0);
    putI32(o.data(), SQX_AO_OFS_SIZE, SQX_AO_SIZE);
    putI32(o.data(), SQX_AO_OFS_LEVEL, s.level);
    putI32(o.data(), SQX_AO_OFS_METHOD, 1);
    putI32(o.data(), SQX_AO_OFS_RECURSE, 1);
    putText(o.data(), SQX_AO_OFS_PASSWORD, SQX_AO_PASSWORD_LEN, s.password);
    putI32(o.data(), SQX_AO_OFS_SPLIT, s.volumeSize != 0);
    putI32(o.data(), SQX_AO_OFS_ASK_VOLUME, 1);
    putI32(o.data(), SQX_AO_OFS_VOLUME_SIZE, s.volumeSize);
    FileList list(sources);
    return SqxAddFiles(archive.c_str(), list.record(), o.data(), &Recorder::callback,
                       reinterpret_cast<intptr_t>(&rec));
}

inline int32_t extract(const std::string& archive, const std::vector<std::string>& names,
                       const std::string& outDir, bool subfolders, Recorder& rec) {
    std::vector<unsigned char> o(SQX_EO_SIZE, 0);
    putI32(o.data(), SQX_EO_OFS_SIZE, SQX_EO_SIZE);
    putI32(o.data(), SQX_EO_OFS_ASK, 1);
    putI32(o.data(), SQX_EO_OFS_SUBFOLDERS, subfolders);
    putText(o.data(), SQX_EO_OFS_OUTDIR, SQX_EO_OUTDIR_LEN, outDir);
    FileList list(names);
    return SqxExtractFiles(archive.c_str(), list.record(), o.data(), &Recorder::callback,
                           reinterpret_cast<intptr_t>(&rec));
}

// The names the library lists (with "\"), and its information record.
inline int32_t list(const std::string& archive, std::vector<std::string>& names, Recorder& rec,
                    std::vector<unsigned char>* info = nullptr,
                    const std::vector<std::string>& patterns = {"*.*"}) {
    FileList files(patterns);
    alignas(8) unsigned char nameList[SQX_NAMELIST_SIZE];
    SqxInitArcFileList(nameList);
    std::vector<unsigned char> infoRec(SQX_INFO_SIZE, 0xAB);
    int32_t rc = SqxListFiles(archive.c_str(), files.record(), nameList, infoRec.data(), nullptr,
                              &Recorder::callback, reinterpret_cast<intptr_t>(&rec));
    names.clear();
    SqxArcFileNode* node;
    std::memcpy(&node, nameList + SQX_NAMELIST_OFS_FIRST, sizeof node);
    for (; node; node = node->next)
        names.emplace_back(node->name);
    if (getI32(nameList, SQX_NAMELIST_OFS_COUNT) != static_cast<int32_t>(names.size()))
        throw std::runtime_error("name list count is off");
    SqxDoneArcFileList(nameList);
    if (info) *info = infoRec;
    return rc;
}

// libarchive converts names through the thread's locale; the test process
// itself stays in the "C" locale, as a host program may.
struct Utf8Thread {
    locale_t previous = uselocale(newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(nullptr)));
    ~Utf8Thread() { freelocale(uselocale(previous)); }
};

// An archive as libarchive's reader sees it; `volumes` are read back to back.
struct ReadBack {
    bool ok = false;
    std::string error;
    std::vector<std::string> names;
    std::map<std::string, std::string> data;
    std::map<std::string, int64_t> mtimes;
};
inline ReadBack readWithLibarchive(const std::vector<std::string>& volumes,
                                   const std::string& password = {}) {
    Utf8Thread utf8;
    ReadBack rb;
    archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    if (!password.empty()) archive_read_add_passphrase(a, password.c_str());
    std::vector<const char*> files;
    for (const std::string& v : volumes)
        files.push_back(v.c_str());
    files.push_back(nullptr);
    int r = archive_read_open_filenames(a, files.data(), 64 * 1024);
    archive_entry* e;
    while (r == ARCHIVE_OK && (r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        std::string name = archive_entry_pathname(e), content;
        rb.names.push_back(name);
        rb.mtimes[name] = archive_entry_mtime(e);
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<size_t>(n));
        if (n < 0) r = static_cast<int>(n);
        rb.data[name] = std::move(content);
    }
    rb.ok = r == ARCHIVE_EOF;
    if (!rb.ok) rb.error = archive_error_string(a) ? archive_error_string(a) : "error";
    archive_read_free(a);
    return rb;
}

// A ZIP archive written by libarchive, names taken verbatim.
inline void writeZipWithLibarchive(
    const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    Utf8Thread utf8;
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_filename(a, path.c_str());
    for (const auto& [name, content] : entries) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(content.size()));
        archive_write_header(a, e);
        archive_write_data(a, content.data(), content.size());
        archive_entry_free(e);
    }
    archive_write_free(a);
}

inline std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command; its exit status, with stdout and stderr in `output`.
inline int run(const std::string& command, std::string& output) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    output.clear();
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        output.append(buf, n);
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sqxtest
