// Element and attribute parsing: start tags, attribute values, content, end
// tags, every error with its message and position, repeated attributes, and
// nesting far deeper than any call stack.
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "tree_shape.h"

using TAVARO::VelkAttribute;
using TAVARO::VelkBase;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;
using TAVARO::VelkParsingData;
using velk_test::ExpectError;
using velk_test::ExpectNoError;
using velk_test::Shape;

namespace {

class CondenseSwitch {
public:
    explicit CondenseSwitch(bool on) : saved_(VelkBase::condenseWhiteSpace) {
        VelkBase::condenseWhiteSpace = on;
    }
    ~CondenseSwitch() { VelkBase::condenseWhiteSpace = saved_; }

private:
    bool saved_;
};

struct TreeCase {
    const char* input;
    const char* shape;
};

class ElementTreeTest : public testing::TestWithParam<TreeCase> {};

TEST_P(ElementTreeTest, ParsesWithoutError) {
    VelkDocument doc;
    doc.Parse(GetParam().input, nullptr);
    ExpectNoError(doc);
    EXPECT_EQ(Shape(&doc), GetParam().shape);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Trees, ElementTreeTest, testing::Values(
    TreeCase{"<a/>", "a"},
    TreeCase{"<a />", "a"},
    TreeCase{"<a\n\t/>", "a"},
    TreeCase{"<a></a>", "a"},
    TreeCase{"<a></A>", "a"},
    TreeCase{"<Ab.c-d:e_1></aB.C-D:E_1>", "Ab.c-d:e_1"},
    TreeCase{"<a b='1' c=\"2\"/>", "a[b=1,c=2]"},
    TreeCase{"<a b='1'c='2'/>", "a[b=1,c=2]"},
    TreeCase{"<a b = '1'\n c\t=\t\"2\" />", "a[b=1,c=2]"},
    TreeCase{"<a b='x&lt;y' c=\"it's\" d=plain e='&#x41;'/>", "a[b=x<y,c=it's,d=plain,e=A]"},
    TreeCase{"<a b='say \"hi\"' c=\"&quot;&apos;\"/>", "a[b=say \"hi\",c=\"']"},
    TreeCase{"<a d=x&amp;y/>", "a[d=x&amp;y]"},
    TreeCase{"<a b=/>", "a[b=]"},
    TreeCase{"<a b=>x</a>", "a[b=]('x')"},
    TreeCase{"<a b='  two\n\tlines '/>", "a[b=  two\n\tlines ]"},
    TreeCase{"<a B='1' b='2'/>", "a[B=1,b=2]"},
    TreeCase{"<a>  hello  <b/>  world  </a>", "a('hello',b,'world')"},
    TreeCase{"<a>&#x20;</a>", "a"},
    TreeCase{"<a> &#x20;x </a>", "a(' x')"},
    TreeCase{"<a><!-- x --><?xml v?><!X></a>", "a(<!-- x -->,<?xml ||?>,<!X>)"},
    TreeCase{"<a>1<b>2<c>3</c>4</b>5</a>", "a('1',b('2',c('3'),'4'),'5')"},
    TreeCase{"<a>x > y</a>", "a('x > y')"},
    TreeCase{"<a><b></b><b/><c></c></a>", "a(b,b,c)"},
    TreeCase{"< a/>", "< a/>"}));
// clang-format on

TEST(ElementParse, TextKeepsItsWhiteSpaceWhenCondensingIsOff) {
    CondenseSwitch off(false);
    VelkDocument doc;
    doc.Parse("<a>  hello  <b/>  world \r\n </a>", nullptr);
    ExpectNoError(doc);
    EXPECT_EQ(Shape(&doc), "a('hello  ',b,'world \r\n ')");
}

struct ReturnCase {
    const char* input;
    long result;  // offset of the returned position; -1 for null
};

class ElementReturnTest : public testing::TestWithParam<ReturnCase> {};

TEST_P(ElementReturnTest, ReturnsThePositionAfterTheElement) {
    const ReturnCase& c = GetParam();
    VelkElement e("");
    const char* end = e.Parse(c.input, nullptr);
    if (c.result < 0) {
        EXPECT_EQ(end, nullptr);
    } else {
        EXPECT_EQ(end, c.input + c.result);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Returns, ElementReturnTest, testing::Values(
    ReturnCase{"<a/>", 4},
    ReturnCase{"  <a />rest", 7},
    ReturnCase{"<a></a>rest", 7},
    ReturnCase{"<a><b/></A >", -1},
    ReturnCase{"<a><b/>", -1},
    ReturnCase{"<a><b/> ", -1},
    ReturnCase{"<a>", -1}));
// clang-format on

struct ErrorCase {
    const char* name;
    const char* input;
    int code;
    const char* message;
    int row;
    int col;
    const char* shape;  // what the document holds afterwards
};

std::ostream& operator<<(std::ostream& os, const ErrorCase& c) {
    return os << c.name;
}

class ElementErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(ElementErrorTest, RecordsTheFirstErrorWithItsPosition) {
    const ErrorCase& c = GetParam();
    VelkDocument doc;
    EXPECT_EQ(doc.Parse(c.input, nullptr), nullptr);
    ExpectError(doc, c.code, c.message, c.row, c.col);
    EXPECT_EQ(Shape(&doc), c.shape);
}

const char* const kParseElement = "Error parsing Element.";
const char* const kElementName = "Failed to read Element name";
const char* const kElementValue = "Error reading Element value.";
const char* const kAttributes = "Error reading Attributes.";
const char* const kEmptyTag = "Error: empty tag.";
const char* const kEndTag = "Error reading end tag.";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Errors, ElementErrorTest, testing::Values(
    ErrorCase{"NameRunsToTheEnd", "<a", 5, kElementName, 0, 1, "a"},
    ErrorCase{"InputEndsAfterTheName", "<a  ", 7, kAttributes, 0, 2, "a"},
    ErrorCase{"InputEndsAfterAnAttribute", "<a b='1' ", 7, kAttributes, 0, 8, "a[b=1]"},
    ErrorCase{"ValueEndsAtTheEnd", "<a b='1'", 4, kParseElement, 0, 3, "a"},
    ErrorCase{"NoEqualsSign", "<a b>", 7, kAttributes, 0, 4, "a"},
    ErrorCase{"NoEqualsSignAtTheEnd", "<a b", 7, kAttributes, 0, 3, "a"},
    ErrorCase{"NothingAfterEquals", "<a b=", 7, kAttributes, -1, -1, "a"},
    ErrorCase{"SpaceAfterEquals", "<a b= ", 7, kAttributes, 0, 6, "a"},
    ErrorCase{"NoAttributeName", "<a 1='x'/>", 7, kAttributes, 0, 3, "a"},
    ErrorCase{"UnclosedValue", "<a b='x", 4, kParseElement, 0, 3, "a"},
    ErrorCase{"UnquotedValueToTheEnd", "<a b=x", 4, kParseElement, 0, 3, "a"},
    ErrorCase{"SlashNotClosing", "<a/ >", 8, kEmptyTag, 0, 3, "a"},
    ErrorCase{"UnquotedSlash", "<x href=a/b>", 8, kEmptyTag, 0, 10, "x[href=a]"},
    ErrorCase{"OtherEndTag", "<a></b>", 9, kEndTag, 0, 3, "a"},
    ErrorCase{"SpaceInEndTag", "<a></a >", 9, kEndTag, 0, 3, "a"},
    ErrorCase{"SpaceInEndTagStart", "<a></ a>", 9, kEndTag, 0, 3, "a"},
    ErrorCase{"NestedOtherEndTag", "<r><a></b></r>", 9, kEndTag, 0, 6, "r(a)"},
    ErrorCase{"EndTagOnLaterLine", "<r>\n  <a>x\n</b></r>", 9, kEndTag, 2, 0, "r(a('x'))"},
    ErrorCase{"Unclosed", "<a>", 6, kElementValue, -1, -1, "a"},
    ErrorCase{"UnclosedAfterText", "<a>text", 6, kElementValue, -1, -1, "a('text')"},
    ErrorCase{"UnclosedAfterChild", "<a><b/>", 6, kElementValue, -1, -1, "a(b)"},
    // Also an error when white space follows the last child.
    ErrorCase{"UnclosedAfterChildAndSpace", "<a><b/> ", 6, kElementValue, -1, -1, "a(b)"},
    ErrorCase{"UnclosedNested", "<a><b><c></c>\n", 6, kElementValue, -1, -1, "a(b(c))"},
    ErrorCase{"UnclosedComment", "<a><!-- x", 6, kElementValue, -1, -1, "a(<!-- x-->)"},
    ErrorCase{"MalformedDeclaration", "<a><?xml version?></a>", 6, kElementValue, -1, -1,
              "a(<?xml ||?>)"},
    ErrorCase{"ChildErrorComesFirst", "<r><a b></a></r>", 7, kAttributes, 0, 7, "r(a)"},
    ErrorCase{"DeepChildError", "<r><s><t/ x></s></r>", 8, kEmptyTag, 0, 9, "r(s(t))"},
    // A repeated attribute name: the later value wins, nothing after it is
    // read, and error 7 points at the repeated name.
    ErrorCase{"RepeatedAttribute", "<a b='1' b='2'><c/></a>", 7, kAttributes, 0, 9, "a[b=2]"},
    ErrorCase{"RepeatedAttributeKeepsItsPlace", "<a x='1' y='2' x='3' z='4'/>", 7, kAttributes,
              0, 15, "a[x=3,y=2]"},
    ErrorCase{"RepeatedAttributeInAChild", "<r><a b='1' b='2'/></r>", 7, kAttributes, 0, 12,
              "r(a[b=2])"},
    ErrorCase{"RepeatedAttributeOnLaterLine", "<a>\n<b c='1'\n  c='2'/></a>", 7, kAttributes,
              2, 2, "a(b[c=2])"}));
// clang-format on

TEST(ElementParse, DirectParseErrorsWithoutAndWithPosition) {
    // Errors that no document parse can reach: the element's own opening checks.
    struct Case {
        const char* input;
        int code;
        int row;
        int col;
    } cases[] = {
        {"", 4, -1, -1},  {"   ", 4, -1, -1}, {"  x", 4, 0, 2},
        {"<", 5, -1, -1}, {"< ", 5, 0, 2},    {"<\n1a/>", 5, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        VelkDocument doc;
        VelkElement* e = static_cast<VelkElement*>(doc.LinkEndChild(new VelkElement("old")));
        VelkParsingData data(c.input, 4, 0, 0);
        EXPECT_EQ(e->Parse(c.input, &data), nullptr);
        EXPECT_EQ(doc.ErrorCode(), c.code);
        EXPECT_STREQ(doc.ErrorMessage(), VelkBase::errorString[c.code]);
        EXPECT_EQ(doc.ErrorCursor().row, c.row);
        EXPECT_EQ(doc.ErrorCursor().col, c.col);
        if (c.code == 5) {
            EXPECT_STREQ(e->Value(), "");
        }
    }
}

TEST(ElementParse, WithoutADocumentNothingIsRecordedAnywhere) {
    VelkElement e("");
    EXPECT_EQ(e.Parse("<a b='1'><c></d></a>", nullptr), nullptr);
    EXPECT_EQ(Shape(&e), "a[b=1](c)");
    EXPECT_EQ(e.FirstAttribute()->Location().row, -1);
}

TEST(ElementParse, AnElementInsideADocumentReportsToIt) {
    VelkDocument doc;
    VelkNode* e = doc.LinkEndChild(new VelkElement(""));
    EXPECT_EQ(e->Parse("<a><b></a>", nullptr), nullptr);
    ExpectError(doc, 9, kEndTag, -1, -1);
}

TEST(ElementParse, AttributeErrorsGoToTheAttributesDocument) {
    VelkDocument doc;
    const char* text = "b c";
    VelkParsingData data(text, 4, 0, 0);
    VelkAttribute attribute;
    attribute.SetDocument(&doc);
    EXPECT_EQ(attribute.Parse(text, &data), nullptr);
    ExpectError(doc, 7, kAttributes, 0, 2);
    EXPECT_STREQ(attribute.Name(), "b");
    EXPECT_EQ(attribute.Location().col, 0);

    VelkAttribute loose;  // no document: no error anywhere
    EXPECT_EQ(loose.Parse("=x", nullptr), nullptr);
    EXPECT_EQ(loose.Parse("   ", nullptr), nullptr);
}

TEST(ElementParse, AttributeReturnsThePositionAfterItsValue) {
    struct Case {
        const char* input;
        size_t end;
        const char* value;
    } cases[] = {
        {"b='1' c", 5, "1"}, {"b = \"x y\">", 9, "x y"}, {"b=v/>", 3, "v"},       {"b=v>", 3, "v"},
        {"b=v w", 3, "v"},   {"b='open", 7, "open"},     {"b=\"a'b\"", 7, "a'b"},
    };
    for (const Case& c : cases) {
        VelkAttribute attribute;
        EXPECT_EQ(attribute.Parse(c.input, nullptr), c.input + c.end) << c.input;
        EXPECT_STREQ(attribute.Name(), "b");
        EXPECT_STREQ(attribute.Value(), c.value);
    }
}

TEST(ReadValue, StopsAtTheEndTagAndLinksTheChildren) {
    const char* text = " x <b/> y </a>";
    VelkElement a("a");
    EXPECT_EQ(a.ReadValue(text, nullptr), text + 10);
    EXPECT_EQ(Shape(&a), "a('x',b,'y')");
}

TEST(ReadValue, EndOfInputIsReturnedWithError6) {
    const char* text = "<b/>  ";
    VelkDocument doc;
    VelkElement* a = static_cast<VelkElement*>(doc.LinkEndChild(new VelkElement("a")));
    EXPECT_EQ(a->ReadValue(text, nullptr), text + 6);
    ExpectError(doc, 6, kElementValue, -1, -1);
}

TEST(ReadValue, AChildsEndTagIsMatchedInsideTheWalk) {
    VelkDocument doc;
    VelkElement* a = static_cast<VelkElement*>(doc.LinkEndChild(new VelkElement("a")));
    EXPECT_EQ(a->ReadValue("<b></c></a>", nullptr), nullptr);
    ExpectError(doc, 9, kEndTag, -1, -1);
}

// The repeated-name check of a long attribute list must give the answers of a
// short one: order kept, the repeat found wherever it is, the later value kept.
// Debug builds check every VelkAttributeSet::Add with a walk of the whole list,
// which makes a long list quadratic there; they use a shorter one.
#ifdef NDEBUG
const int kLongList = 100000;
#else
const int kLongList = 4000;
#endif

std::string ManyAttributes(int count) {
    std::string text = "<a";
    for (int i = 0; i < count; ++i)
        text += " n" + std::to_string(i) + "='" + std::to_string(i) + "'";
    return text;
}

TEST(ElementParse, ALongAttributeListKeepsItsOrder) {
    const int count = kLongList;
    const std::string text = ManyAttributes(count) + "/>";
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    ExpectNoError(doc);
    VelkElement* a = doc.FirstChildElement();
    int seen = 0;
    for (VelkAttribute* at = a->FirstAttribute(); at; at = at->Next(), ++seen) {
        if (seen % 997 == 0) {
            EXPECT_EQ(std::string(at->Name()), "n" + std::to_string(seen));
        }
    }
    EXPECT_EQ(seen, count);
    EXPECT_EQ(a->LastAttribute()->Value(), std::to_string(count - 1));
}

TEST(ElementParse, ARepeatInALongAttributeListIsFound) {
    for (int count : {15, 16, 17, 40, kLongList}) {
        SCOPED_TRACE(count);
        const std::string head = ManyAttributes(count) + " ";
        const std::string text = head + "n7='again' n99999999='x'/>";
        VelkDocument doc;
        EXPECT_EQ(doc.Parse(text.c_str(), nullptr), nullptr);
        ExpectError(doc, 7, kAttributes, 0, static_cast<int>(head.size()));
        VelkElement* a = doc.FirstChildElement();
        EXPECT_STREQ(a->Attribute("n7"), "again");
        EXPECT_EQ(a->Attribute("n99999999"), nullptr);
        EXPECT_STREQ(a->LastAttribute()->Name(), ("n" + std::to_string(count - 1)).c_str());
    }
}

// Nesting deeper than any call stack allows: the parse walks down and back up
// through the parent links.
const int kDeep = 1000000;

std::string DeepText(int depth) {
    std::string text;
    text.reserve(static_cast<size_t>(depth) * 7);
    for (int i = 0; i < depth; ++i) text += "<e>";
    for (int i = 0; i < depth; ++i) text += "</e>";
    return text;
}

int ElementDepth(const VelkNode* node) {
    int depth = 0;
    for (const VelkNode* e = node->FirstChildElement(); e; e = e->FirstChildElement()) {
        ++depth;
        EXPECT_EQ(e->FirstChild(), e->LastChild());
        if (depth % 100000 == 0) {
            EXPECT_STREQ(e->Value(), "e");
        }
    }
    return depth;
}

TEST(DeepNesting, AMillionLevelsAsText) {
    const std::string text = DeepText(kDeep) + " ";
    VelkDocument doc;
    EXPECT_EQ(doc.Parse(text.c_str(), nullptr), text.c_str() + text.size());
    ExpectNoError(doc);
    EXPECT_EQ(ElementDepth(&doc), kDeep);
}

TEST(DeepNesting, AMillionLevelsWithTheLastEndTagMissing) {
    std::string text = DeepText(kDeep);
    text.resize(text.size() - 4);
    VelkDocument doc;
    EXPECT_EQ(doc.Parse(text.c_str(), nullptr), nullptr);
    ExpectError(doc, 6, kElementValue, -1, -1);
    EXPECT_EQ(ElementDepth(&doc), kDeep);
}

TEST(DeepNesting, AMismatchAtTheBottomIsReportedWhereItIs) {
    std::string text = DeepText(kDeep);
    const size_t bottom = static_cast<size_t>(kDeep) * 3;
    text[bottom + 2] = 'x';  // the innermost end tag becomes </x>
    VelkDocument doc;
    EXPECT_EQ(doc.Parse(text.c_str(), nullptr), nullptr);
    ExpectError(doc, 9, kEndTag, 0, static_cast<int>(bottom));
}

}  // namespace
