#include "adapter_test_support.h"

#include "platform/text_codec.h"
#include "regfile/io_registry.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <cstdlib>
#include <ranges>
#include <stdexcept>

namespace qb::test {
namespace {

// Stored names are UTF-8 while it lives, whatever the test's locale is.
struct Utf8Names {
    locale_t previous = uselocale(newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(nullptr)));
    ~Utf8Names() { freelocale(uselocale(previous)); }
};

// INI text as a file outside every machine (reached through the drive the
// platform gives host folders), for IniFile to read.
platform::IniFile iniOf(const std::string& text) {
    static const TempDir dir;
    const fs::path file = dir.path() / "text.ini";
    writeHostFile(file, text);
    return platform::IniFile(platform::windowsPath(file));
}

}  // namespace

std::string slashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

Names StoredFiles::names(char separator) const {
    Names out;
    for (std::string name : files | std::views::keys) {
        for (char& c : name)
            if (c == '/') c = separator;
        out.insert(std::move(name));
    }
    return out;
}

Names StoredFiles::everyName() const {
    Names out = folders;
    for (const std::string& name : files | std::views::keys)
        out.insert(name);
    return out;
}

const std::string& StoredFiles::at(const std::string& name) const {
    auto it = files.find(slashes(name));
    if (it == files.end()) throw std::runtime_error("the backup holds no " + name);
    return it->second;
}

Names StoredFiles::duplicates() const {
    Names out;
    for (const auto& [name, n] : times)
        if (n > 1) out.insert(name);
    return out;
}

