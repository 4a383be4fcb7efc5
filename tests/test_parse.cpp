// Parsing: one table over every kind of item (the document, an element, the
// leaf kinds, an attribute and an element's content) with the returned
// position, the tree, the recorded error and the locations; the kind of node
// made for each piece of markup; long attribute lists; the row and column
// tracker, each stamp counting on from the last.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

// Every location below item in document order, attributes after their element.
std::string Locations(const VelkBase& item) {
    std::string out =
        std::to_string(item.Location().row) + ":" + std::to_string(item.Location().col);
    const VelkNode* node = dynamic_cast<const VelkNode*>(&item);
    if (const VelkElement* e = node ? node->ToElement() : nullptr)
        for (auto* a = e->FirstAttribute(); a; a = a->Next()) out += " " + Locations(*a);
    for (const VelkNode* c = node ? node->FirstChild() : nullptr; c; c = c->NextSibling())
        out += " " + Locations(*c);
    return out;
}

struct ParseCase {
    // D: the document parses; e, c, t, d, u: a node of that kind (see Linked)
    // parses with a tracker; v: an element's ReadValue with a tracker; a: a free
    // attribute, without either.
    char kind;
    const char* input;
    long result;                      // the offset of the returned position, -1 for null
    const char* shape;                // of the node (for an attribute: name=value)
    std::string status;               // of the document
    const char* locations = nullptr;  // every location below the node, when checked
};

