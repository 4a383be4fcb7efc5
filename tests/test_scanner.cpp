// Scanner primitives: white space, names, characters and entity references,
// prefix comparison, text reading with and without condensing, and the entity
// table; every byte classified the same way whatever locale the program sets.
#include <clocale>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using TAVARO::VelkBase;

namespace {

// Restores the condensing switch when a test ends.
class CondenseSwitch {
public:
    explicit CondenseSwitch(bool on) : saved_(VelkBase::condenseWhiteSpace) {
        VelkBase::condenseWhiteSpace = on;
    }
    ~CondenseSwitch() { VelkBase::condenseWhiteSpace = saved_; }

private:
    bool saved_;
};

TEST(SkipWhiteSpace, NullAndEmptyGiveNull) {
    EXPECT_EQ(VelkBase::SkipWhiteSpace(nullptr), nullptr);
    EXPECT_EQ(VelkBase::SkipWhiteSpace(""), nullptr);
}

TEST(SkipWhiteSpace, WhiteSpaceOnlyGivesTheEnd) {
    const char* text = "   ";
    EXPECT_EQ(VelkBase::SkipWhiteSpace(text), text + 3);
}

TEST(SkipWhiteSpace, StopsAtTheFirstOtherCharacter) {
    const char* text = "\t\r\n\v\f a";
    EXPECT_EQ(VelkBase::SkipWhiteSpace(text), text + 6);
    const char* none = "a ";
    EXPECT_EQ(VelkBase::SkipWhiteSpace(none), none);
}

TEST(IsWhiteSpace, TheSixAsciiSpacesOnly) {
    for (int c = -1; c < 256; ++c) {
        const bool expected = c == ' ' || (c >= 9 && c <= 13);
        EXPECT_EQ(VelkBase::IsWhiteSpace(c), expected) << c;
    }
}

struct NameCase {
    const char* input;
    const char* name;  // null: no name starts here
    size_t length;     // characters consumed
};

class ReadNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(ReadNameTest, ReadsTheName) {
    const NameCase& c = GetParam();
    std::string name = "old";
    const char* end = VelkBase::ReadName(c.input, &name);
    if (!c.name) {
        EXPECT_EQ(end, nullptr);
        EXPECT_EQ(name, "");
    } else {
        EXPECT_EQ(end, c.input + c.length);
        EXPECT_EQ(name, c.name);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ReadNameTest,
                         testing::Values(NameCase{"_a-b.c:d=1", "_a-b.c:d", 8},
                                         NameCase{"abc", "abc", 3}, NameCase{"x1 y", "x1", 2},
                                         NameCase{"Z>", "Z", 1}, NameCase{"1abc", nullptr, 0},
                                         NameCase{"-x", nullptr, 0}, NameCase{":x", nullptr, 0},
                                         NameCase{".x", nullptr, 0}, NameCase{" a", nullptr, 0},
                                         NameCase{"", nullptr, 0}, NameCase{"a\xE9z", "a", 1},
                                         NameCase{"\xC3\xA9t\xC3\xA9", nullptr, 0}));

struct CharCase {
    const char* input;
    char value;
    size_t advance;
};

class GetCharTest : public testing::TestWithParam<CharCase> {};

TEST_P(GetCharTest, DecodesOneCharacter) {
    const CharCase& c = GetParam();
    char value = 0;
    EXPECT_EQ(VelkBase::GetChar(c.input, &value), c.input + c.advance) << c.input;
    EXPECT_EQ(value, c.value) << c.input;
}

INSTANTIATE_TEST_SUITE_P(Entities, GetCharTest,
                         testing::Values(CharCase{"x", 'x', 1}, CharCase{"&lt;", '<', 4},
                                         CharCase{"&gt;x", '>', 4}, CharCase{"&amp;", '&', 5},
                                         CharCase{"&quot;", '"', 6}, CharCase{"&apos;", '\'', 6},
                                         CharCase{"&AMP;", '&', 1}, CharCase{"&amp", '&', 1},
                                         CharCase{"&#x41;", 'A', 6}, CharCase{"&#x9;", '\t', 5},
                                         CharCase{"&#xff;", '\xff', 6},
                                         CharCase{"&#xFF;", '\xff', 6},
                                         CharCase{"&#xg;", '\x10', 5},
                                         CharCase{"&#xzz;", static_cast<char>(35 * 16 + 35), 6},
                                         CharCase{"&#x123;", '&', 1}, CharCase{"&#65;", '&', 1},
                                         CharCase{"&#X41;", '&', 1}, CharCase{"&#x4", '&', 1},
                                         CharCase{"&#x", '&', 1}, CharCase{"&", '&', 1},
                                         // a byte above 0x7F is no letter: its value is byte - '0'
                                         CharCase{"&#x\xE9;", static_cast<char>(0xE9 - '0'), 5}));

TEST(EntityTable, FiveRowsInTheFixedOrder) {
    const char* strs[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    const char chrs[] = {'&', '<', '>', '"', '\''};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(VelkBase::entity[i].str, strs[i]);
        EXPECT_EQ(VelkBase::entity[i].strLength, std::strlen(strs[i]));
        EXPECT_EQ(VelkBase::entity[i].chr, chrs[i]);
    }
}

struct EqualCase {
    const char* text;
    const char* tag;
    bool caseSensitive;
    bool expected;
};

class StringEqualTest : public testing::TestWithParam<EqualCase> {};

TEST_P(StringEqualTest, IsAPrefixTest) {
    const EqualCase& c = GetParam();
    EXPECT_EQ(VelkBase::StringEqual(c.text, c.tag, c.caseSensitive), c.expected)
        << c.text << " / " << c.tag;
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, StringEqualTest,
    testing::Values(EqualCase{"<?XML", "<?xml", true, false},
                    EqualCase{"<?XML", "<?xml", false, true},
                    EqualCase{"<!---x", "<!--", false, true}, EqualCase{"ab", "abc", false, false},
                    EqualCase{"abc", "", false, false}, EqualCase{"", "a", false, false},
                    EqualCase{"Version", "version", true, false},
                    EqualCase{"</A>", "</a>", false, true}, EqualCase{"\xC9", "\xE9", false, false},
                    EqualCase{"versionx", "version", true, true}));

struct TextCase {
    const char* name;
    const char* input;
    bool trim;
    bool condense;
    const char* endTag;
    const char* text;
    size_t consumed;  // the returned position, counted from the input
};

std::ostream& operator<<(std::ostream& os, const TextCase& c) {
    return os << c.name;
}

class ReadTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(ReadTextTest, ReadsUpToTheMarker) {
    const TextCase& c = GetParam();
    CondenseSwitch condense(c.condense);
    std::string text = "old";
    const char* end = VelkBase::ReadText(c.input, &text, c.trim, c.endTag, false);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(end, c.input + c.consumed);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Texts, ReadTextTest, testing::Values(
    TextCase{"Condensed", "  one \r\n\t two   <", true, true, "<", "one two", 17},
    TextCase{"CondensingOffKeepsAll", "  one \r\n\t two   <", true, false, "<",
             "  one \r\n\t two   ", 17},
    TextCase{"TrimOffIgnoresTheSwitch", " a  b <", false, true, "<", " a  b ", 7},
    TextCase{"CommentBody", " a &lt; b -->x", false, true, "-->", " a < b ", 13},
    TextCase{"MarkerNeverComes", "abc &amp; d", false, true, "-->", "abc & d", 11},
    TextCase{"MarkerAtOnce", "-->rest", false, true, "-->", "", 3},
    TextCase{"MarkerCaseIgnored", "ab</A>", false, true, "</a>", "ab", 6},
    TextCase{"PartialMarkerIsText", "a--b-->", false, true, "-->", "a--b", 7},
    TextCase{"EntityNotTakenForMarker", "x&quot;y\"z", false, true, "\"", "x\"y", 9},
    TextCase{"EncodedSpaceNotMerged", "a &#x20; b<", true, true, "<", "a   b", 11},
    TextCase{"TrailingSpaceDropped", "a \n<", true, true, "<", "a", 4},
    TextCase{"CondensedAtEnd", "  x  ", true, true, "<", "x", 5},
    TextCase{"CondensedEmpty", "", true, true, "<", "", 0},
    TextCase{"CondensedBlank", "   ", true, true, "<", "", 3},
    TextCase{"HighBytesAreNotSpace", "a\xA0\x85z<", true, true, "<", "a\xA0\x85z", 5},
    TextCase{"MarkerStartingWithSpace", "ab  cd", true, true, " c", "ab", 5}));
// clang-format on

TEST(ReadText, CaseSensitiveMarker) {
    const char* input = "aXYbxy";
    std::string text;
    EXPECT_EQ(VelkBase::ReadText(input, &text, false, "xy", true), input + 6);
    EXPECT_EQ(text, "aXYb");
}

// Bytes 0x80..0xFF are neither letters, digits nor white space, whatever locale
// the program has set; a Latin-1 locale would otherwise make 0xE9 a letter and
// 0xA0 a space.
void ExpectHighBytesAreOrdinary() {
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char c = static_cast<char>(b);
        EXPECT_FALSE(VelkBase::IsWhiteSpace(b)) << b;
        EXPECT_FALSE(VelkBase::IsWhiteSpace(c)) << b;

        const char text[] = {c, 'a', '\0'};
        std::string name;
        EXPECT_EQ(VelkBase::ReadName(text, &name), nullptr) << b;
        EXPECT_EQ(VelkBase::SkipWhiteSpace(text), text) << b;

        const char tail[] = {'a', c, '\0'};
        EXPECT_EQ(VelkBase::ReadName(tail, &name), tail + 1) << b;

        const char upper[] = {'&', '#', 'x', c, ';', '\0'};
        char value = 0;
        EXPECT_EQ(VelkBase::GetChar(upper, &value), upper + 5);
        EXPECT_EQ(static_cast<unsigned char>(value), (b - '0') & 0xFF) << b;
    }
}

TEST(LocaleIndependence, HighBytesInTheDefaultLocale) {
    ExpectHighBytesAreOrdinary();
}

TEST(LocaleIndependence, HighBytesUnderOtherLocales) {
    const char* locales[] = {"en_US.ISO-8859-1", "de_DE.ISO-8859-1", "fr_FR.ISO-8859-15",
                             "en_US.UTF-8", "C.UTF-8"};
    int tried = 0;
    for (const char* locale : locales) {
        if (!std::setlocale(LC_ALL, locale)) continue;
        ++tried;
        SCOPED_TRACE(locale);
        ExpectHighBytesAreOrdinary();
    }
    std::setlocale(LC_ALL, "C");
    if (tried == 0) GTEST_SKIP() << "no other locale installed";
}

#ifndef NDEBUG
using ScannerDeathTest = testing::Test;

TEST_F(ScannerDeathTest, NullPositionsAreCallerErrors) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string name;
    char value;
    const char* line = "Velk/base/velkparser:[0-9]+: ";
    EXPECT_DEATH(VelkBase::ReadName(nullptr, &name),
                 std::string(line) + "ReadName: Assertion 'p' failed\\.");
    EXPECT_DEATH(VelkBase::GetChar(nullptr, &value),
                 std::string(line) + "GetChar: Assertion 'p' failed\\.");
    EXPECT_DEATH(VelkBase::StringEqual(nullptr, "a", true),
                 std::string(line) + "StringEqual: Assertion 'p' failed\\.");
}
#endif

}  // namespace