StoredFiles readBackup(const fs::path& file) {
    Utf8Names utf8;
    StoredFiles out;
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    int r = archive_read_open_filename(a, file.c_str(), 65536);
    struct archive_entry* e;
    while (r == ARCHIVE_OK && (r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        const char* raw = archive_entry_pathname_utf8(e);
        const std::string name = raw ? raw : "?";
        if (archive_entry_filetype(e) == AE_IFDIR || name.ends_with("/")) {
            out.folders.insert(name.ends_with("/") ? name : name + "/");
            continue;
        }
        std::string content;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            content.append(buf, static_cast<size_t>(n));
        if (n < 0) r = static_cast<int>(n);
        ++out.times[name];
        out.files[name] = std::move(content);
    }
    out.ok = r == ARCHIVE_EOF;
    if (!out.ok)
        out.error = file.string() + ": " +
                    (archive_error_string(a) ? archive_error_string(a) : "cannot be read");
    archive_read_free(a);
    return out;
}

StoredFiles storedIn(const fs::path& file) {
    StoredFiles s = readBackup(file);
    EXPECT_TRUE(s.ok) << s.error;
    EXPECT_EQ(s.duplicates(), Names{}) << file;
    return s;
}

void writeBackup(const fs::path& file,
                 const std::vector<std::pair<std::string, std::string>>& entries) {
    Utf8Names utf8;
    fs::create_directories(file.parent_path());
    struct archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_filename(a, file.c_str()) != ARCHIVE_OK) {
        archive_write_free(a);
        throw std::runtime_error("cannot write " + file.string());
    }
    for (const auto& [name, data] : entries) {
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname_utf8(e, name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
        archive_write_header(a, e);
        archive_write_data(a, data.data(), data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

std::string iniValue(const std::string& text, std::string_view section, std::string_view key) {
    return iniOf(text).readString(section, key, "<missing>");
}
std::vector<std::string> iniKeys(const std::string& text, std::string_view section) {
    return iniOf(text).readSection(section);
}
std::vector<std::string> iniLines(const std::string& text, std::string_view section) {
    return iniOf(text).readSectionValues(section);
}
std::map<std::string, std::string> iniSection(const std::string& text, std::string_view section) {
    std::map<std::string, std::string> out;
    for (const std::string& line : iniLines(text, section)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

Selection selection(const std::vector<std::pair<std::string, bool>>& entries) {
    Selection s;
    for (const auto& [name, checked] : entries)
        s.add(name, checked);
    return s;
}
Selection allItems(ClientKind kind) {
    Selection s;
    for (const std::string& item : BackupItems(kind))
        s.add(item, true);
    return s;
}
Selection onlyItems(ClientKind kind, const Names& chosen) {
    Selection s;
    for (const std::string& item : BackupItems(kind))
        s.add(item, chosen.count(item) > 0);
    return s;
}

Choice everything(ClientKind kind) {
    Choice c;
    for (const std::string& id : ListIdentities(kind))
        c.identities.add(id, true);
    c.items = allItems(kind);
    return c;
}

Choice contents(const std::string& backup, ClientKind kind) {
    EXPECT_EQ(jobs::ReadBackupClient(backup), kind);
    std::vector<bool> present;
    uint8_t count = 0;
    std::vector<std::string> ids, items;
    bool mismatch = true;
    jobs::ListBackupContents(jobs::ListKindOf(kind), backup, present, count, ids, items, mismatch);
    EXPECT_FALSE(mismatch);
    Choice c;
    for (const std::string& id : ids)
        c.identities.add(id, true);
    for (size_t i = 0; i < items.size(); ++i)
        c.items.add(items[i], present[i]);
    return c;
}

std::string registryText(RootKey root, std::string_view key, std::string_view name) {
    platform::Registry reg(root);
    if (!reg.openKeyReadOnly(key)) return "<no key " + std::string(key) + ">";
    if (!reg.valueExists(name)) return "<no value " + std::string(name) + ">";
    return reg.readString(name);
}
int32_t registryNumber(RootKey root, std::string_view key, std::string_view name) {
    platform::Registry reg(root);
    if (!reg.openKeyReadOnly(key) || !reg.valueExists(name)) return -1;
    return reg.readInteger(name);
}
bool keyExists(RootKey root, std::string_view key) {
    platform::Registry reg(root);
    return reg.keyExists(key);
}

Names treeOf(const fs::path& root, bool withFolders) {
    Names out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it); ++it) {
        const bool folder = it->is_directory();
        if (folder && !withFolders) continue;
        out.insert(fs::relative(it->path(), root).generic_string() + (folder ? "/" : ""));
    }
    return out;
}

bool anyNameContains(const fs::path& root, const std::string& part) {
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().filename().string().find(part) != std::string::npos) return true;
    return false;
}

void AdapterTest::SetUp() {
    ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
    clients::RegisterAllClients();
    use(source);
}

void AdapterTest::use(const FakeMachine& m) {
    m.activate();
    current_ = &m;
    const char* lang = "C:\\Program Files\\Quillbox\\English.lng";
    ASSERT_TRUE(platform::forceDirectories(platform::extractFilePath(lang)));
    ASSERT_TRUE(WriteBuiltInLanguageFile(lang));
    ASSERT_TRUE(jobs::InitJobModule(lang));
    platform::forceDirectories("C:\\Backups");
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.password.clear();
    job.multipleVolumes = false;
    clearJobOutcome();
}

void AdapterTest::clearJobOutcome() {
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.errorFlag = false;
    job.errorText.clear();
    job.aborted = false;
    job.abortRequest = false;
}

std::string AdapterTest::readOn(const FakeMachine& m, const std::string& path) {
    m.activate();
    const fs::path file = m.host(path);
    current_->activate();
    return fs::is_regular_file(file) ? readHostFile(file) : "<no file " + path + ">";
}

std::vector<NamedValue> everyKindOfValue(bool withUnterminated) {
    using platform::RegValue;
    using platform::ValueType;
    auto text = [](ValueType type, std::string_view t) {
        return RegValue{type, platform::utf8ToUtf16Bytes(t, true)};
    };
    std::vector<uint8_t> big(100 * 1024);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7 + i / 256);
    std::vector<NamedValue> values = {
        {"", text(ValueType::String, "the default")},
        {"Command", text(ValueType::String, "\"C:\\Program Files\\Mail\\mail.exe\" /x \"%1\"")},
        {"Store", text(ValueType::String, "C:\\Mail Archive\\archive.pst")},
        {"Folder", text(ValueType::String, "\\\\server\\share\\Mail\\")},
        {"Signature", text(ValueType::String, "Best regards,\r\n\"Ann\"\r\n[Sales]\r\n")},
        {"Ends with a quote\"", text(ValueType::String, "say \"hi\"")},
        {"a=b", text(ValueType::String, "c=d")},
        {"J\xC3\xBCrgen \xE2\x82\xAC",
         text(ValueType::String, "M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC")},
        {"Empty", text(ValueType::String, "")},
        {"Looks like a number", text(ValueType::String, "dword:00000001")},
        {"Store Root", text(ValueType::ExpandString, "%UserProfile%\\Local Settings\\Mail")},
        {"Servers",
         {ValueType::MultiString,
          platform::multiStringBytes({"pop.example.com", "M\xC3\xBCller", "C:\\x\\"})}},
        {"Empty list", {ValueType::MultiString, {0, 0}}},
        {"Port", {ValueType::Dword, {0x6E, 0, 0, 0}}},
        {"All bits", {ValueType::Dword, {0xFF, 0xFF, 0xFF, 0xFF}}},
        {"Big endian", {ValueType::DwordBigEndian, {0x12, 0x34, 0x56, 0x78}}},
        {"Size", {ValueType::Qword, {1, 2, 3, 4, 5, 6, 7, 0x80}}},
        {"Marker", {ValueType::None, {0xDE, 0xAD}}},
        {"Nothing", {ValueType::None, {}}},
        {"Links", {ValueType::Link, platform::utf8ToUtf16Bytes("\\Registry\\Machine", false)}},
        {"Own type", {static_cast<ValueType>(0x100), {9, 8, 7}}},
        {"Empty binary", {ValueType::Binary, {}}},
        {"Window", {ValueType::Binary, {0, 1, 0x0A, 0x0D, 0x22, 0x5C, 0xFF}}},
        {"Blob", {ValueType::Binary, big}},
    };
    if (withUnterminated)
        values.push_back({"No terminator", {ValueType::String, {'a', 0, 'b', 0}}});
    return values;
}

void writeValues(const std::string& key, const std::vector<NamedValue>& values) {
    platform::Registry reg(platform::RootKey::CurrentUser);
    ASSERT_TRUE(reg.openKey(key, true)) << key;
    for (const NamedValue& v : values)
        reg.writeValue(v.name, v.value);
}

std::string compareValues(const std::string& key, const std::vector<NamedValue>& values) {
    platform::Registry reg(platform::RootKey::CurrentUser);
    if (!reg.openKeyReadOnly(key)) return "no key " + key;
    std::string diff;
    std::set<std::string> expected;
    for (const NamedValue& v : values) {
        expected.insert(platform::lowerAscii(v.name));
        const auto got = reg.readValue(v.name);
        if (!got)
            diff += "\n  \"" + v.name + "\" is missing";
        else if (got->type != v.value.type)
            diff += "\n  \"" + v.name + "\" has type " +
                    std::to_string(static_cast<uint32_t>(got->type)) + " instead of " +
                    std::to_string(static_cast<uint32_t>(v.value.type));
        else if (got->data != v.value.data)
            diff += "\n  \"" + v.name + "\" has other data (" + std::to_string(got->data.size()) +
                    " bytes instead of " + std::to_string(v.value.data.size()) + ")";
    }
    for (const std::string& name : reg.valueNames())
        if (!expected.count(platform::lowerAscii(name))) diff += "\n  \"" + name + "\" is extra";
    return diff;
}

std::string AdapterTest::registryEditorForm(const std::string& backupForm) {
    const fs::path file = current_->host("C:\\qb-editor-form.reg");
    writeHostFile(file, backupForm);
    TIORegistry io;
    EXPECT_TRUE(io.ConvertToStandardFile("C:\\qb-editor-form.reg")) << io.LastError();
    std::string text = readHostFile(file);
    fs::remove(file);
    return text;
}

std::string AdapterTest::registryEditorText(const std::string& file) {
    if (!file.starts_with("\xFF\xFE")) return "<not UTF-16LE with a byte order mark>";
    const std::string_view body = std::string_view(file).substr(2);
    return platform::utf16ToUtf8(platform::unitsFromUtf16Le(
        std::span(reinterpret_cast<const uint8_t*>(body.data()), body.size())));
}

bool AdapterTest::existsOn(const FakeMachine& m, const std::string& path) {
    m.activate();
    const bool found = fs::exists(m.host(path));
    current_->activate();
    return found;
}

Names AdapterTest::filesBelow(const FakeMachine& m, const std::string& folder) {
    m.activate();
    const fs::path root = m.host(folder);
    current_->activate();
    return treeOf(root, false);
}

void AdapterTest::carry(const FakeMachine& from, const std::string& fromPath, const FakeMachine& to,
                        const std::string& toPath) {
    from.activate();
    const fs::path file = from.host(fromPath);
    to.activate();
    const fs::path copy = to.host(toPath);
    current_->activate();
    fs::create_directories(copy.parent_path());
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
}

void AdapterTest::moveBackup(const std::string& path, const FakeMachine& to) {
    carry(source, path, to, path);
    use(to);
}

StoredFiles AdapterTest::stored(const FakeMachine& m, const std::string& path) {
    m.activate();
    const fs::path file = m.host(path);
    current_->activate();
    return storedIn(file);
}

bool AdapterTest::backupOn(const FakeMachine& m, const std::string& path, ClientKind kind,
                           const Selection& identities, const Selection& items) {
    use(m);
    return jobs::RunBackup(path, kind, identities, items);
}

std::map<std::string, std::string> AdapterTest::backupsThroughProgram(const std::string& keyword,
                                                                      const std::string& folder,
                                                                      const FakeMachine& m) {
    const ProgramRun run = runQuillbox(m, {"/b", "/c:" + keyword, "/p:" + folder, "-"});
    use(m);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::map<std::string, std::string> out;
    for (const platform::SearchRec& r :
         platform::findFiles(folder + "\\*.ebk", platform::faAnyFile)) {
        const std::string path = folder + "\\" + r.name;
        const StoredFiles s = stored(m, path);
        const std::string client = s.has("infobak.ini")
                                       ? iniValue(s.at("infobak.ini"), "Backup", "EmailClient")
                                       : "<no manifest in " + r.name + ">";
        EXPECT_EQ(out.count(client), 0u) << "two backups of " << client << " in " << folder;
        out[client] = path;
    }
    return out;
}

std::string AdapterTest::backupThroughProgram(const FakeMachine& m, const std::string& keyword,
                                              const std::string& prefix) {
    const auto made = backupsThroughProgram(keyword, "C:\\Backups\\Command Line", m);
    EXPECT_EQ(made.size(), 1u);
    if (made.size() != 1) return {};
    const std::string& path = made.begin()->second;
    EXPECT_TRUE(platform::extractFileName(path).starts_with(prefix)) << path;
    return path;
}

std::string AdapterTest::carriedBackup(const std::string& keyword, const std::string& prefix,
                                       const std::string& to) {
    const std::string path = backupThroughProgram(source, keyword, prefix);
    if (!path.empty()) carry(source, path, target, to);
    return path;
}

bool AdapterTest::restoreThroughProgram(const FakeMachine& m, const std::string& backup) {
    const ProgramRun run = runQuillbox(m, {"/r", "/f:" + backup, "/p:C:\\Restore"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    use(m);
    return run.status == 0;
}

}  // namespace qb::test
