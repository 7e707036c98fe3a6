// Name comparison and wildcard masks with the rules of Windows file names.
#include <algorithm>

#include "platform/files.h"
#include "platform/files_internal.h"
#include "platform/text_codec.h"

namespace qb::platform {

namespace {

// Bytes that are not valid UTF-8 decode to values above Unicode, so they only
// ever equal themselves.
constexpr char32_t kRawByte = 0x110000;

// Wildcard codes of a translated mask, above every decoded character.
constexpr char32_t kStar = 0x200000;     // any run of characters
constexpr char32_t kDosStar = 0x200001;  // any run that does not take the name's last dot
constexpr char32_t kDosQm = 0x200002;    // one character; nothing before a dot or at the end
constexpr char32_t kDosDot = 0x200003;   // a dot, or nothing at the end of the name

char32_t nextCodePoint(std::string_view s, size_t& i) {
    bool raw = false;
    const char32_t c = decodeUtf8(s, i, &raw);
    return raw ? kRawByte + c : c;
}

// Upper-case form used for comparison. Covers the scripts mail folder names are
// commonly written in; other characters compare exactly.
char32_t foldUpper(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs: upper case even in most runs, odd in two.
        if ((c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
            return c & ~char32_t{1};
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1u) ? c : c - 1;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 0x20;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

char upperAsciiChar(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
}

void foldInto(std::string_view s, std::vector<char32_t>& out) {
    out.clear();
    for (size_t i = 0; i < s.size();)
        out.push_back(foldUpper(nextCodePoint(s, i)));
}

// Matches a folded name against a translated expression; `memo` caches the
// outcome per (expression, name) position so no mask can cost more than their product.
class Matcher {
  public:
    Matcher(const std::vector<char32_t>& expr, const std::vector<char32_t>& name)
        : e_(expr), n_(name), memo_((expr.size() + 1) * (name.size() + 1), kUnknown) {
        lastDot_ = name.size();
        for (size_t i = name.size(); i-- > 0;) {
            if (name[i] == '.') {
                lastDot_ = i;
                break;
            }
        }
    }
    bool run() { return at(0, 0); }

  private:
    static constexpr signed char kUnknown = -1;

    bool at(size_t e, size_t n) {
        signed char& m = memo_[e * (n_.size() + 1) + n];
        if (m == kUnknown) m = compute(e, n) ? 1 : 0;
        return m == 1;
    }

    bool compute(size_t e, size_t n) {
        const size_t len = n_.size();
        if (e == e_.size()) return n == len;
        const char32_t c = e_[e];
        switch (c) {
            case kStar:
                return at(e + 1, n) || (n < len && at(e, n + 1));
            case kDosStar:
                return at(e + 1, n) || (n < len && n != lastDot_ && at(e, n + 1));
            case kDosQm:
                if (n < len && n_[n] != '.') return at(e + 1, n + 1);
                while (e < e_.size() && e_[e] == kDosQm)
                    ++e;
                return at(e, n);
            case kDosDot:
                if (n == len) return at(e + 1, n);
                return n_[n] == '.' && at(e + 1, n + 1);
            default:
                return n < len && n_[n] == c && at(e + 1, n + 1);
        }
    }

    const std::vector<char32_t>& e_;
    const std::vector<char32_t>& n_;
    std::vector<signed char> memo_;
    size_t lastDot_;
};

bool isWildcard(char c) {
    return c == '*' || c == '?' || c == '<' || c == '>' || c == '"';
}

}  // namespace

int compareNames(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t x;
        char32_t y;
        if (static_cast<unsigned char>(a[i]) < 0x80 && static_cast<unsigned char>(b[j]) < 0x80) {
            x = static_cast<unsigned char>(upperAsciiChar(a[i++]));
            y = static_cast<unsigned char>(upperAsciiChar(b[j++]));
        } else {
            x = foldUpper(nextCodePoint(a, i));
            y = foldUpper(nextCodePoint(b, j));
        }
        if (x != y) return x < y ? -1 : 1;
    }
    if (i == a.size() && j == b.size()) return 0;
    return i == a.size() ? -1 : 1;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() == b.size()) {
        // ASCII-only names, the common case, need no decoding.
        bool ascii = true;
        for (size_t k = 0; k < a.size(); ++k) {
            if ((static_cast<unsigned char>(a[k]) | static_cast<unsigned char>(b[k])) >= 0x80) {
                ascii = false;
                break;
            }
            if (upperAsciiChar(a[k]) != upperAsciiChar(b[k])) return false;
        }
        if (ascii) return true;
    }
    return compareNames(a, b) == 0;
}

namespace detail {

std::string nameKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    bool ascii = true;
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        key += upperAsciiChar(c);
    }
    if (ascii) return key;
    // Folded characters, four bytes each, behind a byte no ASCII name holds: no
    // non-ASCII character folds to an ASCII one, so the two kinds never meet.
    key.assign(1, '\xff');
    for (size_t i = 0; i < name.size();) {
        const char32_t c = foldUpper(nextCodePoint(name, i));
        for (int shift = 24; shift >= 0; shift -= 8)
            key += static_cast<char>((c >> shift) & 0xFF);
    }
    return key;
}

