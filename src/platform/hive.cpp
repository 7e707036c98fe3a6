#include "platform/hive.h"

#include <algorithm>
#include <cstring>

#include "platform/registry.h"
#include "platform/text_codec.h"

namespace qb::platform::hive {

namespace {

constexpr std::string_view kSignature = "WINE REGISTRY Version 2";
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicks1601To1970 = 116'444'736'000'000'000;

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// A piece of the file for a message: its start, control characters escaped.
std::string printable(std::string_view s) {
    std::string out = escapeControls(s.substr(0, 40));
    if (s.size() > 40) out += "...";
    return out;
}

auto subkeyLess = [](const std::unique_ptr<Key>& k, std::string_view name) {
    return compareNames(k->name, name) < 0;
};

}  // namespace

// Reads Wine's text in one pass. Lines are never copied; strings are decoded into
// one reused buffer.
struct HiveParser {
    Hive& hive;
    const std::string& text;
    const std::string& file;
    const char* s;
    size_t n;
    size_t ls = 0;    // start of the current line
    size_t le = 0;    // end of its content (before "\r\n" / "\n")
    size_t next = 0;  // start of the following line
    size_t line = 0;  // number of the current line
    std::u16string units;
    std::string name;
    std::vector<Key*> chain;  // the path of the last key placed
    uint64_t loadTime = nowFileTime();

    HiveParser(Hive& h, const std::string& t, const std::string& f)
        : hive(h), text(t), file(f), s(t.data()), n(t.size()) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw RegistryError(file + ", line " + std::to_string(line) + ": " + what);
    }

    bool nextLine() {
        if (next >= n) return false;
        ls = next;
        const void* nl = std::memchr(s + ls, '\n', n - ls);
        if (nl) {
            le = static_cast<size_t>(static_cast<const char*>(nl) - s);
            next = le + 1;
        } else {
            le = n;
            next = n;
        }
        if (le > ls && s[le - 1] == '\r') --le;
        ++line;
        return true;
    }

    // Decodes a quoted string from s[p] up to the unescaped `end` character into
    // `units`; returns the index after it.
    size_t parseString(size_t p, char end, const char* what) {
        units.clear();
        while (p < le && s[p] != end) {
            // Runs of plain ASCII are copied at once.
            size_t q = p;
            while (q < le) {
                const auto c = static_cast<unsigned char>(s[q]);
                if (c == static_cast<unsigned char>(end) || c == '\\' || c >= 0x80) break;
                ++q;
            }
            if (q > p) {
                const size_t old = units.size();
                units.resize(old + (q - p));
                for (size_t k = 0; k < q - p; ++k)
                    units[old + k] = static_cast<char16_t>(static_cast<unsigned char>(s[p + k]));
                p = q;
                continue;
            }
            const auto c = static_cast<unsigned char>(s[p]);
            if (c >= 0x80) {
                // Raw bytes are taken as UTF-8 (Wine itself writes only ASCII).
                appendUtf16(units, decodeUtf8(std::string_view(s, le), p));
                continue;
            }
            if (c != '\\') {
                units += static_cast<char16_t>(c);
                ++p;
                continue;
            }
            if (++p >= le) fail(std::string("a backslash ends the line in ") + what);
            const char e = s[p++];
            switch (e) {
                case 'a':
                    units += u'\a';
                    break;
                case 'b':
                    units += u'\b';
                    break;
                case 'e':
                    units += u'\x1b';
                    break;
                case 'f':
                    units += u'\f';
                    break;
                case 'n':
                    units += u'\n';
                    break;
                case 'r':
                    units += u'\r';
                    break;
                case 't':
                    units += u'\t';
                    break;
                case 'v':
                    units += u'\v';
                    break;
                case 'x': {
                    if (p >= le || !isHexDigit(s[p]))
                        fail(std::string("bad escape \\x without hex digits in ") + what);
                    unsigned v = 0;
                    for (int k = 0; k < 4 && p < le && isHexDigit(s[p]); ++k)
                        v = v * 16 + hexValue(s[p++]);
                    units += static_cast<char16_t>(v);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        unsigned v = static_cast<unsigned>(e - '0');
                        for (int k = 0; k < 2 && p < le && s[p] >= '0' && s[p] <= '7'; ++k)
                            v = v * 8 + static_cast<unsigned>(s[p++] - '0');
                        units += static_cast<char16_t>(v);
                    } else if ((e >= 'A' && e <= 'Z') || (e >= 'a' && e <= 'z') ||
                               (e >= '0' && e <= '9') || static_cast<unsigned char>(e) >= 0x80) {
                        fail(std::string("bad escape \\") + e + " in " + what);
                    } else {
                        units += static_cast<char16_t>(e);  // \\ \" \[ \] and the like
                    }
            }
        }
        if (p >= le) fail(std::string("unterminated ") + what);
        return p + 1;
    }

