// The hive text format: parsing, Wine-exact writing, order of keys, malformed files.
#include <gtest/gtest.h>

#include "platform/hive.h"
#include "platform/registry.h"
#include "registry_test_support.h"

namespace qb::platform::hive {
namespace {

using test::keyOrder;
using test::readHostFile;

const char* const kFixtures[] = {"system.reg", "user.reg", "userdef.reg"};

std::string fixtureText(const std::string& name) {
    return readHostFile(test::FixturePrefix::original(name));
}

void forEachKey(Key& key, const std::function<void(Key&)>& f) {
    f(key);
    for (auto& sub : key.subkeys)
        forEachKey(*sub, f);
}

std::vector<uint8_t> utf16(std::u16string_view s, bool terminate = true) {
    std::vector<uint8_t> out;
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminate) out.insert(out.end(), {0, 0});
    return out;
}

const char* const kHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";

TEST(HiveText, FixturesRoundTripByteForByte) {
    for (const char* name : kFixtures) {
        const std::string text = fixtureText(name);
        auto hive = Hive::parse(text, name);
        EXPECT_TRUE(hive->serialize() == text) << name << " is not written back as it was";
    }
}

TEST(HiveText, RewritingEveryKeyReproducesWinesOwnText) {
    // Every section written anew from the parsed keys and values must come out as
    // Wine wrote it: key order, escapes, value kinds, hex line wrapping, times.
    for (const char* name : kFixtures) {
        const std::string text = fixtureText(name);
        auto hive = Hive::parse(text, name);
        size_t keys = 0;
        forEachKey(hive->root(), [&](Key& k) {
            k.changed = true;
            ++keys;
            for (Value& v : k.values)
                v.srcBegin = v.srcEnd = 0;
        });
        EXPECT_GT(keys, 3u);
        const std::string out = hive->serialize();
        if (out != text) {
            size_t at = 0;
            while (at < out.size() && at < text.size() && out[at] == text[at])
                ++at;
            ADD_FAILURE() << name << " differs at byte " << at << ":\n"
                          << text.substr(at > 200 ? at - 200 : 0, 400) << "\n---- written:\n"
                          << out.substr(at > 200 ? at - 200 : 0, 400);
        }
    }
}

TEST(HiveText, ParsesEscapesAndEveryKindOfValue) {
    const std::string text = std::string(kHeader) +
                             "\n[A\\\\B] 1796676580\n"
                             "#time=1dd868c7a8a0cf2\n"
                             "@=\"default\"\n"
                             "\"esc\"=\"q\\\"b\\\\s\\n\\t\\r\\a\\e\\x41\\xe9-\\x00e9f\\101\\0z\"\n"
                             "\"n\\\"ame\"=dword:0000002a\n"
                             "\"bin\"=hex:01,ff,\\\n  10\n"
                             "\"exp\"=str(2):\"%SystemRoot%\"\n"
                             "\"multi\"=str(7):\"a\\0b\\0\"\n"
                             "\"prop\"=hex(ffff0007):aa\n"
                             "\"q\"=hex(b):01,00,00,00,00,00,00,80\n"
                             "\"empty\"=hex:\n"
                             "\"surrogates\"=\"\\xd83c\\xdf0e\"\n";
    auto hive = Hive::parse(text, "t.reg");
    Key* key = Hive::find(hive->root(), {"a", "b"});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->name, "B");
    ASSERT_EQ(key->values.size(), 10u);
    EXPECT_EQ(key->values[0].name, "");
    EXPECT_EQ(key->values[0].data, utf16(u"default"));
    const char16_t expected[] =
        u"q\"b\\s\n\t\r\a\x1b"
        u"A\u00e9-\u00e9fA\0z";
    EXPECT_EQ(key->values[1].data, utf16(std::u16string_view(expected, std::size(expected) - 1)));
    EXPECT_EQ(key->values[2].name, "n\"ame");
    EXPECT_EQ(key->values[2].type, 4u);
    EXPECT_EQ(key->values[2].data, (std::vector<uint8_t>{0x2a, 0, 0, 0}));
    EXPECT_EQ(key->values[3].type, 3u);
    EXPECT_EQ(key->values[3].data, (std::vector<uint8_t>{0x01, 0xff, 0x10}));
    EXPECT_EQ(key->values[4].type, 2u);
    EXPECT_EQ(key->values[5].type, 7u);
    EXPECT_EQ(key->values[5].data, utf16(std::u16string(u"a\0b\0", 4)));
    EXPECT_EQ(key->values[6].type, 0xffff0007u);
    EXPECT_EQ(key->values[6].data, (std::vector<uint8_t>{0xaa}));
    EXPECT_EQ(key->values[7].type, 11u);
    EXPECT_TRUE(key->values[8].data.empty());
    EXPECT_EQ(key->values[9].data, utf16(u"\U0001F30E"));
    EXPECT_EQ(key->modified, 0x1dd868c7a8a0cf2u);
    // Unchanged, the text comes back as it was.
    EXPECT_EQ(hive->serialize(), text);
}