NameMask::NameMask(std::string_view mask) {
    const bool wild = std::any_of(mask.begin(), mask.end(), isWildcard);
    if (!wild && (mask.empty() || mask.back() != '.')) {
        kind_ = Kind::Literal;
        text_ = mask;
        return;
    }
    if (mask == "*" || mask == "*.*") {
        kind_ = Kind::All;
        return;
    }
    // "*" and a literal tail that does not end in a dot: whatever "*" turns into,
    // the mask matches exactly the names ending in that tail.
    const std::string_view tail = mask.substr(1);
    if (mask.front() == '*' && !tail.empty() && tail.back() != '.' &&
        std::none_of(tail.begin(), tail.end(), isWildcard) &&
        std::all_of(tail.begin(), tail.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        kind_ = Kind::Suffix;
        for (char c : tail)
            text_ += upperAsciiChar(c);
        return;
    }
    // Translate as Windows does before matching: "*" followed by "." becomes
    // DOS_STAR, "?" becomes DOS_QM, "." followed by a wildcard or ending the mask
    // becomes DOS_DOT. The DOS codes themselves ("<", ">", '"') keep their meaning.
    kind_ = Kind::General;
    for (size_t i = 0; i < mask.size();) {
        const char32_t c = nextCodePoint(mask, i);
        switch (c) {
            case '?':
            case '>':
                if (!expr_.empty() && expr_.back() == '.') expr_.back() = kDosDot;
                expr_.push_back(kDosQm);
                break;
            case '*':
                if (!expr_.empty() && expr_.back() == '.') expr_.back() = kDosDot;
                expr_.push_back(kStar);
                break;
            case '.':
                if (!expr_.empty() && expr_.back() == kStar) expr_.back() = kDosStar;
                expr_.push_back('.');
                break;
            case '<':
                expr_.push_back(kDosStar);
                break;
            case '"':
                expr_.push_back(kDosDot);
                break;
            default:
                expr_.push_back(foldUpper(c));
        }
    }
    if (!expr_.empty() && expr_.back() == '.') expr_.back() = kDosDot;
}

bool NameMask::matches(std::string_view name) const {
    switch (kind_) {
        case Kind::All:
            return true;
        case Kind::Literal:
            return sameName(name, text_);
        case Kind::Suffix: {
            if (name.size() < text_.size()) return false;
            const std::string_view end = name.substr(name.size() - text_.size());
            for (size_t k = 0; k < end.size(); ++k)
                if (upperAsciiChar(end[k]) != text_[k]) return false;
            return true;
        }
        case Kind::General:
            break;
    }
    thread_local std::vector<char32_t> folded;
    foldInto(name, folded);
    return Matcher(expr_, folded).run();
}

}  // namespace detail

bool matchesMask(std::string_view name, std::string_view mask) {
    return detail::NameMask(mask).matches(name);
}

}  // namespace qb::platform