    Key* placeKey(const std::vector<std::string_view>& path, uint64_t modified) {
        Key* parent = &hive.root_;
        size_t i = 0;
        while (i < path.size() && i < chain.size() && sameName(chain[i]->name, path[i])) {
            parent = chain[i];
            ++i;
        }
        chain.resize(i);
        for (; i < path.size(); ++i) {
            auto& subs = parent->subkeys;
            Key* found = nullptr;
            if (subs.empty() || compareNames(subs.back()->name, path[i]) < 0) {
                subs.push_back(std::make_unique<Key>());
                found = subs.back().get();
            } else {
                auto it = std::lower_bound(subs.begin(), subs.end(), path[i], subkeyLess);
                if (it != subs.end() && sameName((*it)->name, path[i])) {
                    found = it->get();
                } else {
                    found = subs.insert(it, std::make_unique<Key>())->get();
                }
            }
            if (found->name.empty()) {
                found->name = std::string(path[i]);
                found->parent = parent;
                found->modified = modified;
            }
            parent = found;
            chain.push_back(parent);
        }
        return parent;
    }

    Key* keyLine(size_t p) {
        p = parseString(p, ']', "key name");
        name.clear();
        appendUtf8(name, units);
        std::vector<std::string_view> path;
        size_t start = 0;
        for (size_t i = 0; i <= name.size(); ++i) {
            if (i == name.size() || name[i] == '\\') {
                if (i > start) path.emplace_back(name.data() + start, i - start);
                start = i + 1;
            }
        }
        while (p < le && isBlank(s[p]))
            ++p;
        uint64_t modified = loadTime;
        if (p < le && s[p] >= '0' && s[p] <= '9') {
            uint64_t seconds = 0;
            while (p < le && s[p] >= '0' && s[p] <= '9' && seconds < (1ull << 40))
                seconds = seconds * 10 + static_cast<uint64_t>(s[p++] - '0');
            modified = seconds * kTicksPerSecond + kTicks1601To1970;
        }
        Key* key = placeKey(path, modified);
        if (key->hasBlock) fail("the key [" + printable(name) + "] appears a second time");
        key->hasBlock = true;
        key->modified = modified;
        key->blockBegin = static_cast<uint32_t>(ls);
        return key;
    }

    void option(Key& key, size_t p) {
        std::string_view rest(s + p, le - p);
        if (rest.starts_with("#time=")) {
            uint64_t t = 0;
            for (size_t i = 6; i < rest.size() && i < 22 && isHexDigit(rest[i]); ++i)
                t = (t << 4) | hexValue(rest[i]);
            key.modified = t;
            return;
        }
        if (rest.starts_with("#link")) key.symlink = true;
        if (rest.starts_with("#class=")) key.hasClass = true;
        key.extraLines.emplace_back(static_cast<uint32_t>(ls), static_cast<uint32_t>(next));
    }

    void restMustBeBlank(size_t p, const char* what) {
        while (p < le && isBlank(s[p]))
            ++p;
        if (p < le) fail(std::string("unexpected text after ") + what);
    }