TEST(HiveText, ValuesAreWrittenInWinesFormat) {
    auto text = [](uint32_t type, std::vector<uint8_t> data, std::string name = "v") {
        Value v;
        v.name = std::move(name);
        v.type = type;
        v.data = std::move(data);
        std::string out;
        appendValue(out, v);
        return out;
    };
    EXPECT_EQ(text(1, utf16(u"C:\\a \"b\"\n\u00e9\u00e91x")),
              "\"v\"=\"C:\\\\a \\\"b\\\"\\n\\xe9\\x00e91x\"\n");
    EXPECT_EQ(text(2, utf16(u"%x%"), ""), "@=str(2):\"%x%\"\n");
    EXPECT_EQ(text(7, utf16(std::u16string(u"a\0"
                                           u"7\0",
                                           4))),
              "\"v\"=str(7):\"a\\0007\\0\"\n");
    EXPECT_EQ(text(1, utf16(u"ab", false)), "\"v\"=hex(1):61,00,62,00\n");  // no terminator
    EXPECT_EQ(text(4, {1, 2, 3, 4}), "\"v\"=dword:04030201\n");
    EXPECT_EQ(text(4, {1, 2}), "\"v\"=hex(4):01,02\n");
    EXPECT_EQ(text(0, {}), "\"v\"=hex(0):\n");
    // Binary data wraps after column 76 and continues indented by two blanks.
    const std::string wrapped = text(3, std::vector<uint8_t>(30, 0xab), "Long Name");
    EXPECT_EQ(
        wrapped,
        "\"Long Name\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\n"
        "  ab,ab,ab,ab,ab,ab,ab,ab,ab\n");
}

TEST(HiveText, NewKeysGoWhereWineSortsThem) {
    auto hive = Hive::parse(fixtureText("system.reg"), "system.reg");
    Key& classes = *Hive::find(hive->root(), {"Software", "Classes"});
    Hive::find(classes, {"ADODB.Command"});
    Key& zz = hive->create(classes, {"ADODB.Command", "zz"});
    hive->setValue(zz, "", 1, utf16(u"x"));
    hive->create(classes, {"_quillbox"});
    hive->create(hive->root(), {"Software", "Quillbox", "Deep", "Leaf"});
    const std::string out = hive->serialize();
    const std::vector<std::string> order = keyOrder(out);

    auto at = [&](const std::string& key) {
        return std::find(order.begin(), order.end(), key) - order.begin();
    };
    // A key's subtree comes before keys whose names merely extend its name
    // (a walk of the tree, not a sort of the whole path text).
    EXPECT_EQ(at("[Software\\\\Classes\\\\ADODB.Command\\\\zz]"),
              at("[Software\\\\Classes\\\\ADODB.Command\\\\CurVer]") + 1);
    EXPECT_EQ(at("[Software\\\\Classes\\\\ADODB.Command.6.0]"),
              at("[Software\\\\Classes\\\\ADODB.Command\\\\zz]") + 1);
    // Names compare lower-cased: "_" sorts before letters.
    const auto underscore = at("[Software\\\\Classes\\\\_quillbox]");
    EXPECT_LT(underscore, static_cast<ptrdiff_t>(order.size()));
    EXPECT_LT(underscore, at("[Software\\\\Classes\\\\ADODB.Command]"));
    EXPECT_GT(underscore, at("[Software\\\\Classes\\\\.wri]"));
    // Keys that hold only subkeys are not written, as Wine leaves them out.
    EXPECT_EQ(at("[Software\\\\Quillbox]"), static_cast<ptrdiff_t>(order.size()));
    EXPECT_LT(at("[Software\\\\Quillbox\\\\Deep\\\\Leaf]"), static_cast<ptrdiff_t>(order.size()));
    // The whole file stays in Wine's order.
    auto parts = [](const std::string& line) {
        std::vector<std::string> names;
        std::string p = line.substr(1, line.size() - 2);
        size_t start = 0, sep;
        while ((sep = p.find("\\\\", start)) != std::string::npos) {
            names.push_back(p.substr(start, sep - start));
            start = sep + 2;
        }
        names.push_back(p.substr(start));
        return names;
    };
    for (size_t i = 1; i < order.size(); ++i) {
        const auto a = parts(order[i - 1]), b = parts(order[i]);
        const bool less = std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](const std::string& x, const std::string& y) { return compareNames(x, y) < 0; });
        ASSERT_TRUE(less) << order[i - 1] << " before " << order[i];
    }
}

