// Compares, client by client, the data of demo machine A with what the
// restores put on demo machine B: the files of each client's folders by
// relative name and content, and its registry values, with the places and
// paths each client's restore moves to the second machine mapped. Prints per
// client the backup file, its size, the files and registry values compared on
// B, and "equal" or the differences; exits with 1 on any difference.
//
//   qb_demo_check PREFIX_A USER_A PREFIX_B USER_B BACKUP_FOLDER
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "catalog/mozilla_profiles.h"
#include "demo/demo_check.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "testkit/testkit.h"

namespace fs = std::filesystem;
using namespace qb::demo;
using qb::platform::Registry;
using qb::platform::RootKey;
using qb::platform::ValueType;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Case-insensitive wildcard match; "*" matches any run of characters,
// backslashes included.
bool matches(std::string_view pattern, std::string_view text) {
    size_t p = 0, t = 0, star = std::string::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                             std::tolower(static_cast<unsigned char>(text[t]))) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool wanted(const Tree& tree, const std::string& rel) {
    if (!tree.only.empty() && std::none_of(tree.only.begin(), tree.only.end(),
                                           [&](const std::string& p) { return matches(p, rel); }))
        return false;
    return std::none_of(tree.skip.begin(), tree.skip.end(),
                        [&](const std::string& p) { return matches(p, rel); });
}

// Replaces every occurrence of each `from` (ignoring case) by its `to`.
std::string mapPaths(std::string text, const std::vector<PathMap>& maps) {
    for (const PathMap& m : maps) {
        if (m.from.empty()) continue;
        const std::string from = lower(m.from);
        std::string low = lower(text);
        size_t at = 0;
        while ((at = low.find(from, at)) != std::string::npos) {
            text.replace(at, m.from.size(), m.to);
            low.replace(at, m.from.size(), lower(m.to));
            at += m.to.size();
        }
    }
    return text;
}

