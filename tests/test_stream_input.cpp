// Stream input: the stream scanners, how far each node kind reads, the
// document's stream errors, and operator>> with the parse that follows it.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "tree_shape.h"

using TAVARO::VelkBase;
using TAVARO::VelkComment;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;
using TAVARO::VelkText;
using TAVARO::VelkUnknown;
using velk_test::ExpectError;
using velk_test::ExpectNoError;
using velk_test::Shape;

namespace {

// What is left unread in the stream.
std::string Rest(std::istream& in) {
    std::string rest;
    char c;
    while (in.get(c)) rest += c;
    return rest;
}

TEST(StreamWhiteSpace, MovesWhiteSpaceOnly) {
    std::istringstream in(" \t\r\n\v\fx ");
    std::string tag = "<";
    EXPECT_TRUE(VelkBase::StreamWhiteSpace(&in, &tag));
    EXPECT_EQ(tag, "< \t\r\n\v\f");
    EXPECT_EQ(Rest(in), "x ");
}

TEST(StreamWhiteSpace, ALookAtTheEndOfTheStreamIsNoWhiteSpace) {
    std::istringstream in("  ");
    std::string tag;
    EXPECT_TRUE(VelkBase::StreamWhiteSpace(&in, &tag));
    EXPECT_EQ(tag, "  ");
    EXPECT_TRUE(in.eof());
    // Only a stream that is no longer good gives false.
    EXPECT_FALSE(VelkBase::StreamWhiteSpace(&in, &tag));
    EXPECT_EQ(tag, "  ");
}

TEST(StreamTo, StopsBeforeTheCharacter) {
    std::istringstream in("ab\xE9 <c");
    std::string tag;
    EXPECT_TRUE(VelkBase::StreamTo(&in, '<', &tag));
    EXPECT_EQ(tag, "ab\xE9 ");
    EXPECT_EQ(Rest(in), "<c");
}

TEST(StreamTo, EndOfStreamAppendsNothingForIt) {
    std::istringstream in("abc");
    std::string tag;
    EXPECT_FALSE(VelkBase::StreamTo(&in, '<', &tag));
    EXPECT_EQ(tag, "abc");
}

TEST(LeafStreamIn, EachKindReadsToItsEnd) {
    {
        std::istringstream in("some text<b>");
        std::string tag;
        VelkText("").StreamIn(&in, &tag);
        EXPECT_EQ(tag, "some text");
        EXPECT_EQ(Rest(in), "<b>");
    }
    {
        std::istringstream in("<!DOCTYPE x [y]>z");
        std::string tag;
        VelkUnknown().StreamIn(&in, &tag);
        EXPECT_EQ(tag, "<!DOCTYPE x [y]>");
        EXPECT_EQ(Rest(in), "z");
    }
    {
        // A '>' without two hyphens before it does not end a comment.
        std::istringstream in("> b -- > -->z");
        std::string tag = "<!-- a ";
        VelkComment().StreamIn(&in, &tag);
        EXPECT_EQ(tag, "<!-- a > b -- > -->");
        EXPECT_EQ(Rest(in), "z");
    }
    {
        std::istringstream in("<!-- open");
        std::string tag;
        VelkComment().StreamIn(&in, &tag);
        EXPECT_EQ(tag, "<!-- open");
    }
}

struct ElementStreamCase {
    const char* input;
    const char* collected;
    const char* rest;
};

class ElementStreamTest : public testing::TestWithParam<ElementStreamCase> {};

TEST_P(ElementStreamTest, ReadsExactlyOneElement) {
    const ElementStreamCase& c = GetParam();
    std::istringstream in(c.input);
    std::string tag;
    VelkElement e("");
    e.StreamIn(&in, &tag);
    EXPECT_EQ(tag, c.collected);
    in.clear();
    EXPECT_EQ(Rest(in), c.rest);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Elements, ElementStreamTest, testing::Values(
    ElementStreamCase{"<a>hi</a>tail", "<a>hi</a>", "tail"},
    ElementStreamCase{"<a/>tail", "<a/>", "tail"},
    ElementStreamCase{"  <a>x</a>", "  <a>x</a>", ""},
    ElementStreamCase{"<a><b/>text<!-- c --></a>x", "<a><b/>text<!-- c --></a>", "x"},
    ElementStreamCase{"<a> <b c='1'> <c></c> </b>\n</a> x", "<a> <b c='1'> <c></c> </b>\n</a>",
                      " x"},
    ElementStreamCase{"<a></ a>x", "<a></ a>", "x"},
    ElementStreamCase{"<a>< \n/a>x", "<a>< \n/a>", "x"},
    ElementStreamCase{"<a></b>x", "<a></b>", "x"},
    ElementStreamCase{"<a><!-- a > b --></a>x", "<a><!-- a > b --></a>", "x"},
    ElementStreamCase{"<a><?xml v?><!X></a>x", "<a><?xml v?><!X></a>", "x"},
    ElementStreamCase{"<a><<b/></a>x", "<a><<b/></a>", "x"},
    ElementStreamCase{"<a><b>text", "<a><b>text", ""},
    ElementStreamCase{"<a><b", "<a><b", ""},
    ElementStreamCase{"<a", "<a", ""},
    ElementStreamCase{"", "", ""}));
// clang-format on

struct DocumentStreamCase {
    const char* name;
    const char* input;
    int code;  // 0 when the stream reads without error
    const char* collected;
    const char* rest;
};

std::ostream& operator<<(std::ostream& os, const DocumentStreamCase& c) {
    return os << c.name;
}

class DocumentStreamTest : public testing::TestWithParam<DocumentStreamCase> {};

TEST_P(DocumentStreamTest, ReadsUpToTheEndOfTheFirstElement) {
    const DocumentStreamCase& c = GetParam();
    std::istringstream in(c.input);
    std::string tag;
    VelkDocument doc;
    doc.StreamIn(&in, &tag);
    if (c.code) {
        ExpectError(doc, c.code, VelkBase::errorString[c.code], -1, -1);
    } else {
        EXPECT_FALSE(doc.Error()) << doc.ErrorMessage();
    }
    EXPECT_EQ(tag, c.collected);
    in.clear();
    EXPECT_EQ(Rest(in), c.rest);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Documents, DocumentStreamTest, testing::Values(
    DocumentStreamCase{"Element", "<root a=\"1\"><b/>text<!-- c --></root> more",
                       0, "<root a=\"1\"><b/>text<!-- c --></root>", " more"},
    DocumentStreamCase{"Prolog", " <?xml version='1.0'?>\n<!-- c -->\n<r/><s/>", 0,
                       " <?xml version='1.0'?>\n<!-- c -->\n<r/>", "<s/>"},
    DocumentStreamCase{"EmptyElement", "<a/>", 0, "<a/>", ""},
    DocumentStreamCase{"CutShort", "<a><b>text", 0, "<a><b>text", ""},
    DocumentStreamCase{"Empty", "", 8, "", ""},
    DocumentStreamCase{"TextOnly", " hello ", 8, " hello ", ""},
    DocumentStreamCase{"DeclarationOnly", "<?xml version=\"1.0\"?>", 1,
                       "<?xml version=\"1.0\"?>", ""},
    DocumentStreamCase{"CommentOnly", "<!-- c -->  ", 1, "<!-- c -->  ", ""},
    DocumentStreamCase{"TextAfterDeclaration", "<?xml?>x<root/>", 1, "<?xml?>x<root/", ">"},
    DocumentStreamCase{"OpenTag", "<a b='1'", 1, "<a b='1'", ""}));
// clang-format on

TEST(StreamOperator, ReadsAndParsesOneDocument) {
    std::istringstream in("<?xml version='1.0'?><root a=\"1\"><b/>text<!-- c --></root>more");
    VelkDocument doc;
    in >> doc;
    ExpectNoError(doc);
    EXPECT_EQ(Shape(&doc), "<?xml 1.0||?>,root[a=1](b,'text',<!-- c -->)");
    EXPECT_EQ(Rest(in), "more");
}

TEST(StreamOperator, ReadsDocumentsOneAfterAnother) {
    std::istringstream in("<a/>\n<b>x</b>");
    VelkDocument first;
    VelkDocument second;
    in >> first >> second;
    EXPECT_EQ(Shape(&first), "a");
    EXPECT_EQ(Shape(&second), "b('x')");
    ExpectNoError(second);
}

TEST(StreamOperator, KeepsExistingChildren) {
    std::istringstream in("<b/>");
    VelkDocument doc;
    doc.LinkEndChild(new VelkElement("a"));
    in >> doc;
    EXPECT_EQ(Shape(&doc), "a,b");
}

struct OperatorErrorCase {
    const char* name;
    const char* input;
    int code;
    int row;
    int col;
    const char* shape;
};

std::ostream& operator<<(std::ostream& os, const OperatorErrorCase& c) {
    return os << c.name;
}

class StreamOperatorErrorTest : public testing::TestWithParam<OperatorErrorCase> {};

TEST_P(StreamOperatorErrorTest, ReportsTheParseErrorElseTheStreamError) {
    const OperatorErrorCase& c = GetParam();
    std::istringstream in(c.input);
    VelkDocument doc;
    in >> doc;
    ExpectError(doc, c.code, VelkBase::errorString[c.code], c.row, c.col);
    EXPECT_EQ(Shape(&doc), c.shape);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Errors, StreamOperatorErrorTest, testing::Values(
    OperatorErrorCase{"EmptyStream", "", 13, -1, -1, ""},
    OperatorErrorCase{"WhiteSpaceOnly", "  \n", 8, -1, -1, ""},
    // The parse of what was read finds nothing wrong, but no element came: the
    // stream's error stays.
    OperatorErrorCase{"DeclarationOnly", "<?xml version=\"1.0\"?>", 1, -1, -1, "<?xml 1.0||?>"},
    OperatorErrorCase{"TextAfterDeclaration", "<?xml?>x<root/>", 1, -1, -1, "<?xml ||?>"},
    OperatorErrorCase{"CommentOnly", "<!-- c -->", 1, -1, -1, "<!-- c -->"},
    // The parse finds an error of its own: that one is reported.
    OperatorErrorCase{"OpenTag", "<a b='1'", 4, 0, 3, "a"},
    OperatorErrorCase{"Mismatch", "<a>\n</b>", 9, 1, 0, "a"},
    OperatorErrorCase{"CutShort", "<a><b>text", 6, -1, -1, "a(b('text'))"}));
// clang-format on

TEST(StreamOperator, IntoASingleNode) {
    {
        std::istringstream in("<a>hi</a><b/>");
        VelkElement e("");
        in >> e;
        EXPECT_EQ(Shape(&e), "a('hi')");
        EXPECT_EQ(Rest(in), "<b/>");
    }
    {
        std::istringstream in("<!-- x -->y");
        VelkComment comment;
        in >> comment;
        EXPECT_STREQ(comment.Value(), " x ");
        EXPECT_EQ(Rest(in), "y");
    }
    {
        std::istringstream in("a &lt; b<c");
        VelkText text("");
        in >> text;
        EXPECT_STREQ(text.Value(), "a < b");
        EXPECT_EQ(Rest(in), "<c");
    }
    {
        std::istringstream in("<!X y>z");
        VelkUnknown unknown;
        in >> unknown;
        EXPECT_STREQ(unknown.Value(), "!X y");
    }
}

// A million nested elements, read from a stream: followed with a depth count,
// then parsed without recursion.
const int kDeep = 1000000;

std::string DeepText(int depth) {
    std::string text;
    text.reserve(static_cast<size_t>(depth) * 7 + 8);
    for (int i = 0; i < depth; ++i) text += "<e>";
    for (int i = 0; i < depth; ++i) text += "</e>";
    return text;
}

int ElementDepth(const VelkNode* node) {
    int depth = 0;
    for (const VelkNode* e = node->FirstChildElement(); e; e = e->FirstChildElement()) ++depth;
    return depth;
}

TEST(DeepStream, AMillionLevelsIntoADocument) {
    std::istringstream in(DeepText(kDeep) + "<after/>");
    VelkDocument doc;
    in >> doc;
    ExpectNoError(doc);
    EXPECT_EQ(ElementDepth(&doc), kDeep);
    EXPECT_EQ(Rest(in), "<after/>");
}

TEST(DeepStream, AMillionLevelsIntoAnElement) {
    std::istringstream in(DeepText(kDeep) + "tail");
    VelkElement e("");
    in >> e;
    EXPECT_STREQ(e.Value(), "e");
    EXPECT_EQ(ElementDepth(&e), kDeep - 1);
    EXPECT_EQ(Rest(in), "tail");
}

TEST(DeepStream, AMillionLevelsCutShort) {
    std::string text = DeepText(kDeep);
    text.resize(text.size() / 2);
    std::istringstream in(text);
    VelkDocument doc;
    in >> doc;
    ExpectError(doc, 6, "Error reading Element value.", -1, -1);
    EXPECT_EQ(ElementDepth(&doc), kDeep);
}

}  // namespace
