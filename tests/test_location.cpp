// The row and column tracker: tab stops, line ends of one and two characters,
// forward-only stamping, the end of the input, and the locations that a
// document parse gives its nodes and attributes.
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;
using TAVARO::VelkParsingData;

namespace {

struct StampCase {
    const char* name;
    const char* text;
    size_t now;  // offset of the stamped position
    int tabSize;
    int row;
    int col;
};

std::ostream& operator<<(std::ostream& os, const StampCase& c) {
    return os << c.name;
}

class StampTest : public testing::TestWithParam<StampCase> {};

TEST_P(StampTest, CountsRowsAndColumnsFromZero) {
    const StampCase& c = GetParam();
    VelkParsingData data(c.text, c.tabSize, 0, 0);
    data.Stamp(c.text + c.now);
    EXPECT_EQ(data.Cursor().row, c.row);
    EXPECT_EQ(data.Cursor().col, c.col);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Stamps, StampTest, testing::Values(
    StampCase{"Start", "abc", 0, 4, 0, 0},
    StampCase{"PlainColumns", "abc", 3, 4, 0, 3},
    StampCase{"TabToNextStop", "ab\tc", 4, 4, 0, 5},
    StampCase{"TabAtAStop", "abcd\tx", 5, 4, 0, 8},
    StampCase{"TabJustBeforeAStop", "abc\tx", 4, 4, 0, 4},
    StampCase{"TabSizeThree", "a\t\tb", 3, 3, 0, 6},
    StampCase{"CrLfIsOneLine", "a\r\nb", 4, 4, 1, 1},
    StampCase{"LfCrIsOneLine", "a\n\rb", 4, 4, 1, 1},
    StampCase{"TwoLfAreTwoLines", "a\n\nb", 4, 4, 2, 1},
    StampCase{"TwoCrAreTwoLines", "a\r\rb", 4, 4, 2, 1},
    StampCase{"LfCrLfCrIsTwoLines", "\n\r\n\rx", 4, 4, 2, 0},
    StampCase{"SecondOfAPairIsTheNextLine", "a\r\nb", 2, 4, 1, 0},
    StampCase{"HighBytesAreOneColumnEach", "\xC3\xA9x", 3, 4, 0, 3},
    StampCase{"PastTheEndMovesNothing", "ab\0cd", 5, 4, 0, 0},
    StampCase{"TabSizeZeroNeverMoves", "ab\ncd", 4, 0, 0, 0},
    StampCase{"NegativeTabSizeNeverMoves", "ab\ncd", 4, -2, 0, 0}));
// clang-format on

TEST(Stamp, CountsOnFromTheLastStamp) {
    const char* text = "ab\ncd\tef";
    VelkParsingData data(text, 4, 0, 0);
    data.Stamp(text + 2);
    EXPECT_EQ(data.Cursor().col, 2);
    data.Stamp(text + 5);
    EXPECT_EQ(data.Cursor().row, 1);
    EXPECT_EQ(data.Cursor().col, 2);
    data.Stamp(text + 7);
    EXPECT_EQ(data.Cursor().row, 1);
    EXPECT_EQ(data.Cursor().col, 5);
}

TEST(Stamp, NeverMovesBackwards) {
    const char* text = "abcdef";
    VelkParsingData data(text, 4, 0, 0);
    data.Stamp(text + 5);
    data.Stamp(text + 2);
    EXPECT_EQ(data.Cursor().col, 5);
    data.Stamp(text + 6);
    EXPECT_EQ(data.Cursor().col, 6);
}

TEST(Stamp, AnEndOfInputStopLeavesTheLastStamp) {
    const char* text = "ab\ncd\0xy";
    VelkParsingData data(text, 4, 0, 0);
    data.Stamp(text + 4);
    data.Stamp(text + 8);  // beyond the NUL: no change
    EXPECT_EQ(data.Cursor().row, 1);
    EXPECT_EQ(data.Cursor().col, 1);
    data.Stamp(text + 5);  // the stamp did not move, so counting resumes correctly
    EXPECT_EQ(data.Cursor().col, 2);
}

TEST(Stamp, StartsFromTheGivenRowAndColumn) {
    const char* text = "ab\ncd";
    VelkParsingData data(text, 4, 3, 7);
    EXPECT_EQ(data.Cursor().row, 3);
    EXPECT_EQ(data.Cursor().col, 7);
    data.Stamp(text);
    EXPECT_EQ(data.Cursor().col, 7);
    data.Stamp(text + 2);
    EXPECT_EQ(data.Cursor().row, 3);
    EXPECT_EQ(data.Cursor().col, 9);
    data.Stamp(text + 4);
    EXPECT_EQ(data.Cursor().row, 4);
    EXPECT_EQ(data.Cursor().col, 1);
}

TEST(Stamp, APairSplitByTheStampIsConsumedWhole) {
    // Stamping at the LF of a CR LF pair reports the next line; a later stamp
    // at the character after the pair does not count the LF a second time.
    const char* text = "a\r\nb";
    VelkParsingData data(text, 4, 0, 0);
    data.Stamp(text + 2);
    EXPECT_EQ(data.Cursor().row, 1);
    EXPECT_EQ(data.Cursor().col, 0);
    data.Stamp(text + 3);
    EXPECT_EQ(data.Cursor().row, 1);
    EXPECT_EQ(data.Cursor().col, 0);
}

struct Where {
    int row;
    int col;
};

void ExpectAt(const TAVARO::VelkBase* item, Where where) {
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Location().row, where.row);
    EXPECT_EQ(item->Location().col, where.col);
}

