// Helpers for the archive library's tests: scratch folders, the caller's
// records, a recording callback, and an independent read-back of archives
// through libarchive's own reader.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sqx/sqx.h"

namespace sqxtest {

namespace fs = std::filesystem;

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return (path_ / rel).string(); }

  private:
    fs::path path_;
};

void writeFile(const fs::path& path, const std::string& content);
std::string readFile(const fs::path& path);
// Bytes that deflate cannot shrink.
std::string randomBytes(size_t size, uint32_t seed);
// Every path below `root`, relative, "/"-separated, folders with a trailing "/".
std::vector<std::string> treeOf(const fs::path& root);

// A file list record (SqxInitFileList ... SqxDoneFileList).
class FileList {
  public:
    explicit FileList(const std::vector<std::string>& items = {});
    ~FileList();
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;
    void* record() { return rec_; }

  private:
    alignas(8) unsigned char rec_[SQX_FILELIST_SIZE] = {};
};

struct AddSettings {
    std::string password;
    int32_t volumeSize = 0;  // non-zero: split
    int32_t level = 3;
};
std::vector<unsigned char> archiveOptions(const AddSettings& s = {});
std::vector<unsigned char> extractOptions(const std::string& outDir, bool subfolders,
                                          bool ask = true);

// One call of the callback, as the library filled the record.
struct Event {
    int32_t reason;
    std::string name;
    std::string text;
    int32_t value;
    int32_t disk;
    int32_t volumeKind;
};

// A callback that records every call and answers through `handler`
// (default: 1, and for reason 5 the stored name "\<file name>").
class Recorder {
  public:
    using Handler = std::function<int32_t(const Event&, unsigned char* record)>;
    Handler handler;
    std::vector<Event> events;

    static int32_t callback(intptr_t user, void* record);
    intptr_t user() { return reinterpret_cast<intptr_t>(this); }
    std::vector<Event> withReason(int32_t reason) const;
};

// Writes `text` into the record's name / text field.
void setName(unsigned char* record, const std::string& text);
void setText(unsigned char* record, const std::string& text);

std::string lastError();

int32_t pack(const std::string& archive, const std::vector<std::string>& sources, Recorder& rec,
             const AddSettings& settings = {});
int32_t extract(const std::string& archive, const std::vector<std::string>& names,
                const std::string& outDir, bool subfolders, Recorder& rec, bool ask = true);
// Names the library lists (with "\"), in order; the info record into `info`.
int32_t list(const std::string& archive, std::vector<std::string>& names, Recorder& rec,
             std::vector<unsigned char>* info = nullptr,
             const std::vector<std::string>& patterns = {"*.*"});

// An archive as libarchive's reader sees it: entry names in order and the
// data of each file. `volumes` are read back to back as one stream.
struct ReadBack {
    bool ok = false;
    std::string error;
    std::vector<std::string> names;
    std::map<std::string, std::string> data;
    std::map<std::string, int64_t> mtimes;
};
ReadBack readWithLibarchive(const std::vector<std::string>& volumes,
                            const std::string& password = {});

// Writes a ZIP archive with libarchive's writer, names taken verbatim.
void writeZipWithLibarchive(const std::string& path,
                            const std::vector<std::pair<std::string, std::string>>& entries);

// Runs a shell command; returns its exit status and puts stdout+stderr in `output`.
int runCommand(const std::string& command, std::string* output = nullptr);
std::string shellQuote(const std::string& s);

}  // namespace sqxtest
