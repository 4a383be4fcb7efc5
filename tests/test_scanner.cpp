// Scanner primitives: white space, names, characters and entity references,
// prefix comparison and text reading; every byte classified the same way
// whatever locale the program sets.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using velk_test::Offset;

namespace {

TEST(Scanner, SkipWhiteSpaceGivesNullForNullOrEmptyText) {
    EXPECT_EQ(VelkBase::SkipWhiteSpace(nullptr), nullptr);
    // One case per line.
    // clang-format off
    const struct { const char* input; long result; } cases[] = {
        {"", -1}, {"   ", 3}, {"\t\r\n\v\f a", 6}, {"a ", 0}, {"\xA0 ", 0}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(Offset(c.input, VelkBase::SkipWhiteSpace(c.input)), c.result) << c.input;
    for (int c = -1; c < 128; ++c)
        EXPECT_EQ(VelkBase::IsWhiteSpace(c), c == ' ' || (c >= 9 && c <= 13)) << c;
}

TEST(Scanner, ReadName) {
    // One case per line.
    // clang-format off
    const struct { const char* input; const char* name; } cases[] = {  // null: none starts here
        {"_a-b.c:d=1", "_a-b.c:d"}, {"x1 y", "x1"}, {"Z>", "Z"}, {"a\xE9z", "a"}, {"1abc", nullptr},
        {"-x", nullptr}, {":x", nullptr}, {".x", nullptr}, {" a", nullptr}, {"", nullptr},
        {"\xC3\xA9t", nullptr}};
    // clang-format on
    for (const auto& c : cases) {
        std::string name = "old";
        const char* end = VelkBase::ReadName(c.input, &name);
        EXPECT_EQ(name, c.name ? c.name : "") << c.input;
        EXPECT_EQ(Offset(c.input, end), c.name ? static_cast<long>(name.size()) : -1) << c.input;
    }
}

TEST(Scanner, GetCharAndGetEntity) {
    // One case per line.
    // clang-format off
    const struct { const char* input; char value; long advance; } cases[] = {
        {"x", 'x', 1}, {"&lt;", '<', 4}, {"&gt;x", '>', 4}, {"&amp;", '&', 5}, {"&quot;", '"', 6},
        {"&apos;", '\'', 6}, {"&AMP;", '&', 1}, {"&amp", '&', 1}, {"&", '&', 1},
        {"&#x41;", 'A', 6}, {"&#x9;", '\t', 5}, {"&#xff;", '\xff', 6}, {"&#xFF;", '\xff', 6},
        // Hex digits are read as "digit or letter": 'g' counts 16, 'z' 35.
        {"&#xg;", '\x10', 5}, {"&#xzz;", static_cast<char>(35 * 16 + 35), 6},
        // Three digits, decimal, upper-case X, or no ';' in reach: just the '&'.
        {"&#x123;", '&', 1}, {"&#65;", '&', 1}, {"&#X41;", '&', 1}, {"&#x4", '&', 1},
        {"&#x", '&', 1}};
    // clang-format on
    for (const auto& c : cases) {
        for (auto* get : {&VelkBase::GetChar, &VelkBase::GetEntity}) {
            if (get == &VelkBase::GetEntity && c.input[0] != '&') continue;
            char value = 0;
            EXPECT_EQ(Offset(c.input, get(c.input, &value)), c.advance) << c.input;
            EXPECT_EQ(value, c.value) << c.input;
        }
    }
}

TEST(Scanner, StringEqualIsAPrefixTest) {
    // One case per line.
    // clang-format off
    const struct { const char *text, *tag; bool caseSensitive, expected; } cases[] = {
        {"<?XML", "<?xml", true, false}, {"<?XML", "<?xml", false, true},
        {"versionx", "version", true, true}, {"ab", "abc", false, false},
        {"abc", "", false, false}, {"", "a", false, false}, {"\xC9", "\xE9", false, false}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(VelkBase::StringEqual(c.text, c.tag, c.caseSensitive), c.expected)
            << c.text << " / " << c.tag << " " << c.caseSensitive;
}

TEST(Scanner, ReadTextUpToTheMarker) {
    // One case per line.
    // clang-format off
    const struct {
        const char* input;
        bool trim, condense;
        const char* endTag;
        bool caseSensitive;
        const char* text;
        long consumed;  // the marker is consumed too
    } cases[] = {
        {"  one \r\n\t two   <", true, true, "<", false, "one two", 17},
        {"  one \r\n\t two   <", true, false, "<", false, "  one \r\n\t two   ", 17},
        {" a  b <", false, true, "<", false, " a  b ", 7},  // no trim: the switch is ignored
        {"   ", true, true, "<", false, "", 3},
        {"", true, true, "<", false, "", 0},
        {"abc &amp; d", false, true, "-->", false, "abc & d", 11},  // marker never comes
        {"a--b-->", false, true, "-->", false, "a--b", 7},
        {"ab</A>", false, true, "</a>", false, "ab", 6},
        {"aXYbxy", false, true, "xy", true, "aXYb", 6},
        // Decoded characters are never taken for white space or the marker.
        {"a &#x20; b<", true, true, "<", false, "a   b", 11},
        {"x&quot;y\"z", false, true, "\"", false, "x\"y", 9},
        {"a\xA0\x85z <", true, true, "<", false, "a\xA0\x85z", 6},
        {"ab  cd", true, true, " c", false, "ab", 5}};
    // clang-format on
    for (const auto& c : cases) {
        velkcheck::Condensing condensing(c.condense);
        std::string text = "old";
        const char* end = VelkBase::ReadText(c.input, &text, c.trim, c.endTag, c.caseSensitive);
        EXPECT_EQ(text, c.text) << c.input;
        EXPECT_EQ(Offset(c.input, end), c.consumed) << c.input;
    }
}

// Element content is scanned many bytes a step while the end of the input is
// far enough, ReadText a byte at a time: every kind of stop, at every offset
// of a long text, reads the same either way.
TEST(Scanner, ContentScanAgreesWithReadText) {
    const char* const stops[] = {"&amp;", "&#x41;", "&",  "  ",   " \t",      "\t",
                                 "\n",    "\r\n",   " x", "\x0B", "\xC3\xA9", "\r"};
    for (bool condense : {true, false}) {
        velkcheck::Condensing condensing(condense);
        for (const char* stop : stops) {
            for (size_t at = 0; at <= 40; ++at) {
                std::string text(40, 'a');
                text.insert(at, stop);
                text += " more words  here ";
                VelkDocument doc;
                doc.Parse(("<r>" + text + "</r>").c_str(), nullptr);
                ASSERT_FALSE(doc.Error());
                std::string expected;
                VelkBase::ReadText(text.c_str(), &expected, true, "<", false);
                EXPECT_EQ(doc.FirstChildElement()->FirstChild()->SValue(), expected)
                    << velkcheck::Printable(stop) << " at " << at << ", condensing " << condense;
            }
        }
    }
}

// Bytes 0x80..0xFF are neither letters, digits nor white space whatever locale
// the program has set; a Latin-1 locale would otherwise make 0xE9 a letter and
// 0xA0 a space.
TEST(Scanner, HighBytesAreOrdinaryInEveryLocale) {
    for (const char* locale : {"C", "en_US.ISO-8859-1", "fr_FR.ISO-8859-15", "C.UTF-8"}) {
        if (!std::setlocale(LC_ALL, locale)) continue;
        SCOPED_TRACE(locale);
        for (int b = 0x80; b <= 0xFF; ++b) {
            const char c = static_cast<char>(b);
            EXPECT_FALSE(VelkBase::IsWhiteSpace(b) || VelkBase::IsWhiteSpace(c)) << b;
            const char head[] = {c, 'a', '\0'};
            const char tail[] = {'a', c, '\0'};
            const char ref[] = {'&', '#', 'x', c, ';', '\0'};
            std::string name;
            char value = 0;
            EXPECT_EQ(VelkBase::SkipWhiteSpace(head), head) << b;
            EXPECT_EQ(VelkBase::ReadName(head, &name), nullptr) << b;
            EXPECT_EQ(VelkBase::ReadName(tail, &name), tail + 1) << b;
            // Not a letter either: its digit value is byte - '0'.
            EXPECT_EQ(VelkBase::GetChar(ref, &value), ref + 5) << b;
            EXPECT_EQ(static_cast<unsigned char>(value), (b - '0') & 0xFF) << b;
        }
    }
    std::setlocale(LC_ALL, "C");
}

}  // namespace