// A profile registry compares by the profile folders it names: a restore
// rewrites them for the new machine, and a longer path is appended rather than
// written over the old one, so the bytes differ where the meaning is the same.
std::string profileList(const std::string& bytes) {
    std::vector<std::string> paths =
        qb::ScanMozillaRegistry({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    std::sort(paths.begin(), paths.end());
    std::string list;
    for (const std::string& p : paths)
        list += p + "\n";
    return list;
}

// What one side holds of a client: entries by a key that names the check, the
// relative name or the value's key path and name.
struct Side {
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> values;
    std::map<std::string, std::string> shown;  // entry -> its name as found
};

void readTree(const Tree& tree, const std::string& folder, int index, Side& side) {
    const auto host = qb::platform::hostPath(folder);
    std::error_code ec;
    if (!host || !fs::is_directory(*host, ec)) return;
    const std::string label = "[" + std::to_string(index) + "] ";
    for (auto it = fs::recursive_directory_iterator(*host, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::string rel = fs::relative(it->path(), *host).generic_string();
        std::replace(rel.begin(), rel.end(), '/', '\\');
        if (!tree.recursive && rel.find('\\') != std::string::npos) continue;
        if (!wanted(tree, rel)) continue;
        // Windows names compare without regard to case, as the clients see them.
        std::string content = qb::test::readHostFile(it->path());
        if (lower(it->path().filename().string()) == "registry.dat") content = profileList(content);
        side.files[label + lower(rel)] = std::move(content);
        side.shown[label + lower(rel)] = label + rel;
    }
}

std::string valueText(const qb::platform::RegValue& v) {
    switch (v.type) {
        case ValueType::String:
        case ValueType::ExpandString: {
            std::string s = qb::platform::utf16BytesToUtf8(v.data);
            while (!s.empty() && s.back() == '\0')
                s.pop_back();
            return (v.type == ValueType::String ? "sz:" : "expand_sz:") + s;
        }
        case ValueType::Dword: {
            uint32_t d = 0;
            for (size_t i = 0; i < 4 && i < v.data.size(); ++i)
                d |= uint32_t(v.data[i]) << (8 * i);
            return "dword:" + std::to_string(d);
        }
        default: {
            std::string s = "hex(" + std::to_string(static_cast<uint32_t>(v.type)) + "):";
            static const char* digits = "0123456789abcdef";
            for (uint8_t b : v.data) {
                s += digits[b >> 4];
                s += digits[b & 15];
            }
            return s;
        }
    }
}

void readKey(RootKey root, const std::string& key, const std::string& label, bool subkeys,
             Side& side) {
    std::vector<std::string> children;
    {
        Registry reg(root);
        if (!reg.openKeyReadOnly(key)) return;
        // Registry names compare without regard to case.
        for (const std::string& name : reg.valueNames())
            if (auto v = reg.readValue(name)) {
                const std::string entry = label + " [" + name + "]";
                side.values[lower(entry)] = valueText(*v);
                side.shown[lower(entry)] = entry;
            }
        if (subkeys) children = reg.keyNames();
    }
    for (const std::string& child : children)
        readKey(root, key + "\\" + child, label + "\\" + child, subkeys, side);
}

Side readSide(const ClientCheck& check, bool a) {
    Side side;
    int index = 0;
    for (const Tree& t : check.trees)
        readTree(t, a ? t.a : t.b, ++index, side);
    index = 0;
    for (const Key& k : check.keys) {
        const std::string label = "[" + std::to_string(++index) + "]";
        readKey(k.root, a ? k.a : k.b, label, k.subkeys, side);
    }
    if (a) {
        for (auto& [name, content] : side.files)
            content = mapPaths(content, check.rewrites);
        for (auto& [name, value] : side.values)
            value = mapPaths(value, check.rewrites);
    }
    return side;
}

std::string place(const ClientCheck& check, const std::string& entry, bool file) {
    // "[n] rest": name the folder or key of check n on machine B.
    const size_t close = entry.find(']');
    const size_t n = std::stoul(entry.substr(1, close - 1)) - 1;
    const std::string rest = entry.substr(close + 1);
    if (file) return check.trees[n].b + "\\" + rest.substr(1);
    return check.keys[n].b + rest;
}

std::vector<std::string> compare(const ClientCheck& check, const Side& sa, const Side& sb,
                                 bool file) {
    const auto& a = file ? sa.files : sa.values;
    const auto& b = file ? sb.files : sb.values;
    std::vector<std::string> out;
    const std::string what = file ? "file" : "registry value";
    for (const auto& [name, content] : a) {
        auto it = b.find(name);
        if (it == b.end())
            out.push_back(what + " missing: " + place(check, sa.shown.at(name), file));
        else if (it->second != content)
            out.push_back(what + " differs: " + place(check, sb.shown.at(name), file) +
                          (file ? "" : " (" + it->second + ", expected " + content + ")"));
    }
    for (const auto& [name, content] : b)
        if (!a.contains(name))
            out.push_back(what + " not on A: " + place(check, sb.shown.at(name), file));
    return out;
}

std::string backupFile(const fs::path& folder, const ClientCheck& check) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (!name.starts_with(check.backupPrefix) || name.size() <= check.backupPrefix.size())
            continue;
        if (std::isdigit(static_cast<unsigned char>(name[check.backupPrefix.size()])))
            return e.path().string();
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PREFIX_A USER_A PREFIX_B USER_B BACKUP_FOLDER\n", argv[0]);
        return 2;
    }
    try {
        // The users are named: a restore may leave folders of A's user on B.
        const std::vector<ClientCheck> checks = demoChecks(argv[2], argv[4]);
        std::vector<Side> sidesA, sidesB;
        qb::platform::Machine::use(argv[1]);
        for (const ClientCheck& c : checks)
            sidesA.push_back(readSide(c, true));
        qb::platform::Machine::use(argv[3]);
        for (const ClientCheck& c : checks)
            sidesB.push_back(readSide(c, false));

        std::printf("%-26s %-38s %10s %6s %16s  %s\n", "client", "backup file", "bytes", "files",
                    "registry values", "restored data");
        size_t different = 0;
        for (size_t i = 0; i < checks.size(); ++i) {
            const ClientCheck& c = checks[i];
            const std::string file = backupFile(argv[5], c);
            std::error_code ec;
            const auto size = file.empty() ? 0 : fs::file_size(file, ec);
            std::vector<std::string> diffs = compare(c, sidesA[i], sidesB[i], true);
            for (std::string& d : compare(c, sidesA[i], sidesB[i], false))
                diffs.push_back(std::move(d));
            if (file.empty()) diffs.insert(diffs.begin(), "no backup file");
            if (sidesA[i].files.empty()) diffs.push_back("machine A holds no files of it");
            std::printf("%-26s %-38s %10ju %6zu %16zu  %s\n", c.name.c_str(),
                        file.empty() ? "-" : fs::path(file).filename().string().c_str(),
                        static_cast<uintmax_t>(size), sidesB[i].files.size(),
                        sidesB[i].values.size(), diffs.empty() ? "equal" : "DIFFERENT");
            for (size_t d = 0; d < diffs.size() && d < 12; ++d)
                std::printf("    %s\n", diffs[d].c_str());
            if (diffs.size() > 12) std::printf("    ... %zu more\n", diffs.size() - 12);
            if (!diffs.empty()) ++different;
        }
        if (different == 0)
            std::printf("All %zu restored clients equal their originals.\n", checks.size());
        else
            std::printf("%zu of %zu restored clients differ from their originals.\n", different,
                        checks.size());
        return different == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qb_demo_check: %s\n", e.what());
        return 2;
    }
}
