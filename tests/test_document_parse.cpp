// The document parse: error recording, the top-level loop and its result, and
// the identification of each piece of markup.
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "tree_shape.h"

using TAVARO::VelkComment;
using TAVARO::VelkDeclaration;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;
using TAVARO::VelkParsingData;

namespace {

using velk_test::ExpectError;
using velk_test::ExpectNoError;
using velk_test::Shape;

TEST(SetError, RecordsCodeAndMessageWithoutPosition) {
    VelkDocument doc;
    doc.SetError(TAVARO::VELK_ERROR_OPEN_FILE, nullptr, nullptr);
    ExpectError(doc, 2, "Failed to open file", -1, -1);
}

TEST(SetError, TheFirstErrorStaysUntilCleared) {
    VelkDocument doc;
    doc.SetError(2, nullptr, nullptr);
    doc.SetError(13, nullptr, nullptr);
    ExpectError(doc, 2, "Failed to open file", -1, -1);
    doc.ClearError();
    doc.SetError(13, nullptr, nullptr);
    ExpectError(doc, 13, "Error document empty.", -1, -1);
}

TEST(SetError, EveryCodeHasItsMessage) {
    const char* messages[] = {"Error",
                              "Failed to open file",
                              "Memory allocation failed.",
                              "Error parsing Element.",
                              "Failed to read Element name",
                              "Error reading Element value.",
                              "Error reading Attributes.",
                              "Error: empty tag.",
                              "Error reading end tag.",
                              "Error parsing Unknown.",
                              "Error parsing Comment.",
                              "Error parsing Declaration.",
                              "Error document empty."};
    for (int code = 1; code < TAVARO::VELK_ERROR_STRING_COUNT; ++code) {
        VelkDocument doc;
        doc.SetError(code, nullptr, nullptr);
        ExpectError(doc, code, messages[code - 1], -1, -1);
    }
}

TEST(SetError, APositionNeedsATracker) {
    const char* text = "ab\ncd";
    VelkDocument withoutTracker;
    withoutTracker.SetError(4, text + 4, nullptr);
    ExpectError(withoutTracker, 4, "Error parsing Element.", -1, -1);

    VelkParsingData data(text, 4, 0, 0);
    VelkDocument withoutPosition;
    withoutPosition.SetError(4, nullptr, &data);
    ExpectError(withoutPosition, 4, "Error parsing Element.", -1, -1);

    VelkDocument withBoth;
    withBoth.SetError(4, text + 4, &data);
    ExpectError(withBoth, 4, "Error parsing Element.", 1, 1);
}

#ifndef NDEBUG
using SetErrorDeathTest = testing::Test;

TEST_F(SetErrorDeathTest, CodeOutOfRangeIsACallerError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* expected =
        "Velk/base/velkparser:[0-9]+: SetError: Assertion 'err > 0 && err < "
        "VELK_ERROR_STRING_COUNT' failed\\.";
    VelkDocument doc;
    EXPECT_DEATH(doc.SetError(0, nullptr, nullptr), expected);
    EXPECT_DEATH(doc.SetError(TAVARO::VELK_ERROR_STRING_COUNT, nullptr, nullptr), expected);
}
#else
TEST(SetError, CodeOutOfRangeRecordsNothing) {
    VelkDocument doc;
    doc.SetError(0, nullptr, nullptr);
    doc.SetError(TAVARO::VELK_ERROR_STRING_COUNT, nullptr, nullptr);
    EXPECT_FALSE(doc.Error());
}
#endif

TEST(DocumentParse, EmptyTextIsAnError) {
    VelkDocument doc;
    EXPECT_EQ(doc.Parse("", nullptr), nullptr);
    ExpectError(doc, 13, "Error document empty.", -1, -1);

    VelkDocument nullDoc;
    EXPECT_EQ(nullDoc.Parse(nullptr, nullptr), nullptr);
    ExpectError(nullDoc, 13, "Error document empty.", -1, -1);
}

TEST(DocumentParse, WhiteSpaceOnlyGivesTheEndAndNoNodes) {
    const char* text = "  \n \r\n ";
    VelkDocument doc;
    EXPECT_EQ(doc.Parse(text, nullptr), text + 7);
    ExpectNoError(doc);
    EXPECT_EQ(doc.FirstChild(), nullptr);
}

TEST(DocumentParse, TopLevelItemsInOrder) {
    VelkDocument doc;
    doc.Parse("<?xml version='1.0'?><!-- c --><root/>", nullptr);
    ExpectNoError(doc);
    EXPECT_EQ(Shape(&doc), "<?xml 1.0||?>,<!-- c -->,root");
}

struct ResultCase {
    const char* input;
    long result;  // offset of the returned position; -1 for null
    const char* shape;
};

class DocumentResultTest : public testing::TestWithParam<ResultCase> {};

TEST_P(DocumentResultTest, ReturnsWhereTheParseStopped) {
    const ResultCase& c = GetParam();
    VelkDocument doc;
    const char* end = doc.Parse(c.input, nullptr);
    if (c.result < 0) {
        EXPECT_EQ(end, nullptr);
    } else {
        EXPECT_EQ(end, c.input + c.result);
    }
    ExpectNoError(doc);
    EXPECT_EQ(Shape(&doc), c.shape);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Results, DocumentResultTest, testing::Values(
    ResultCase{"<root/>", -1, "root"},           // the last node ends at the end of the input
    ResultCase{"<root/>  ", 9, "root"},          // white space after it: the end
    ResultCase{"<a/>text<b/>", 4, "a"},          // top-level text stops quietly
    ResultCase{"  x", 2, ""},
    ResultCase{"<!DOCTYPE x><a/>", -1, "<!DOCTYPE x>,a"},
    ResultCase{"<?XML version='1.0'?>", -1, "<?XML version='1.0'?>"},
    ResultCase{"<?xml-stylesheet href='a'?> ", 28, "<?xml ||?>"},
    ResultCase{"<?php x ?><![CDATA[a>b]]>\n", 21, "<?php x ?>,<![CDATA[a>"},
    ResultCase{"</a> <1> < a> <", -1, "</a>,<1>,< a>,<>"},
    ResultCase{"<_x/>\n<!---->", -1, "_x,<!---->"}));
// clang-format on

TEST(DocumentParse, AppendsToExistingChildrenAndClearsTheOldError) {
    VelkDocument doc;
    doc.LinkEndChild(new VelkComment());
    doc.SetError(2, nullptr, nullptr);
    doc.Parse("<a/>", nullptr);
    ExpectNoError(doc);
    EXPECT_EQ(Shape(&doc), "<!---->,a");
}

TEST(DocumentParse, AFailedNodeIsLinkedAndStopsTheParse) {
    VelkDocument doc;
    EXPECT_EQ(doc.Parse("<a><b></a><c/>", nullptr), nullptr);
    ExpectError(doc, 9, "Error reading end tag.", 0, 6);
    EXPECT_EQ(Shape(&doc), "a(b)");
}

TEST(DocumentParse, DocumentLocationIsBeforeLeadingWhiteSpace) {
    VelkDocument doc;
    doc.Parse("\n\n  <a/>", nullptr);
    EXPECT_EQ(doc.Location().row, 0);
    EXPECT_EQ(doc.Location().col, 0);
    EXPECT_EQ(doc.FirstChild()->Location().row, 2);
    EXPECT_EQ(doc.FirstChild()->Location().col, 2);
}

struct KindCase {
    const char* input;
    int type;  // a NodeType, or -1 for no node
};

class IdentifyTest : public testing::TestWithParam<KindCase> {};

TEST_P(IdentifyTest, CreatesTheMatchingKindWithoutLinkingIt) {
    const KindCase& c = GetParam();
    VelkDocument doc;
    VelkNode* node = doc.Identify(c.input);
    if (c.type < 0) {
        EXPECT_EQ(node, nullptr) << c.input;
    } else {
        ASSERT_NE(node, nullptr) << c.input;
        EXPECT_EQ(node->Type(), c.type) << c.input;
        EXPECT_EQ(node->Parent(), &doc);
        EXPECT_STREQ(node->Value(), "");
        delete node;
    }
    EXPECT_EQ(doc.FirstChild(), nullptr);
    EXPECT_FALSE(doc.Error());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Kinds, IdentifyTest, testing::Values(
    KindCase{"<?xml version='1.0'?>", VelkNode::DECLARATION},
    KindCase{"  <?xml-stylesheet?>", VelkNode::DECLARATION},
    KindCase{"<?XML?>", VelkNode::UNKNOWN},
    KindCase{"<?php?>", VelkNode::UNKNOWN},
    KindCase{"<a>", VelkNode::ELEMENT},
    KindCase{"<_a>", VelkNode::ELEMENT},
    KindCase{"\n<Z/>", VelkNode::ELEMENT},
    KindCase{"<!-- c -->", VelkNode::COMMENT},
    KindCase{"<!DOCTYPE x>", VelkNode::UNKNOWN},
    KindCase{"<![CDATA[x]]>", VelkNode::UNKNOWN},
    KindCase{"</a>", VelkNode::UNKNOWN},
    KindCase{"<1>", VelkNode::UNKNOWN},
    KindCase{"< a>", VelkNode::UNKNOWN},
    KindCase{"<\xE9>", VelkNode::UNKNOWN},
    KindCase{"<", VelkNode::UNKNOWN},
    KindCase{"text", -1},
    KindCase{"   ", -1},
    KindCase{"", -1}));
// clang-format on

TEST(Identify, AsksForTheParentOfTheNewNode) {
    VelkElement parent("p");
    VelkNode* node = parent.Identify("<c/>");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Parent(), &parent);
    EXPECT_EQ(parent.FirstChild(), nullptr);
    delete node;
}

}  // namespace