    void valueLine(Key& key, size_t p) {
        const size_t begin = ls;
        Value v;
        if (s[p] == '@') {
            ++p;
        } else {
            p = parseString(p + 1, '"', "value name");
            v.name = utf16ToUtf8(units);
        }
        while (p < le && (s[p] == ' ' || s[p] == '\t'))
            ++p;
        if (p >= le || s[p] != '=') fail("missing '=' after the value name");
        ++p;
        while (p < le && (s[p] == ' ' || s[p] == '\t'))
            ++p;
        std::string_view d(s + p, le - p);
        auto stringData = [&](size_t at, uint32_t type) {
            p = parseString(at + 1, '"', "string value");
            restMustBeBlank(p, "the string value");
            v.type = type;
            v.data.resize((units.size() + 1) * 2);
            for (size_t i = 0; i < units.size(); ++i) {
                v.data[2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
                v.data[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
            }
            v.data[2 * units.size()] = 0;
            v.data[2 * units.size() + 1] = 0;
        };
        if (d.starts_with("\"")) {
            stringData(p, 1);
        } else if (d.starts_with("str:\"")) {
            stringData(p + 4, 1);
        } else if (d.starts_with("str(2):\"")) {
            stringData(p + 7, 2);
        } else if (d.starts_with("str(7):\"")) {
            stringData(p + 7, 7);
        } else if (d.starts_with("dword:")) {
            p += 6;
            size_t digits = 0;
            uint32_t dw = 0;
            while (p < le && isHexDigit(s[p])) {
                dw = (dw << 4) | hexValue(s[p++]);
                if (++digits > 8) fail("bad dword value (more than 8 hex digits)");
            }
            if (digits == 0) fail("bad dword value (no hex digits)");
            restMustBeBlank(p, "the dword value");
            v.type = 4;
            v.data = {static_cast<uint8_t>(dw), static_cast<uint8_t>(dw >> 8),
                      static_cast<uint8_t>(dw >> 16), static_cast<uint8_t>(dw >> 24)};
        } else if (d.starts_with("hex:") || d.starts_with("hex(")) {
            if (d[3] == ':') {
                v.type = 3;
                p += 4;
            } else {
                p += 4;
                uint64_t type = 0;
                size_t digits = 0;
                while (p < le && isHexDigit(s[p]) && digits < 9) {
                    type = (type << 4) | hexValue(s[p++]);
                    ++digits;
                }
                if (digits == 0 || digits > 8 || p + 1 >= le || s[p] != ')' || s[p + 1] != ':')
                    fail("bad value type in hex(...)");
                p += 2;
                v.type = static_cast<uint32_t>(type);
            }
            hexData(v.data, p);
        } else {
            fail("unknown kind of value data \"" + printable(d) + "\"");
        }
        v.srcBegin = static_cast<uint32_t>(begin);
        v.srcEnd = static_cast<uint32_t>(next);
        if (Value* old = key.findValue(v.name)) {
            *old = std::move(v);  // as Wine loads it: the last one wins
        } else {
            key.values.push_back(std::move(v));
        }
    }

    // Comma-separated hex bytes, continued on the next line after a backslash.
    void hexData(std::vector<uint8_t>& out, size_t p) {
        for (;;) {
            while (p < le && isHexDigit(s[p])) {
                unsigned v = 0;
                size_t digits = 0;
                while (p < le && isHexDigit(s[p])) {
                    v = (v << 4) | hexValue(s[p++]);
                    if (++digits > 2) fail("bad hex byte (more than two digits)");
                }
                out.push_back(static_cast<uint8_t>(v));
                while (p < le && isBlank(s[p]))
                    ++p;
                if (p < le && s[p] == ',') ++p;
                while (p < le && isBlank(s[p]))
                    ++p;
            }
            while (p < le && isBlank(s[p]))
                ++p;
            if (p >= le) return;
            if (s[p] != '\\') fail("bad hex data at \"" + printable({s + p, le - p}) + "\"");
            restMustBeBlank(p + 1, "the line continuation");
            if (!nextLine()) fail("the hex data continues past the end of the file");
            p = ls;
            while (p < le && isBlank(s[p]))
                ++p;
        }
    }

    void run() {
        if (n >= 0xFFFFFFFFu) {
            line = 1;
            fail("the file is too large for a registry hive");
        }
        if (!nextLine() || std::string_view(s + ls, le - ls) != kSignature) {
            line = 1;
            fail("not a Wine registry file (the first line is not \"WINE REGISTRY Version 2\")");
        }
        size_t contentEnd = next;
        Key* cur = nullptr;
        auto closeBlock = [&](size_t sepEnd) {
            if (cur) {
                cur->blockEnd = static_cast<uint32_t>(contentEnd);
                cur->sepEnd = static_cast<uint32_t>(sepEnd);
            } else {
                hive.headerEnd_ = static_cast<uint32_t>(contentEnd);
                hive.headerSepEnd_ = static_cast<uint32_t>(sepEnd);
            }
        };
        while (nextLine()) {
            size_t p = ls;
            while (p < le && isBlank(s[p]))
                ++p;
            if (p == le) continue;
            switch (s[p]) {
                case '[':
                    closeBlock(ls);
                    cur = keyLine(p + 1);
                    break;
                case '@':
                case '"':
                    if (!cur) fail("a value before the first key");
                    valueLine(*cur, p);
                    break;
                case '#':
                    if (cur) option(*cur, p);
                    break;
                case ';':
                    if (cur)
                        cur->extraLines.emplace_back(static_cast<uint32_t>(ls),
                                                     static_cast<uint32_t>(next));
                    break;
                default:
                    // Wine loads such a hive and skips the line; so do readers here.
                    if (hive.skipped_.empty())
                        hive.skipped_ = file + ", line " + std::to_string(line) +
                                        ": unrecognized line \"" + printable({s + p, le - p}) +
                                        "\"";
                    ++hive.skippedCount_;
                    break;
            }
            contentEnd = next;
        }
        closeBlock(n);
    }
};

Key* Key::findSubkey(std::string_view wanted) const {
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), wanted, subkeyLess);
    if (it != subkeys.end() && sameName((*it)->name, wanted)) return it->get();
    return nullptr;
}