// One case per line.
// clang-format off
const ParseCase kCases[] = {
    {'D', nullptr, -1, "", "13@-1:-1"},
    {'D', "  \n \r\n ", 7, "", "13@-1:-1"},            // white space only: an empty document
    {'D', "<root/>", -1, "root", "ok"},                 // the last node ends at the end
    {'D', "<root/>  ", 9, "root", "ok"},
    {'D', "<?xml version='1.0'?><!-- c --><root/>", -1, "<?xml 1.0||?>,<!-- c -->,root", "ok"},
    {'D', "<?xml?><r/>", -1, "<?xml ||?>,r", "ok"},
    {'D', "<?XML version='1.0'?>", -1, "<?XML version='1.0'?>", "ok"},
    // An end tag with no element open and a '<' followed by no name are
    // unknown markup; a second element is one more top-level node.
    {'D', "</a> <1> < a> <?php x ?>", -1, "</a>,<1>,< a>,<?php x ?>", "ok"},
    {'D', "<a/>\n<b/> ", 10, "a,b", "ok", "0:0 0:0 1:0"},
    {'D', "<a/><!-- c --></a><b></b>", -1, "a,<!-- c -->,</a>,b", "ok"},
    {'D', "<a><b></a><c/>", -1, "a(b)", "9@0:6"},       // a failed node stays and ends the parse
    // Locations: the document's own is where the text starts.
    {'D', " <?xml version='1.0'?>\n<!-- c -->\t<!X>\r\n<r\n x='1'>\n\t  text <e/></r>", -1,
     "<?xml 1.0||?>,<!-- c -->,<!X>,r[x=1]('text',e)", "ok", "0:0 0:1 1:0 1:12 2:0 3:1 4:6 4:11"},
    {'D', "\n\n  <a/>", -1, "a", "ok", "0:0 2:2"},
    // Start tags that end too soon.
    {'D', "<abc", -1, "abc", "5@0:1"},
    {'D', "<a ", -1, "a", "7@0:2"},
    {'D', "<a b>", -1, "a", "7@0:4"},
    {'D', "<a b=", -1, "a", "7@-1:-1"},                // '=' as the last character
    {'D', "<a b= ", -1, "a", "7@0:6"},
    {'D', "<a =1/>", -1, "a", "7@0:3"},
    {'D', "<a b='x", -1, "a", "4@0:3"},
    {'D', "<a>text", -1, "a('text')", "6@-1:-1"},
    // An element: start tag, attributes, content and end tag.
    {'e', "  <a\n\t/>rest", 8, "a", "ok", "0:2"},
    {'e', "<Ab.c-d:e_1></aB.C-D:E_1>rest", 25, "Ab.c-d:e_1", "ok"},  // end tag in any case
    {'e', "<a b='1'c=\"2\" B = '3'\n d\t=\t'4' />", 33, "a[b=1,c=2,B=3,d=4]", "ok",
     "0:0 0:3 0:8 0:14 1:1"},
    {'e', "<a b='x&lt;y' c=\"it's\" d='&#x41;' e=\"&quot;&apos;\"/>", 52,
     "a[b=x<y,c=it's,d=A,e=\"']", "ok"},
    {'e', "<a d=x&amp;y/>", 14, "a[d=x&amp;y]", "ok"},  // unquoted values are taken verbatim
    {'e', "<a b=>x</a>", 11, "a[b=]('x')", "ok"},
    {'e', "<a b='  two\n\tlines '/>", 22, "a[b=  two\n\tlines ]", "ok"},
    {'e', "<a>  hello  <b/>  world  </a>", 29, "a('hello',b,'world')", "ok"},
    {'e', "<a> &#x20;x <b>&#x20;</b></a>", 29, "a(' x',b)", "ok"},  // a decoded space is kept
    {'e', "<a><!-- x --><?xml v?><!X>x > y</a>", 35, "a(<!-- x -->,<?xml ||?>,<!X>,'x > y')", "ok"},
    {'e', "  x", -1, "old", "4@0:2"},
    {'e', "<\n1a/>", -1, "", "5@1:0"},
    {'e', "<x href=a/b>", -1, "x[href=a]", "8@0:10"},
    {'e', "<r>\n  <a>x\n</b></r>", -1, "r(a('x'))", "9@2:0"},
    {'e', "<a><b/> ", -1, "a(b)", "6@-1:-1"},           // white space after the last child
    {'e', "<a><?xml version?></a>", -1, "a(<?xml ||?>)", "12@0:3"},
    {'e', "<a>\n<1b/></a>", 13, "a(<1b/>)", "ok", "0:0 1:0"},
    {'e', "<a>x < y</a>", -1, "a('x',< y</a>)", "6@-1:-1"},  // unknown markup up to the '>'
    {'e', "<a><![CDATA[x</a>", -1, "a('')", Coded(VELK_ERROR_CDATA_UNCLOSED, "0:3")},
    {'e', "<r><a b></a></r>", -1, "r(a)", "7@0:7"},     // the child's own error comes first
    // A repeated name: the later value is stored, nothing after it is read,
    // and the error points at the repeated name.
    {'e', "<a x='1' y='2' x='3' z='4'/>", -1, "a[x=3,y=2]", "7@0:15"},
    // An element's content up to the "</" that ends it.
    {'v', " t <b>x</b><!--c--> </old>", 20, "old('t',b('x'),<!--c-->)", "ok"},
    {'v', "<b></c>", -1, "old(b)", "9@0:3"},
    {'v', "t", -1, "old('t')", "6@-1:-1"},
    // An attribute stops after its value.
    {'a', "b='1' c", 5, "b=1", "ok"},
    {'a', "b = \"x y\">", 9, "b=x y", "ok"},
    {'a', "b=v w", 3, "b=v", "ok"},
    {'a', "b='open", 7, "b=open", "ok"},
    // The leaf kinds.
    {'c', "<!-- a -- b > c -->x", 19, "<!-- a -- b > c -->", "ok"},
    {'c', "<!---->", 7, "<!---->", "ok"},
    {'c', "  <!-- &lt;b&gt; -->", 20, "<!-- <b> -->", "ok", "0:2"},
    {'c', "<!--\r\n\tx\n--->", 13, "<!--\r\n\tx\n--->", "ok"},
    {'c', "\n  <!- x -->", -1, "<!---->", "11@1:2"},     // emptied before the check
    {'t', "a &amp; b<", 9, "'a & b'", "ok"},
    {'t', "one\r\n\t two </a>", 11, "'one two'", "ok"},
    {'t', "x > y<", 5, "'x > y'", "ok"},
    {'t', "<", 0, "''", "ok"},
    {'d', "<?xml version='1' encoding=\"UTF-8\" standalone='yes'?>", 53, "<?xml 1|UTF-8|yes?>", "ok"},
    {'d', "<?xml standalone='no' foo='bar' version='1.1'?>x", 47, "<?xml 1.1||no?>", "ok"},
    {'d', "<?xml version='1.0'>", 20, "<?xml 1.0||?>", "ok"},
    {'d', "<?xml version=1.0?>", 19, "<?xml 1.0?||?>", "ok"},
    {'d', "<?xml VERSION='1' versionx='2' version='3'?>", 44, "<?xml 3||?>", "ok"},
    {'d', "<?xml encoding='a&amp;b c'?>", 28, "<?xml |a&b c|?>", "ok"},
    {'d', " <?XML?>", -1, "<?xml ||?>", "12@-1:-1"},
    {'u', "<!DOCTYPE note SYSTEM 'n.dtd'>", 30, "<!DOCTYPE note SYSTEM 'n.dtd'>", "ok"},
    {'u', " <x &amp; y>z", 12, "<x &amp; y>", "ok", "0:1"},
    {'u', "<>", 2, "<>", "ok"},
    {'u', "\t x>", -1, "<old>", "10@0:5"},
};
// clang-format on

