// Parsing the leaf kinds: comments, text, declarations and unknown markup,
// their results, their errors when called directly, and their locations.
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "tree_shape.h"

using TAVARO::VelkBase;
using TAVARO::VelkComment;
using TAVARO::VelkDeclaration;
using TAVARO::VelkDocument;
using TAVARO::VelkNode;
using TAVARO::VelkParsingData;
using TAVARO::VelkText;
using TAVARO::VelkUnknown;
using velk_test::ExpectError;

namespace {

struct LeafCase {
    const char* input;
    const char* value;
    long result;  // offset of the returned position; -1 for null
};

// What a leaf parse fills: the value, or a declaration's three fields.
std::string Filled(const VelkNode& node) {
    if (node.Type() != VelkNode::DECLARATION) return node.SValue();
    const auto& d = static_cast<const VelkDeclaration&>(node);
    return std::string(d.Version()) + "|" + d.Encoding() + "|" + d.Standalone();
}

// Parses input with node and checks what it filled and the result.
void ExpectLeaf(VelkNode* node, const LeafCase& c) {
    const char* end = node->Parse(c.input, nullptr);
    if (c.result < 0) {
        EXPECT_EQ(end, nullptr) << c.input;
    } else {
        EXPECT_EQ(end, c.input + c.result) << c.input;
    }
    EXPECT_EQ(Filled(*node), c.value) << c.input;
}

TEST(CommentParse, BodyUpToTheCloser) {
    const LeafCase cases[] = {
        {"<!-- a -- b > c -->x", " a -- b > c ", 19},
        {"<!---->", "", 7},
        {"<!-- &lt;b&gt; -->", " <b> ", 18},
        {"<!-- open", " open", 9},
        {"  <!--x-->", "x", 10},
        {"<!--\r\n\tx\n-->", "\r\n\tx\n", 12},
        {"<!--a--->", "a-", 9},
    };
    for (const LeafCase& c : cases) {
        VelkComment comment;
        ExpectLeaf(&comment, c);
    }
}

TEST(TextParse, StopsBeforeTheNextMarkup) {
    const LeafCase cases[] = {
        {"a &amp; b<", "a & b", 9},           {"  x  ", "x", 5}, {"x > y<", "x > y", 5},
        {"one\r\n\t two</a>", "one two", 10}, {"<", "", 0},      {"", "", 0},
    };
    for (const LeafCase& c : cases) {
        VelkText text("old");
        ExpectLeaf(&text, c);
    }
}

TEST(TextParse, VerbatimWhenCondensingIsOff) {
    const bool saved = VelkBase::condenseWhiteSpace;
    VelkBase::condenseWhiteSpace = false;
    VelkText text("");
    ExpectLeaf(&text, {"  x \r\n y &lt; <", "  x \r\n y < ", 14});
    VelkBase::condenseWhiteSpace = saved;
}

TEST(DeclarationParse, PseudoAttributesInAnyOrder) {
    // clang-format off
    const LeafCase cases[] = {
        {"<?xml version='1.0' encoding=\"UTF-8\" standalone='yes'?>", "1.0|UTF-8|yes", 55},
        {"<?xml standalone='no' version='1.1'?>x", "1.1||no", 37},
        {"<?xml foo='bar' version='1.0'?>", "1.0||", 31},
        {"<?xml version='1.0'>", "1.0||", 20},
        {"<?xml version=1.0?>", "1.0?||", 19},
        {"<?xml VERSION='1' versionx='2'?>", "2||", 32},
        {"<?xml version='1' version='2'?>", "2||", 31},
        {"<?xml encoding='a&amp;b c'?>", "|a&b c|", 28},
        {"<?xml?>", "||", 7},
        {"<?xml version?>", "||", -1},
        {"<?xml version='1.0'", "1.0||", -1},
        {"<?xml version='1.0", "1.0||", -1},
    };
    // clang-format on
    for (const LeafCase& c : cases) {
        VelkDocument doc;
        VelkNode* decl = doc.LinkEndChild(new VelkDeclaration());
        ExpectLeaf(decl, c);
        EXPECT_FALSE(doc.Error()) << c.input;
    }
}

TEST(DeclarationParse, ALaterParseStartsFromEmptyFields) {
    VelkDeclaration decl;
    decl.Parse("<?xml version='1' encoding='e'?>", nullptr);
    decl.Parse("<?xml standalone='s'?>", nullptr);
    EXPECT_EQ(Filled(decl), "||s");
}

TEST(UnknownParse, VerbatimUpToTheFirstClose) {
    const LeafCase cases[] = {
        {"<!DOCTYPE note SYSTEM 'n.dtd'>", "!DOCTYPE note SYSTEM 'n.dtd'", 30},
        {"<?pi data?>", "?pi data?", 11},
        {"<!oops", "!oops", 6},
        {"<![CDATA[a>b]]>", "![CDATA[a", 11},
        {" <x &amp; y>z", "x &amp; y", 12},
        {"<>", "", 2},
    };
    for (const LeafCase& c : cases) {
        VelkUnknown unknown;
        ExpectLeaf(&unknown, c);
    }
}

struct LeafErrorCase {
    const char* name;
    VelkNode* (*make)();
    const char* input;
    int code;
    int row;
    int col;
};

std::ostream& operator<<(std::ostream& os, const LeafErrorCase& c) {
    return os << c.name;
}

VelkNode* MakeComment() {
    return new VelkComment();
}
VelkNode* MakeDeclaration() {
    return new VelkDeclaration();
}
VelkNode* MakeUnknown() {
    return new VelkUnknown();
}

class LeafErrorTest : public testing::TestWithParam<LeafErrorCase> {};

TEST_P(LeafErrorTest, DirectCallsOnTheWrongMarkupFail) {
    const LeafErrorCase& c = GetParam();
    VelkDocument doc;
    VelkNode* node = doc.LinkEndChild(c.make());
    VelkParsingData data(c.input, 4, 0, 0);
    EXPECT_EQ(node->Parse(c.input, &data), nullptr);
    ExpectError(doc, c.code, VelkBase::errorString[c.code], c.row, c.col);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Errors, LeafErrorTest, testing::Values(
    LeafErrorCase{"CommentNotAComment", MakeComment, "\n  <!- x -->", 11, 1, 2},
    LeafErrorCase{"CommentAtTheEnd", MakeComment, "  ", 11, 0, 2},
    LeafErrorCase{"CommentOfNothing", MakeComment, "", 11, -1, -1},
    LeafErrorCase{"DeclarationInCapitals", MakeDeclaration, " <?XML?>", 12, -1, -1},
    LeafErrorCase{"DeclarationOfNothing", MakeDeclaration, "", 12, -1, -1},
    LeafErrorCase{"UnknownWithoutBracket", MakeUnknown, "\t x>", 10, 0, 5},
    LeafErrorCase{"UnknownAtTheEnd", MakeUnknown, "  ", 10, 0, 2},
    LeafErrorCase{"UnknownOfNothing", MakeUnknown, "", 10, -1, -1}));
// clang-format on

TEST(LeafParse, LocationsWithATracker) {
    const char* text = "\n  <!-- c --> <?xml?> <!x> text<";
    VelkParsingData data(text, 4, 0, 0);
    VelkComment comment;
    const char* p = comment.Parse(text, &data);
    EXPECT_EQ(comment.Location().row, 1);
    EXPECT_EQ(comment.Location().col, 2);
    VelkDeclaration decl;
    p = decl.Parse(p, &data);
    EXPECT_EQ(decl.Location().col, 13);
    VelkUnknown unknown;
    p = unknown.Parse(p, &data);
    EXPECT_EQ(unknown.Location().col, 21);
    VelkText t("");
    t.Parse(VelkBase::SkipWhiteSpace(p), &data);
    EXPECT_EQ(t.Location().row, 1);
    EXPECT_EQ(t.Location().col, 26);
}

}  // namespace