Value* Key::findValue(std::string_view wanted) {
    for (Value& v : values)
        if (sameName(v.name, wanted)) return &v;
    return nullptr;
}

const Value* Key::findValue(std::string_view wanted) const {
    return const_cast<Key*>(this)->findValue(wanted);
}

Hive::Hive(std::string header) : generatedHeader_(std::move(header)) {}

std::unique_ptr<Hive> Hive::parse(std::string text, const std::string& fileName) {
    std::unique_ptr<Hive> hive(new Hive());
    hive->text_ = std::move(text);
    HiveParser parser(*hive, hive->text_, fileName);
    parser.run();
    return hive;
}

std::string_view Hive::header() const {
    return generatedHeader_.empty() ? std::string_view(text_).substr(0, headerEnd_)
                                    : std::string_view(generatedHeader_);
}

std::string Hive::relativeTo() const {
    const std::string_view header = this->header();
    constexpr std::string_view tag = ";; All keys relative to ";
    size_t at = header.find(tag);
    if (at == std::string_view::npos) return {};
    std::string_view rest = header.substr(at + tag.size());
    rest = rest.substr(0, rest.find('\n'));
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    std::string out;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
        out += rest[i];
    }
    return out;
}

Key* Hive::find(Key& from, const std::vector<std::string>& path, size_t first) {
    Key* k = &from;
    for (size_t i = first; i < path.size() && k; ++i)
        k = k->findSubkey(path[i]);
    return k;
}

Key& Hive::create(Key& from, const std::vector<std::string>& path, size_t first) {
    Key* k = &from;
    for (size_t i = first; i < path.size(); ++i) {
        if (Key* sub = k->findSubkey(path[i])) {
            k = sub;
            continue;
        }
        auto key = std::make_unique<Key>();
        key->name = path[i];
        key->parent = k;
        key->modified = nowFileTime();
        key->changed = true;
        auto it = std::lower_bound(k->subkeys.begin(), k->subkeys.end(), key->name, subkeyLess);
        k = k->subkeys.insert(it, std::move(key))->get();
        dirty_ = true;
    }
    return *k;
}

