// INI files read and written the way the Windows profile functions treat them.
//
// Every call reads the file afresh (another program may have changed it), and
// every change rewrites it at once through a temporary file. Lines the change
// does not touch keep their bytes and line ends; lines it writes end in CRLF.
#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <optional>

#include "platform/files.h"
#include "platform/files_internal.h"
#include "platform/text_codec.h"

namespace qb::platform {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Bom = "\xFF\xFE";

enum class Encoding { Utf8, Utf8Bom, Utf16Le };

struct Line {
    std::string text;  // without its line break, UTF-8
    std::string eol;   // "\r\n", "\n", "\r", or "" for a last line without one
};

enum class Kind { Blank, Comment, Section, Key, Other };

struct Info {
    Kind kind = Kind::Blank;
    std::string_view name;   // section name, key name, or the trimmed line (Other)
    std::string_view value;  // Key: the value, trimmed, quotes kept
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Names passed by the caller lose surrounding spaces, as the profile functions do.
std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

Info classify(std::string_view text) {
    Info info;
    const std::string_view t = trim(text);
    if (t.empty()) return info;
    if (t.front() == '[') {
        // The name ends at the first "]" (or the line's end); text after it is ignored.
        info.kind = Kind::Section;
        const size_t close = t.find(']', 1);
        info.name =
            trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return info;
    }
    if (t.front() == ';') {
        info.kind = Kind::Comment;
        return info;
    }
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        info.kind = Kind::Other;
        info.name = t;
        return info;
    }
    info.kind = Kind::Key;
    info.name = trim(t.substr(0, eq));
    info.value = trim(t.substr(eq + 1));
    return info;
}

// One pair of matching enclosing quotes, double or single, goes.
std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

struct Document {
    Encoding encoding = Encoding::Utf8;
    std::vector<Line> lines;
};

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r') continue;
        Line line;
        line.text = text.substr(start, i - start);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            line.eol = "\r\n";
            ++i;
        } else {
            line.eol = std::string(1, c);
        }
        lines.push_back(std::move(line));
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(Line{std::string(text.substr(start)), ""});
    return lines;
}

// Reads the file behind `host`. A missing file is an empty document; a file that
// exists but cannot be read is an error, so that no write replaces it blindly.
bool load(const std::string& host, std::string_view winPath, Document& doc) {
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        return detail::failErrno("cannot read", winPath, errno);
    }
    std::string bytes;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            return detail::failErrno("cannot read", winPath, err);
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    std::string_view view(bytes);
    std::string text;
    if (view.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        doc.encoding = Encoding::Utf8Bom;
        text = view.substr(kUtf8Bom.size());
    } else if (view.substr(0, kUtf16Bom.size()) == kUtf16Bom) {
        if (view.size() % 2 != 0)
            return detail::fail("cannot read " + std::string(winPath) +
                                ": UTF-16 text of an odd number of bytes");
        doc.encoding = Encoding::Utf16Le;
        const std::string_view wide = view.substr(kUtf16Bom.size());
        text = utf16ToUtf8(
            unitsFromUtf16Le({reinterpret_cast<const uint8_t*>(wide.data()), wide.size()}));
    } else {
        text = std::move(bytes);
    }
    doc.lines = splitLines(text);
    return true;
}

std::optional<std::string> encode(const Document& doc) {
    std::string text;
    for (const Line& l : doc.lines) {
        text += l.text;
        text += l.eol;
    }
    switch (doc.encoding) {
        case Encoding::Utf8:
            return text;
        case Encoding::Utf8Bom:
            return std::string(kUtf8Bom) + text;
        case Encoding::Utf16Le:
            if (std::optional<std::u16string> units = exactUtf8ToUtf16(text)) {
                const std::vector<uint8_t> bytes = utf16LeBytes(*units, false);
                return std::string(kUtf16Bom) + std::string(bytes.begin(), bytes.end());
            }
            return std::nullopt;
    }
    return std::nullopt;
}

// The line index of the first header named `section`.
std::optional<size_t> findSection(const Document& doc, std::string_view section) {
    section = trimSpaces(section);
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        const Info info = classify(doc.lines[i].text);
        if (info.kind == Kind::Section && sameName(info.name, section)) return i;
    }
    return std::nullopt;
}