TEST(Parse, ResultTreeErrorAndLocations) {
    for (const ParseCase& c : kCases) {
        SCOPED_TRACE(std::string(1, c.kind) + " " + (c.input ? c.input : "null"));
        VelkDocument doc;
        const char* end;
        std::string shape, locations;
        if (c.kind == 'a') {
            VelkAttribute attribute;
            end = attribute.Parse(c.input, nullptr);
            shape = std::string(attribute.Name()) + "=" + attribute.Value();
        } else if (c.kind == 'D') {
            end = doc.Parse(c.input, nullptr);
            shape = Shape(&doc);
            locations = Locations(doc);
        } else {
            VelkNode* node = Linked(c.kind == 'v' ? 'e' : c.kind, &doc);
            VelkParsingData data(c.input, 4, 0, 0);
            end = c.kind == 'v' ? node->ToElement()->ReadValue(c.input, &data)
                                : node->Parse(c.input, &data);
            shape = Shape(node);
            locations = Locations(*node);
        }
        EXPECT_EQ(Offset(c.input, end), c.result);
        EXPECT_EQ(shape, c.shape);
        EXPECT_EQ(Status(doc), c.status);
        if (c.locations) {
            EXPECT_EQ(locations, c.locations);
        }
    }
}

// A second parse of a document appends; a second parse of a declaration
// starts from empty fields.
TEST(Parse, AgainAppendsToTheDocumentAndRefillsADeclaration) {
    VelkDocument doc;
    doc.Parse("<a></b>", nullptr);
    doc.Parse("<c/>", nullptr);
    EXPECT_EQ(Status(doc), "ok");
    EXPECT_EQ(Shape(&doc), "a,c");
    VelkDeclaration decl;
    decl.Parse("<?xml version='1' encoding='e'?>", nullptr);
    decl.Parse("<?xml standalone='s'?>", nullptr);
    EXPECT_EQ(Shape(&decl), "<?xml ||s?>");
}

// Locations count tabs to the document's tab stops and go on from a tracker
// given to the parse; without a tracker nothing is located, and an element
// with no document records its error nowhere but still builds its tree.
TEST(Parse, LocationsFollowTheTabSizeAndAGivenTracker) {
    VelkDocument tabs, continued;
    tabs.SetTabSize(8);
    tabs.Parse("\t<a/>", nullptr);
    EXPECT_EQ(Locations(tabs), "0:0 0:8");
    const char* text = "<a b='1'/>";
    VelkParsingData earlier(text, 4, 10, 5);
    continued.Parse(text, &earlier);
    EXPECT_EQ(Locations(continued), "10:5 10:5 10:8");
    VelkElement e("e");
    EXPECT_EQ(e.Parse("<a b='1'><c></d></a>", nullptr), nullptr);
    EXPECT_EQ(Shape(&e), "a[b=1](c)");
    EXPECT_EQ(Locations(e), "-1:-1 -1:-1 -1:-1");
}