void Hive::remove(Key& key) {
    Key* parent = key.parent;
    if (!parent) return;
    auto& subs = parent->subkeys;
    auto it = std::find_if(subs.begin(), subs.end(),
                           [&](const std::unique_ptr<Key>& k) { return k.get() == &key; });
    if (it == subs.end()) return;
    subs.erase(it);
    dirty_ = true;
    // A key that existed only through its subkeys must now be written itself.
    if (!parent->hasBlock && parent->parent) touch(*parent);
}

void Hive::touch(Key& key) {
    key.changed = true;
    key.modified = nowFileTime();
    dirty_ = true;
}

void Hive::setValue(Key& key, std::string_view name, uint32_t type, std::vector<uint8_t> data) {
    if (Value* v = key.findValue(name)) {
        if (v->type == type && v->data == data) return;
        v->type = type;
        v->data = std::move(data);
        v->srcBegin = v->srcEnd = 0;
    } else {
        Value nv;
        nv.name = std::string(name);
        nv.type = type;
        nv.data = std::move(data);
        key.values.push_back(std::move(nv));
    }
    touch(key);
}

bool Hive::deleteValue(Key& key, std::string_view name) {
    for (auto it = key.values.begin(); it != key.values.end(); ++it) {
        if (sameName(it->name, name)) {
            key.values.erase(it);
            touch(key);
            return true;
        }
    }
    return false;
}

bool Hive::shouldWrite(const Key& key) {
    if (key.hasBlock && !key.changed) return true;
    if (!key.parent) return !key.values.empty() || key.hasBlock;
    // As Wine saves: keys with values, leaves, and keys with options; a key with
    // subkeys and nothing else exists through them.
    return !key.values.empty() || key.subkeys.empty() || key.hasClass || key.symlink ||
           !key.extraLines.empty();
}

void Hive::writeKey(std::string& out, const Key& key) const {
    auto appendLines = [&](uint32_t b, uint32_t e) {
        out.append(text_, b, e - b);
        if (out.back() != '\n') out += '\n';
    };
    if (key.hasBlock && !key.changed) {
        out.append(text_, key.blockBegin, key.blockEnd - key.blockBegin);
        return;
    }
    appendKeyLine(out, key);
    for (const auto& [b, e] : key.extraLines)
        appendLines(b, e);
    for (const Value& v : key.values) {
        if (v.srcEnd > v.srcBegin) {
            appendLines(v.srcBegin, v.srcEnd);
        } else {
            appendValue(out, v);
        }
    }
}

std::string Hive::serialize() const {
    std::string out;
    out.reserve(text_.size() + generatedHeader_.size() + 4096);
    // What precedes the next section: the source's blank lines when the previous
    // piece was followed by it in the source, else one blank line as Wine writes.
    bool prevFromSource;
    uint32_t prevEnd, prevSepEnd;
    if (generatedHeader_.empty()) {
        out.append(text_, 0, headerEnd_);
        prevFromSource = true;
        prevEnd = headerEnd_;
        prevSepEnd = headerSepEnd_;
    } else {
        out += generatedHeader_;
        prevFromSource = false;
        prevEnd = prevSepEnd = 0;
    }
    auto emit = [&](const Key& k) {
        if (prevFromSource && k.hasBlock && prevSepEnd == k.blockBegin) {
            out.append(text_, prevEnd, prevSepEnd - prevEnd);
        } else {
            if (!out.empty() && out.back() != '\n') out += '\n';
            out += '\n';
        }
        writeKey(out, k);
        prevFromSource = k.hasBlock;
        prevEnd = k.blockEnd;
        prevSepEnd = k.sepEnd;
    };
    auto walk = [&](auto& self, const Key& k) -> void {
        if (shouldWrite(k)) emit(k);
        for (const auto& sub : k.subkeys)
            self(self, *sub);
    };
    walk(walk, root_);
    if (prevFromSource && prevSepEnd == text_.size() && !text_.empty())
        out.append(text_, prevEnd, prevSepEnd - prevEnd);
    return out;
}

}  // namespace qb::platform::hive