// One past the last line of the section whose header is at `header`.
size_t sectionEnd(const Document& doc, size_t header) {
    size_t i = header + 1;
    while (i < doc.lines.size() && classify(doc.lines[i].text).kind != Kind::Section)
        ++i;
    return i;
}

std::optional<size_t> findKey(const Document& doc, size_t header, std::string_view key) {
    key = trimSpaces(key);
    const size_t end = sectionEnd(doc, header);
    for (size_t i = header + 1; i < end; ++i) {
        const Info info = classify(doc.lines[i].text);
        if (info.kind == Kind::Key && sameName(info.name, key)) return i;
    }
    return std::nullopt;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// How a value is written so that reading it back gives it unchanged: quoted
// when reading would otherwise trim its blanks or strip its own quotes.
std::string valueText(std::string_view value) {
    const bool blanks = !value.empty() && (isBlank(value.front()) || isBlank(value.back()));
    const bool quoted = unquote(value).size() != value.size();
    if (blanks || quoted) return "\"" + std::string(value) + "\"";
    return std::string(value);
}

// Gives the last line a line break before lines are added after it.
void terminateLine(Line& line) {
    if (line.eol.empty()) line.eol = "\r\n";
}

std::optional<int> parseInteger(std::string_view s) {
    s = trim(s);
    int base = 10;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return std::nullopt;
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    if (negative) v = -v;
    // Hexadecimal values cover the unsigned range, as 0xFFFFFFFF stands for -1.
    if (base == 16 && v > INT32_MAX && v <= static_cast<long long>(UINT32_MAX)) v -= 0x100000000LL;
    if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return static_cast<int>(v);
}

}  // namespace

IniFile::IniFile(std::string winPath) : path_(std::move(winPath)) {}

namespace {

// Reads the file named by a Windows path; a file that cannot be read reads as empty.
Document readDocument(const std::string& winPath) {
    Document doc;
    std::optional<std::string> host = detail::hostOrFail(winPath);
    if (host && !load(*host, winPath, doc)) doc = Document{};
    return doc;
}

// Applies `change` to the file and writes it back when the change says it changed
// something. Nothing is written when the file cannot be read.
template <typename Change>
bool modify(const std::string& winPath, Change change) {
    std::optional<std::string> host = detail::hostOrFail(winPath);
    if (!host) return false;
    Document doc;
    if (!load(*host, winPath, doc)) return false;
    if (!change(doc)) return true;
    std::optional<std::string> bytes = encode(doc);
    if (!bytes) return detail::fail("cannot write " + winPath + ": the text is not valid UTF-8");
    return detail::replaceFileAtomically(*host, *bytes, winPath);
}

// What `take` makes of each line of `section` in the file, in order.
template <typename Take>
std::vector<std::string> collectSection(const std::string& winPath, std::string_view section,
                                        Take take) {
    const Document doc = readDocument(winPath);
    std::vector<std::string> out;
    if (std::optional<size_t> header = findSection(doc, section)) {
        const size_t end = sectionEnd(doc, *header);
        for (size_t i = *header + 1; i < end; ++i)
            take(out, classify(doc.lines[i].text));
    }
    return out;
}

}  // namespace

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    const Document doc = readDocument(path_);
    if (std::optional<size_t> header = findSection(doc, section)) {
        if (std::optional<size_t> line = findKey(doc, *header, key))
            return std::string(unquote(classify(doc.lines[*line].text).value));
    }
    return std::string(defaultValue);
}

int IniFile::readInteger(std::string_view section, std::string_view key, int defaultValue) const {
    return parseInteger(readString(section, key, "")).value_or(defaultValue);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) const {
    const std::string text = readString(section, key, "");
    const std::string_view t = trim(text);
    if (sameName(t, "true") || sameName(t, "yes")) return true;
    if (sameName(t, "false") || sameName(t, "no")) return false;
    if (std::optional<int> v = parseInteger(t)) return *v != 0;
    return defaultValue;
}

std::vector<std::string> IniFile::readSections() const {
    const Document doc = readDocument(path_);
    std::vector<std::string> out;
    for (const Line& l : doc.lines) {
        const Info info = classify(l.text);
        if (info.kind == Kind::Section) out.emplace_back(info.name);
    }
    return out;
}

std::vector<std::string> IniFile::readSection(std::string_view section) const {
    return collectSection(path_, section, [](std::vector<std::string>& out, const Info& info) {
        if (info.kind == Kind::Key) out.emplace_back(info.name);
    });
}

