#include "support/unicode_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UnicodeText, RoundTripsEveryUtf8Length) {
    // One, two, three and four bytes: 'A', e-acute, euro sign, and U+1F600 as a surrogate pair.
    const std::u16string text = u"A\u00E9\u20AC\U0001F600";
    const std::string bytes = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(ToUtf8(text), bytes);
    EXPECT_EQ(FromUtf8(bytes), text);
    ASSERT_EQ(FromUtf8(bytes).size(), 5u);
    EXPECT_EQ(FromUtf8(bytes)[3], 0xD83D);
    EXPECT_EQ(FromUtf8(bytes)[4], 0xDE00);
}

TEST(UnicodeText, UnpairedSurrogatesBecomeReplacementCharacter) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), replacement);
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xDC00))), replacement);
    // A high surrogate followed by an ordinary character: both survive, the surrogate replaced.
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xD83D), u'x'}), replacement + "x");
    // Low before high is no pair.
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}),
              replacement + replacement);
}

TEST(UnicodeText, InvalidUtf8BecomesReplacementCharacter) {
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"stray continuation byte",
         "a\x80"
         "b",
         u"a\uFFFDb"},
        {"invalid lead byte", "\xFF", u"\uFFFD"},
        {"truncated at end", "a\xE2\x82", u"a\uFFFD"},
        {"truncated before ASCII",
         "\xE2\x82"
         "b",
         u"\uFFFDb"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD"},
        {"overlong three-byte NUL", "\xE0\x80\x80", u"\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
        {"largest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"embedded NUL kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FromUtf8(c.bytes), c.expected) << c.name;
    }
}

}  // namespace
