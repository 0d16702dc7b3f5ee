#include "support/text_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

TEST(IntToText, WritesDecimalAcrossWholeRange) {
    struct Case {
        int64_t value;
        std::u16string text;
    };
    const Case cases[] = {
        {0, u"0"},
        {7, u"7"},
        {-1, u"-1"},
        {10, u"10"},
        {-100, u"-100"},
        {4294967295LL, u"4294967295"},
        {-2147483648LL, u"-2147483648"},
        {INT64_MAX, u"9223372036854775807"},
        {INT64_MIN, u"-9223372036854775808"},
    };
    for (const Case& c : cases) EXPECT_EQ(IntToText(c.value), c.text) << c.value;
}

TEST(TextToInt, FollowsNumberGrammar) {
    struct Case {
        std::u16string text;
        int64_t value;
    };
    const Case cases[] = {
        {u"", 0},
        {u"  42", 42},
        {u"\t\t 42", 42},
        {u"42%", 42},
        {u"-7x", -7},
        {u"+8", 8},
        {u"$1F", 31},
        {u"$1f", 31},
        {u"-$ff", -255},
        {u"$FFFFFFFFFFFFFFFF", -1},
        {u"%101", 5},
        {u"%102", 2},
        {u"$", 0},
        {u"$G1", 0},
        {u"%", 0},
        {u"+-3", 0},
        {u"- 3", 0},
        {u"$ 1", 0},
        {u"12 34", 12},
        {u"007", 7},
        {u"x12", 0},
        {u"9223372036854775807", INT64_MAX},
        {u"9223372036854775808", INT64_MIN},
        {u"-9223372036854775808", INT64_MIN},
        {u"18446744073709551617", 1},  // 2^64 + 1 wraps to 1
        {u"\uFF11", 0},                // full-width digit one is not a digit
    };
    for (const Case& c : cases) EXPECT_EQ(TextToInt(c.text), c.value) << Narrow(c.text);
}

TEST(TextToInt, ReadsBackEveryIntToTextResult) {
    const int64_t values[] = {0, 1, -1, 123456789, -2147483648LL, INT64_MAX, INT64_MIN};
    for (int64_t v : values) EXPECT_EQ(TextToInt(IntToText(v)), v);
}

TEST(TruncateToInt, TruncatesTowardZeroThenKeepsLow32Bits) {
    struct Case {
        double value;
        int32_t result;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0.0, 0},
        {99.9, 99},
        {-0.5, 0},
        {-99.9, -99},
        {2147483647.0, 2147483647},
        {2147483648.0, INT32_MIN},  // low 32 bits of 2^31
        {4294967296.0 + 5.0, 5},    // 2^32 + 5
        {-4294967296.0 - 5.0, -5},
        {9223372036854774784.0, -1024},  // largest double below 2^63 is 2^63 - 1024
        {9223372036854775808.0, -1},     // 2^63 saturates to INT64_MAX
        {1e300, -1},
        {inf, -1},
        {-9223372036854775808.0, 0},  // exactly INT64_MIN
        {-1e300, 0},
        {-inf, 0},
        {std::nan(""), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(TruncateToInt(c.value), c.result) << c.value;
}

TEST(TrimSpaces, RemovesOnlySpacesAtEnds) {
    struct Case {
        std::u16string text;
        std::u16string trimmed;
    };
    const Case cases[] = {
        {u"", u""},
        {u"   ", u""},
        {u"abc", u"abc"},
        {u"  a b  ", u"a b"},
        {u"\tabc\r", u"\tabc\r"},
        {u" \tabc\r ", u"\tabc\r"},
        {u"\n", u"\n"},
        {u"\u00A0x\u00A0", u"\u00A0x\u00A0"},  // no-break space is not a space here
    };
    for (const Case& c : cases) EXPECT_EQ(TrimSpaces(c.text), c.trimmed) << Narrow(c.text);
}

TEST(TextEquals, ComparesCodeUnitsExactly) {
    EXPECT_EQ(TextEquals(u"", u""), 1);
    EXPECT_EQ(TextEquals(u"clip.avi", u"clip.avi"), 1);
    EXPECT_EQ(TextEquals(u"clip.avi", u"Clip.avi"), 0);
    EXPECT_EQ(TextEquals(u"clip", u"clip "), 0);
    EXPECT_EQ(TextEquals(u"", u" "), 0);
    // Precomposed e-acute and e plus combining accent look alike but differ.
    EXPECT_EQ(TextEquals(u"\u00E9", u"e\u0301"), 0);
    EXPECT_EQ(TextEquals(std::u16string(u"a\0b", 3), std::u16string(u"a\0c", 3)), 0);
}

TEST(ReplaceAll, ReplacesEveryOccurrenceLeftToRight) {
    struct Case {
        std::u16string text, find, replacement, result;
    };
    const Case cases[] = {
        {u"clip.avi", u".", u"2.", u"clip2.avi"},
        {u"my.clip.avi", u".", u"2.", u"my2.clip2.avi"},
        {u"aaa", u"aa", u"b", u"ba"},
        {u"aaaa", u"aa", u"b", u"bb"},
        {u"abc", u"A", u"x", u"abc"},
        {u"ABC", u"A", u"x", u"xBC"},
        {u"abc", u"", u"x", u"abc"},
        {u"", u"a", u"x", u""},
        {u"a.b", u".", u"", u"ab"},
        {u"aba", u"a", u"aa", u"aabaa"},  // replacement is never rescanned
        {u"abab", u"abab", u"", u""},
        {u"abc", u"abcd", u"x", u"abc"},
        {u"...", u".", u"..", u"......"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplaceAll(c.text, c.find, c.replacement), c.result)
            << Narrow(c.text) << " / " << Narrow(c.find) << " -> " << Narrow(c.replacement);
    }
}

TEST(PathParts, SplitIntoDirectoryAndFileName) {
    struct Case {
        std::u16string path, directory, file;
    };
    const Case cases[] = {
        {u"C:\\v\\clip.avi", u"C:\\v\\", u"clip.avi"},
        {u"C:/v/clip.avi", u"C:/v/", u"clip.avi"},
        {u"/home/u/clip.avi", u"/home/u/", u"clip.avi"},
        {u"clip.avi", u"", u"clip.avi"},
        {u"C:\\v\\", u"C:\\v\\", u""},
        {u"\"C:\\v\\clip.avi\"", u"C:\\v\\", u"clip.avi"},
        {u"\"clip.avi\"", u"", u"clip.avi"},
        {u"a|b\\c", u"", u"c"},
        {u"a\\b|c\\d", u"a\\", u"d"},
        {u"/", u"/", u""},
        {u"", u"", u""},
        {u"\"", u"", u""},
        {u"\"/x\"", u"/", u"x"},
        {u"a/b\\c/d.avi", u"a/b\\c/", u"d.avi"},
        {u"dir/na\"me", u"dir/", u"na"},  // a quote ends the file name
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DirectoryPart(c.path), c.directory) << Narrow(c.path);
        EXPECT_EQ(FilePart(c.path), c.file) << Narrow(c.path);
    }
}

TEST(PathParts, NameCompressedCopyBesideDestination) {
    const std::u16string destination = u"/videos/my.clip.avi";
    EXPECT_EQ(DirectoryPart(destination) + ReplaceAll(FilePart(destination), u".", u"2."),
              u"/videos/my2.clip2.avi");
}

}  // namespace