std::vector<std::string> IniFile::readSectionValues(std::string_view section) const {
    return collectSection(path_, section, [](std::vector<std::string>& out, const Info& info) {
        if (info.kind == Kind::Key)
            out.push_back(std::string(info.name) + "=" + std::string(info.value));
        else if (info.kind == Kind::Other)
            out.emplace_back(info.name);
    });
}

bool IniFile::sectionExists(std::string_view section) const {
    return findSection(readDocument(path_), section).has_value();
}

bool IniFile::valueExists(std::string_view section, std::string_view key) const {
    const Document doc = readDocument(path_);
    const std::optional<size_t> header = findSection(doc, section);
    return header && findKey(doc, *header, key);
}

bool IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    section = trimSpaces(section);
    key = trimSpaces(key);
    // Names and values that the file could not hold as one line of this meaning.
    if (hasLineBreak(section) || section.find(']') != std::string_view::npos)
        return detail::fail("cannot write " + path_ + ": invalid section name [" +
                            std::string(section) + "]");
    if (key.empty() || hasLineBreak(key) || key.find('=') != std::string_view::npos ||
        key.front() == ';' || key.front() == '[' || trim(key).size() != key.size())
        return detail::fail("cannot write " + path_ + ": invalid key name \"" + std::string(key) +
                            "\" in [" + std::string(section) + "]");
    if (hasLineBreak(value))
        return detail::fail("cannot write " + path_ + ": the value of " + std::string(key) +
                            " in [" + std::string(section) + "] has a line break");
    const std::string text = valueText(value);
    return modify(path_, [&](Document& doc) {
        std::optional<size_t> header = findSection(doc, section);
        if (!header) {
            if (!doc.lines.empty()) terminateLine(doc.lines.back());
            doc.lines.push_back(Line{"[" + std::string(section) + "]", "\r\n"});
            doc.lines.push_back(Line{std::string(key) + "=" + text, "\r\n"});
            return true;
        }
        if (std::optional<size_t> at = findKey(doc, *header, key)) {
            Line& line = doc.lines[*at];
            // The key keeps the spelling it has in the file.
            std::string updated = std::string(classify(line.text).name) + "=" + text;
            if (updated == line.text) return false;
            line.text = std::move(updated);
            line.eol = "\r\n";
            return true;
        }
        // A new key goes after the section's last non-blank line.
        size_t after = *header;
        const size_t end = sectionEnd(doc, *header);
        for (size_t i = *header + 1; i < end; ++i)
            if (classify(doc.lines[i].text).kind != Kind::Blank) after = i;
        terminateLine(doc.lines[after]);
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(after + 1),
                         Line{std::string(key) + "=" + text, "\r\n"});
        return true;
    });
}

bool IniFile::writeInteger(std::string_view section, std::string_view key, int value) {
    return writeString(section, key, std::to_string(value));
}

bool IniFile::eraseSection(std::string_view section) {
    return modify(path_, [&](Document& doc) {
        // Every section of that name goes with its keys and blank lines; comment
        // lines stay, as Windows keeps them.
        bool changed = false;
        std::vector<Line> kept;
        kept.reserve(doc.lines.size());
        bool inErased = false;
        for (Line& l : doc.lines) {
            const Info info = classify(l.text);
            if (info.kind == Kind::Section) inErased = sameName(info.name, trimSpaces(section));
            if (inErased && info.kind != Kind::Comment) {
                changed = true;
                continue;
            }
            kept.push_back(std::move(l));
        }
        doc.lines = std::move(kept);
        return changed;
    });
}

bool IniFile::deleteKey(std::string_view section, std::string_view key) {
    return modify(path_, [&](Document& doc) {
        bool changed = false;
        std::vector<Line> kept;
        kept.reserve(doc.lines.size());
        bool inSection = false;
        for (Line& l : doc.lines) {
            const Info info = classify(l.text);
            if (info.kind == Kind::Section) inSection = sameName(info.name, trimSpaces(section));
            if (inSection && info.kind == Kind::Key && sameName(info.name, trimSpaces(key))) {
                changed = true;
                continue;
            }
            kept.push_back(std::move(l));
        }
        doc.lines = std::move(kept);
        return changed;
    });
}

}  // namespace qb::platform
