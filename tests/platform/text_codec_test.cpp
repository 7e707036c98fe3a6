#include "platform/text_codec.h"

#include <gtest/gtest.h>

namespace qb::platform {
namespace {

TEST(TextCodec, Utf16SurrogatesAndBrokenUtf8) {
    // U+1F30E: a surrogate pair in UTF-16, four bytes in UTF-8, both ways.
    const std::string globe = "\xF0\x9F\x8C\x8E";
    EXPECT_EQ(utf8ToUtf16(globe), (std::u16string{0xD83C, 0xDF0E}));
    EXPECT_EQ(utf16ToUtf8(std::u16string{0xD83C, 0xDF0E}), globe);
    // Lone and reversed surrogates survive the trip through UTF-8.
    const std::u16string lone{u'a', 0xDF0E, 0xD83C, u'b', 0xD800};
    EXPECT_EQ(utf8ToUtf16(utf16ToUtf8(lone)), lone);
    EXPECT_EQ(exactUtf8ToUtf16(utf16ToUtf8(lone)), lone);
    EXPECT_FALSE(isValidUtf8(utf16ToUtf8(lone)));

    // Registry bytes: little-endian, read up to the first NUL, an odd byte ignored.
    EXPECT_EQ(utf8ToUtf16Bytes("\xC3\xA9"
                               "A"),
              (std::vector<uint8_t>{0xE9, 0, 'A', 0, 0, 0}));
    EXPECT_EQ(utf16BytesToUtf8(std::vector<uint8_t>{'o', 0, 'k', 0, 0, 0, 'x', 0}), "ok");
    EXPECT_EQ(unitsFromUtf16Le(std::vector<uint8_t>{0x3C, 0xD8, 0x0E}), u"\xD83C");

    // Bytes that are no UTF-8 stand for Latin-1 characters, one each, and take
    // nothing that follows them; the exact conversion refuses them.
    for (const std::string bad :
         {"\xC3"
          "A",
          "\xC0\x81", "\xE0\x80\x81", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xE2\x82"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(isValidUtf8(bad));
        EXPECT_FALSE(exactUtf8ToUtf16(bad));
        const std::u16string units = utf8ToUtf16(bad);
        ASSERT_EQ(units.size(), bad.size());
        for (size_t i = 0; i < bad.size(); ++i)
            EXPECT_EQ(units[i], static_cast<unsigned char>(bad[i]));
    }
    EXPECT_TRUE(isValidUtf8("plain \xC3\xA9 \xE2\x82\xAC " + globe));
}

TEST(TextCodec, Windows1252BothWays) {
    // Euro sign, a curly quote, and the unassigned 0x81 kept as U+0081.
    const std::string ansi = "\x80\x93\x81\xE9";
    const std::string utf8 = "\xE2\x82\xAC\xE2\x80\x9C\xC2\x81\xC3\xA9";
    EXPECT_EQ(windows1252ToUtf8(ansi), utf8);
    EXPECT_EQ(utf8ToWindows1252(utf8), ansi);
    // What the code page cannot hold becomes one "?" per character, a C1
    // control that is no unassigned byte included.
    EXPECT_EQ(utf8ToWindows1252("a\xE4\xB8\xAD"
                                "b\xF0\x9F\x8C\x8E"
                                "c\xC2\x85"),
              "a?b?c?");
    // A broken sequence does not swallow the character after it.
    EXPECT_EQ(utf8ToWindows1252("\xC3"
                                "A"),
              "\xC3"
              "A");
    EXPECT_EQ(latin1ToUtf8("\x80\xFF"), "\xC2\x80\xC3\xBF");
}

}  // namespace
}  // namespace qb::platform