TEST(ParseLocations, ElementsAndAttributes) {
    VelkDocument doc;
    doc.Parse("<a>\n  <b c='1'/></a>", nullptr);
    ASSERT_FALSE(doc.Error());
    VelkElement* a = doc.FirstChildElement();
    ExpectAt(&doc, {0, 0});
    ExpectAt(a, {0, 0});
    VelkElement* b = a->FirstChildElement();
    ExpectAt(b, {1, 2});
    ExpectAt(b->FirstAttribute(), {1, 5});
}

TEST(ParseLocations, EveryKindOfNode) {
    VelkDocument doc;
    doc.Parse(" <?xml version='1.0'?>\n<!-- c -->\t<!X>\r\n<r>\n\t  text <e/></r>", nullptr);
    ASSERT_FALSE(doc.Error());
    VelkNode* node = doc.FirstChild();
    ExpectAt(node, {0, 1});  // declaration at its '<'
    node = node->NextSibling();
    ExpectAt(node, {1, 0});  // comment
    node = node->NextSibling();
    ExpectAt(node, {1, 12});  // unknown, after a tab from column 10
    node = node->NextSibling();
    ExpectAt(node, {2, 0});  // r
    VelkNode* text = node->FirstChild();
    ExpectAt(text, {3, 6});  // the text's first character
    ExpectAt(text->NextSibling(), {3, 11});
}

TEST(ParseLocations, TabSizeOfTheDocument) {
    VelkDocument doc;
    doc.SetTabSize(8);
    doc.Parse("\t<a/>", nullptr);
    ExpectAt(doc.FirstChild(), {0, 8});
}

TEST(ParseLocations, StartingCursorFromAnEarlierTracker) {
    const char* text = "<a/>";
    VelkParsingData earlier(text, 4, 10, 5);
    VelkDocument doc;
    doc.Parse(text, &earlier);
    ExpectAt(&doc, {10, 5});
    ExpectAt(doc.FirstChild(), {10, 5});
}

TEST(ParseLocations, UnparsedNodesHaveNoLocation) {
    VelkElement e("e");
    ExpectAt(&e, {-1, -1});
    // Parsing without a tracker records no locations either.
    e.Parse("<x a='1'/>", nullptr);
    ExpectAt(&e, {-1, -1});
    ExpectAt(e.FirstAttribute(), {-1, -1});
}

TEST(ParseLocations, ErrorCursorOnALaterLine) {
    // An unclosed value: error 4 at the start of the attribute on row 1.
    VelkDocument doc;
    doc.Parse("<a\n  b='x", nullptr);
    EXPECT_EQ(doc.ErrorCode(), TAVARO::VELK_ERROR_PARSE_ELEMENT);
    EXPECT_EQ(doc.ErrorCursor().row, 1);
    EXPECT_EQ(doc.ErrorCursor().col, 2);
}

#ifndef NDEBUG
using LocationDeathTest = testing::Test;

TEST_F(LocationDeathTest, NullPositionsAreCallerErrors) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(VelkParsingData(nullptr, 4, 0, 0),
                 "Velk/base/velkparser:[0-9]+: VelkParsingData: Assertion 'start' failed\\.");
    const char* text = "a";
    VelkParsingData data(text, 4, 0, 0);
    EXPECT_DEATH(data.Stamp(nullptr),
                 "Velk/base/velkparser:[0-9]+: Stamp: Assertion 'now' failed\\.");
}
#endif

}  // namespace
