#include "sqx_testutil.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace sqxtest {

namespace {

int32_t i32(const unsigned char* rec, size_t ofs) {
    int32_t v;
    std::memcpy(&v, rec + ofs, 4);
    return v;
}

void putI32(unsigned char* rec, size_t ofs, int32_t v) {
    std::memcpy(rec + ofs, &v, 4);
}

void putStr(unsigned char* rec, size_t ofs, size_t len, const std::string& s) {
    if (s.size() >= len) throw std::runtime_error("text too long for its field");
    std::memset(rec + ofs, 0, len);
    std::memcpy(rec + ofs, s.data(), s.size());
}

std::string field(const unsigned char* rec, size_t ofs, size_t len) {
    const char* p = reinterpret_cast<const char*>(rec + ofs);
    return std::string(p, strnlen(p, len));
}

// The reader converts names through the thread's locale; the test process
// itself stays in the "C" locale, as a host program may.
class Utf8Thread {
  public:
    Utf8Thread() {
        static locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        previous_ = uselocale(utf8);
    }
    ~Utf8Thread() { uselocale(previous_); }

  private:
    locale_t previous_;
};

}  // namespace

ScratchDir::ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "sqx-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string randomBytes(size_t size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(gen() & 0xFF);
    return out;
}

std::vector<std::string> treeOf(const fs::path& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        std::string rel = fs::relative(it->path(), root).generic_string();
        if (it->is_directory() && !it->is_symlink()) rel += '/';
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

FileList::FileList(const std::vector<std::string>& items) {
    if (SqxInitFileList(rec_) != SQX_OK) throw std::runtime_error("SqxInitFileList failed");
    for (const std::string& i : items)
        if (SqxAddFileList(i.c_str(), rec_) != SQX_OK)
            throw std::runtime_error("SqxAddFileList failed");
}

FileList::~FileList() {
    SqxDoneFileList(rec_);
}

std::vector<unsigned char> archiveOptions(const AddSettings& s) {
    std::vector<unsigned char> rec(SQX_AO_SIZE, 0);
    putI32(rec.data(), SQX_AO_OFS_SIZE, SQX_AO_SIZE);
    putI32(rec.data(), SQX_AO_OFS_LEVEL, s.level);
    putI32(rec.data(), SQX_AO_OFS_METHOD, 1);
    putI32(rec.data(), SQX_AO_OFS_RECURSE, 1);
    putStr(rec.data(), SQX_AO_OFS_PASSWORD, SQX_AO_PASSWORD_LEN, s.password);
    putStr(rec.data(), SQX_AO_OFS_BASEDIR, SQX_AO_BASEDIR_LEN, "/");
    putI32(rec.data(), SQX_AO_OFS_SPLIT, s.volumeSize != 0 ? 1 : 0);
    putI32(rec.data(), SQX_AO_OFS_ASK_VOLUME, 1);
    putI32(rec.data(), SQX_AO_OFS_VOLUME_SIZE, s.volumeSize);
    return rec;
}

std::vector<unsigned char> extractOptions(const std::string& outDir, bool subfolders, bool ask) {
    std::vector<unsigned char> rec(SQX_EO_SIZE, 0);
    putI32(rec.data(), SQX_EO_OFS_SIZE, SQX_EO_SIZE);
    putI32(rec.data(), SQX_EO_OFS_ASK, ask ? 1 : 0);
    putI32(rec.data(), SQX_EO_OFS_SUBFOLDERS, subfolders ? 1 : 0);
    putStr(rec.data(), SQX_EO_OFS_OUTDIR, SQX_EO_OUTDIR_LEN, outDir);
    return rec;
}

int32_t Recorder::callback(intptr_t user, void* record) {
    auto* self = reinterpret_cast<Recorder*>(user);
    auto* rec = static_cast<unsigned char*>(record);
    Event e{i32(rec, SQX_CB_OFS_REASON),
            field(rec, SQX_CB_OFS_NAME, SQX_CB_NAME_LEN),
            field(rec, SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN),
            i32(rec, SQX_CB_OFS_VALUE),
            i32(rec, SQX_CB_OFS_DISK),
            i32(rec, SQX_CB_OFS_VOLUME_KIND)};
    self->events.push_back(e);
    if (self->handler) return self->handler(e, rec);
    if (e.reason == SQX_REASON_ADD) setName(rec, fs::path(e.name).filename().string());
    return 1;
}

std::vector<Event> Recorder::withReason(int32_t reason) const {
    std::vector<Event> out;
    for (const Event& e : events)
        if (e.reason == reason) out.push_back(e);
    return out;
}

void setName(unsigned char* record, const std::string& text) {
    putStr(record, SQX_CB_OFS_NAME, SQX_CB_NAME_LEN, text);
}

void setText(unsigned char* record, const std::string& text) {
    putStr(record, SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN, text);
}

std::string lastError() {
    char buf[1024];
    SqxGetLastError(buf, sizeof buf);
    return buf;
}

int32_t pack(const std::string& archive, const std::vector<std::string>& sources, Recorder& rec,
             const AddSettings& settings) {
    FileList list(sources);
    std::vector<unsigned char> options = archiveOptions(settings);
    return SqxAddFiles(archive.c_str(), list.record(), options.data(), &Recorder::callback,
                       rec.user());
}

int32_t extract(const std::string& archive, const std::vector<std::string>& names,
                const std::string& outDir, bool subfolders, Recorder& rec, bool ask) {
    FileList list(names);
    std::vector<unsigned char> options = extractOptions(outDir, subfolders, ask);
    return SqxExtractFiles(archive.c_str(), list.record(), options.data(), &Recorder::callback,
                           rec.user());
}

int32_t list(const std::string& archive, std::vector<std::string>& names, Recorder& rec,
             std::vector<unsigned char>* info, const std::vector<std::string>& patterns) {
    FileList files(patterns);
    alignas(8) unsigned char nameList[SQX_NAMELIST_SIZE];
    SqxInitArcFileList(nameList);
    std::vector<unsigned char> infoRec(SQX_INFO_SIZE, 0xAB);
    int32_t rc = SqxListFiles(archive.c_str(), files.record(), nameList, infoRec.data(), nullptr,
                              &Recorder::callback, rec.user());
    names.clear();
    int32_t count = i32(nameList, SQX_NAMELIST_OFS_COUNT);
    SqxArcFileNode* node;
    std::memcpy(&node, nameList + SQX_NAMELIST_OFS_FIRST, sizeof node);
    for (; node; node = node->next)
        names.emplace_back(node->name);
    if (static_cast<size_t>(count) != names.size()) throw std::runtime_error("count mismatch");
    SqxDoneArcFileList(nameList);
    if (info) *info = infoRec;
    return rc;
}

ReadBack readWithLibarchive(const std::vector<std::string>& volumes, const std::string& password) {
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
        std::string name = archive_entry_pathname(e);
        rb.names.push_back(name);
        rb.mtimes[name] = archive_entry_mtime(e);
        std::string content;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<size_t>(n));
        if (n < 0) {
            r = static_cast<int>(n);
            break;
        }
        rb.data[name] = std::move(content);
    }
    rb.ok = r == ARCHIVE_EOF;
    if (!rb.ok) rb.error = archive_error_string(a) ? archive_error_string(a) : "error";
    archive_read_free(a);
    return rb;
}

void writeZipWithLibarchive(const std::string& path,
                            const std::vector<std::pair<std::string, std::string>>& entries) {
    Utf8Thread utf8;
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK)
        throw std::runtime_error("cannot write " + path);
    for (const auto& [name, content] : entries) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.c_str());
        bool folder = !name.empty() && name.back() == '/';
        archive_entry_set_filetype(e, folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(e, 0644);
        if (!folder) archive_entry_set_size(e, static_cast<la_int64_t>(content.size()));
        archive_write_header(a, e);
        if (!content.empty()) archive_write_data(a, content.data(), content.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

int runCommand(const std::string& command, std::string* output) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int status = ::pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

}  // namespace sqxtest
