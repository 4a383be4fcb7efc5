// Element and attribute parsing: start tags, attribute values, content, end
// tags, errors and where they point, repeated attributes, long attribute lists
// and nesting far deeper than any call stack.
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "tree_shape.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

// An element linked in a document parses the input with a tracker.
TEST(ElementParse, TreeResultAndError) {
    // clang-format off
    // result: the offset of the returned position, -1 for null
    const struct { const char *input, *shape; long result; const char* status; } cases[] = {
        {"<a/>", "a", 4, "ok"},
        {"  <a\n\t/>rest", "a", 8, "ok"},
        {"<Ab.c-d:e_1></aB.C-D:E_1>rest", "Ab.c-d:e_1", 25, "ok"},  // end tag in any case
        {"<a b='1'c=\"2\" B = '3'\n d\t=\t'4' />", "a[b=1,c=2,B=3,d=4]", 33, "ok"},
        {"<a b='x&lt;y' c=\"it's\" d='&#x41;' e=\"&quot;&apos;\"/>", "a[b=x<y,c=it's,d=A,e=\"']",
         52, "ok"},
        {"<a d=x&amp;y/>", "a[d=x&amp;y]", 14, "ok"},  // unquoted values are taken verbatim
        {"<a b=>x</a>", "a[b=]('x')", 11, "ok"},
        {"<a b='  two\n\tlines '/>", "a[b=  two\n\tlines ]", 22, "ok"},
        {"<a>  hello  <b/>  world  </a>", "a('hello',b,'world')", 29, "ok"},
        {"<a> &#x20;x <b>&#x20;</b></a>", "a(' x',b)", 29, "ok"},  // a decoded space is kept
        {"<a><!-- x --><?xml v?><!X>x > y</a>", "a(<!-- x -->,<?xml ||?>,<!X>,'x > y')", 35, "ok"},
        // Errors, with what was built before them.
        {"<\n1a/>", "", -1, "5@1:0"},
        {"<x href=a/b>", "x[href=a]", -1, "8@0:10"},
        {"<r>\n  <a>x\n</b></r>", "r(a('x'))", -1, "9@2:0"},
        {"<a><b/> ", "a(b)", -1, "6@-1:-1"},  // white space after the last child
        {"<a><?xml version?></a>", "a(<?xml ||?>)", -1, "6@-1:-1"},
        {"<r><a b></a></r>", "r(a)", -1, "7@0:7"},  // the child's own error comes first
        {"<r><s><t/ x></s></r>", "r(s(t))", -1, "8@0:9"},
        // A repeated name: the later value is stored, nothing after it is read,
        // and the error points at the repeated name.
        {"<a b='1' b='2'><c/></a>", "a[b=2]", -1, "7@0:9"},
        {"<a x='1' y='2' x='3' z='4'/>", "a[x=3,y=2]", -1, "7@0:15"},
        {"<a>\n<b c='1'\n  c='2'/></a>", "a(b[c=2])", -1, "7@2:2"}};
    // clang-format on
    for (const auto& c : cases) {
        VelkDocument doc;
        VelkElement* e = static_cast<VelkElement*>(doc.LinkEndChild(new VelkElement("old")));
        VelkParsingData data(c.input, 4, 0, 0);
        const char* end = e->Parse(c.input, &data);
        EXPECT_EQ(Shape(&doc), c.shape) << c.input;
        EXPECT_EQ(end ? end - c.input : -1, c.result) << c.input;
        EXPECT_EQ(Status(doc), c.status) << c.input;
    }
}

TEST(AttributeParse, ReturnsThePositionAfterItsValue) {
    // clang-format off
    const struct { const char* input; long end; const char* value; } cases[] = {
        {"b='1' c", 5, "1"}, {"b = \"x y\">", 9, "x y"}, {"b=\"a'b\"", 7, "a'b"}, {"b=v/>", 3, "v"},
        {"b=v>", 3, "v"}, {"b=v w", 3, "v"}, {"b='open", 7, "open"}};
    // clang-format on
    for (const auto& c : cases) {
        VelkAttribute attribute;
        EXPECT_EQ(attribute.Parse(c.input, nullptr) - c.input, c.end) << c.input;
        EXPECT_STREQ(attribute.Name(), "b");
        EXPECT_STREQ(attribute.Value(), c.value) << c.input;
    }
}

const int kLongList = 100000;

TEST(ElementParse, LongAttributeListsKeepOrderAndFindRepeats) {
    for (int count : {15, 16, 17, kLongList}) {
        std::string head = "<a";
        for (int i = 0; i < count; ++i)
            head += " n" + std::to_string(i) + "='" + std::to_string(i) + "'";
        for (bool repeat : {false, true}) {
            SCOPED_TRACE(std::to_string(count) + (repeat ? " with a repeat" : ""));
            const std::string text = head + (repeat ? " n7='again' n99999999='x'/>" : "/>");
            VelkDocument doc;
            doc.Parse(text.c_str(), nullptr);
            EXPECT_EQ(Status(doc), repeat ? "7@0:" + std::to_string(head.size() + 1) : "ok");
            int seen = 0;
            bool inOrder = true;
            for (auto* at = doc.FirstChildElement()->FirstAttribute(); at; at = at->Next(), ++seen)
                inOrder = inOrder && at->Name() == "n" + std::to_string(seen) &&
                          at->Value() == (repeat && seen == 7 ? "again" : std::to_string(seen));
            EXPECT_TRUE(inOrder);
            EXPECT_EQ(seen, count);
        }
    }
}

TEST(DeepNesting, AMillionLevelsAsText) {
    const int deep = 1000000;
    const std::string whole = DeepText(deep);
    std::string mismatch = whole;
    mismatch[deep * 3 + 2] = 'x';  // the innermost end tag becomes </x>
    const struct {
        std::string text;
        long result;
        const char* status;
    } cases[] = {{whole + " ", static_cast<long>(whole.size()) + 1, "ok"},
                 {whole.substr(0, whole.size() - 4), -1, "6@-1:-1"},
                 {mismatch, -1, "9@0:3000000"}};
    for (const auto& c : cases) {
        VelkDocument doc;
        const char* end = doc.Parse(c.text.c_str(), nullptr);
        EXPECT_EQ(end ? end - c.text.c_str() : -1, c.result);
        EXPECT_EQ(Status(doc), c.status);
        EXPECT_EQ(Depth(&doc), deep);
    }
}

}  // namespace