TEST(Identify, CreatesTheMatchingKindWithoutLinkingIt) {
    // One case per line.
    // clang-format off
    const int D = VelkNode::DECLARATION, E = VelkNode::ELEMENT, C = VelkNode::COMMENT,
              U = VelkNode::UNKNOWN;
    const struct { const char* input; int type; } cases[] = {  // type -1: no node
        {"<?xml version='1.0'?>", D}, {"<?XML?>", U}, {"<a>", E}, {"\n<_Z/>", E}, {"<!-- c -->", C},
        {"<!DOCTYPE x>", U}, {"</a>", U}, {"<1>", U}, {"< a>", U}, {"<\xE9>", U}, {"text", -1},
        {"   ", -1}, {"", -1}};
    // clang-format on
    VelkElement parent("p");
    for (const auto& c : cases) {
        VelkNode* node = parent.Identify(c.input);
        EXPECT_EQ(node ? node->Type() : -1, c.type) << c.input;
        if (!node) continue;
        EXPECT_EQ(node->Parent(), &parent);
        EXPECT_STREQ(node->Value(), "");
        delete node;
    }
    EXPECT_EQ(parent.FirstChild(), nullptr);
}

// Attribute lists around the size where the parser changes how it finds
// repeated names, and one of 100,000: order kept, a repeat found.
TEST(Parse, LongAttributeListsKeepOrderAndFindRepeats) {
    for (int count : {15, 16, 17, 100000}) {
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
            EXPECT_EQ(CheckLinks(doc), "");
        }
    }
}

struct Step {
    size_t at;  // offset stamped
    int row, col;
};

TEST(Stamp, CountsRowsAndColumnsForwardOnly) {
    // One case per line; row0, col0: where the tracker starts.
    // clang-format off
    const struct { const char* text; int tabSize, row0, col0; std::vector<Step> steps; } cases[] = {
        {"ab\ncd\tef", 4, 0, 0, {{0, 0, 0}, {2, 0, 2}, {5, 1, 2}, {7, 1, 5}}},
        {"abcd\tx", 4, 0, 0, {{5, 0, 8}}},            // a tab at a stop goes a whole stop
        {"abc\tx", 4, 0, 0, {{4, 0, 4}}},
        {"a\t\tb", 3, 0, 0, {{3, 0, 6}}},
        {"\xC3\xA9x", 4, 0, 0, {{3, 0, 3}}},          // one column per byte
        {"a\r\nb", 4, 0, 0, {{2, 1, 0}, {3, 1, 0}, {4, 1, 1}}},  // a pair is one line end
        {"a\n\rb", 4, 0, 0, {{4, 1, 1}}},
        {"a\n\nb", 4, 0, 0, {{4, 2, 1}}},
        {"a\r\rb", 4, 0, 0, {{4, 2, 1}}},
        {"\n\r\n\rx", 4, 0, 0, {{4, 2, 0}}},
        {"abcdef", 4, 0, 0, {{5, 0, 5}, {2, 0, 5}, {6, 0, 6}}},  // never backwards
        {"ab\ncd\0xy", 4, 0, 0, {{4, 1, 1}, {8, 1, 1}, {5, 1, 2}}},  // nothing past a NUL
        {"ab\ncd", 4, 3, 7, {{0, 3, 7}, {2, 3, 9}, {4, 4, 1}}},
        {"ab\ncd", 0, 0, 0, {{4, 0, 0}}},             // tab size 0 or less: no tracking
        {"ab\ncd", -2, 0, 0, {{4, 0, 0}}}};
    // clang-format on
    for (const auto& c : cases) {
        VelkParsingData data(c.text, c.tabSize, c.row0, c.col0);
        for (const Step& s : c.steps) {
            data.Stamp(c.text + s.at);
            EXPECT_EQ(data.Cursor().row, s.row) << c.text << " at " << s.at;
            EXPECT_EQ(data.Cursor().col, s.col) << c.text << " at " << s.at;
        }
    }
}

}  // namespace