TEST(HiveText, AChangedKeyKeepsItsOptionsCommentsAndUntouchedValueText) {
    const std::string text = std::string(kHeader) +
                             "\n[K] 1796676580\n"
                             "#time=1dd868c7a8a0cf2\n"
                             "#class=\"cls\"\n"
                             "#somefutureoption=1\n"
                             "; a comment\n"
                             "\"keep\"=hex:1,2\n"  // not as Wine would write it
                             "\"change\"=dword:00000001\n"
                             "\n[L] 1796676580\n"
                             "#time=1dd868c7a8a0cf2\n"
                             "\"x\"=\"y\"\n";
    auto hive = Hive::parse(text, "t.reg");
    Key& k = *Hive::find(hive->root(), {"K"});
    hive->setValue(k, "change", 4, {2, 0, 0, 0});
    hive->setValue(k, "added", 1, utf16(u"new"));
    const std::string out = hive->serialize();
    const auto secs = test::sections(out);
    const std::string& ks = secs.at("[K]");
    EXPECT_NE(ks.find("#class=\"cls\"\n#somefutureoption=1\n; a comment\n\"keep\"=hex:1,2\n"
                      "\"change\"=dword:00000002\n\"added\"=\"new\"\n"),
              std::string::npos)
        << ks;
    EXPECT_EQ(ks.find("1dd868c7a8a0cf2"), std::string::npos) << "time not renewed: " << ks;
    EXPECT_EQ(secs.at("[L]"), test::sections(text).at("[L]"));
    // Setting a value to what it holds changes nothing.
    auto again = Hive::parse(text, "t.reg");
    again->setValue(*Hive::find(again->root(), {"L"}), "X", 1, utf16(u"y"));
    EXPECT_FALSE(again->dirty());
    EXPECT_EQ(again->serialize(), text);
}

TEST(HiveText, MalformedFilesNameTheFileAndLine) {
    struct Case {
        std::string body;  // after the header (5 lines)
        int line;
        std::string what;
    };
    const std::vector<Case> cases = {
        {"\n[A\\\\B 123\n", 6, "unterminated key name"},
        {"\n[A] 1\n\"v\"=hex:01,0g\n", 7, "bad hex data"},
        {"\n[A] 1\n\"v\"=hex:01,123\n", 7, "bad hex byte"},
        {"\n[A] 1\n\"v\"=hex:01,\\\n  02,\\\n  zz\n", 9, "bad hex data"},
        {"\n[A] 1\n\"v\"=hex:01,\\\n", 7, "past the end"},
        {"\n[A] 1\n\"v\"=\"a\\qb\"\n", 7, "bad escape \\q"},
        {"\n[A] 1\n\"v\"=\"a\\x\"\n", 7, "bad escape \\x"},
        {"\n[A] 1\n\"v\"=\"abc\n", 7, "unterminated string value"},
        {"\n[A] 1\n\"v=\"abc\"\n", 7, "missing '='"},
        {"\n[A] 1\n\"v\"=dword:xyz\n", 7, "bad dword"},
        {"\n[A] 1\n\"v\"=dword:123456789\n", 7, "bad dword"},
        {"\n[A] 1\n\"v\"=word:1\n", 7, "unknown kind of value data"},
        {"\n[A] 1\n\"v\"=hex(zz):01\n", 7, "bad value type"},
        {"\n\"v\"=\"x\"\n", 6, "a value before the first key"},
        {"\n[A] 1\n\n[a] 2\n", 8, "appears a second time"},
    };
    for (const Case& c : cases) {
        try {
            Hive::parse(std::string(kHeader) + c.body, "/p/system.reg");
            ADD_FAILURE() << "accepted: " << c.body;
        } catch (const RegistryError& e) {
            const std::string msg = e.what();
            EXPECT_NE(msg.find("/p/system.reg, line " + std::to_string(c.line) + ":"),
                      std::string::npos)
                << msg;
            EXPECT_NE(msg.find(c.what), std::string::npos) << msg;
        }
    }
    try {
        Hive::parse("REGEDIT4\n\n[HKEY_CURRENT_USER\\x]\n", "/p/user.reg");
        ADD_FAILURE() << "accepted a file that is not Wine's";
    } catch (const RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find("/p/user.reg, line 1: not a Wine registry file"),
                  std::string::npos)
            << e.what();
    }
}

}  // namespace
}  // namespace qb::platform::hive
