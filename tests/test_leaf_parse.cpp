// Parsing the leaf kinds: comments, text, declarations and unknown markup,
// what each fills in, where it stops, and its errors when called directly.
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "tree_shape.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

VelkNode* Make(char kind) {
    if (kind == 'c') return new VelkComment();
    if (kind == 'd') return new VelkDeclaration();
    if (kind == 'u') return new VelkUnknown();
    return new VelkText("");
}

// A node of each kind, linked in a document, parses the input with a tracker.
TEST(LeafParse, ValueResultAndError) {
    // clang-format off
    // kind c: comment, t: text, d: declaration, u: unknown; result: the offset of
    // the returned position, -1 for null
    const struct { char kind; const char *input, *shape; long result; const char *status; }
    cases[] = {
        {'c', "<!-- a -- b > c -->x", "<!-- a -- b > c -->", 19, "ok"},
        {'c', "<!---->", "<!---->", 7, "ok"},
        {'c', "  <!-- &lt;b&gt; -->", "<!-- <b> -->", 20, "ok"},
        {'c', "<!--\r\n\tx\n--->", "<!--\r\n\tx\n--->", 13, "ok"},
        {'c', "<!-- open", "<!-- open-->", 9, "ok"},
        {'c', "\n  <!- x -->", "<!---->", -1, "11@1:2"},  // emptied before the check
        {'c', "  ", "<!---->", -1, "11@0:2"},
        {'t', "a &amp; b<", "'a & b'", 9, "ok"},
        {'t', "one\r\n\t two </a>", "'one two'", 11, "ok"},
        {'t', "x > y<", "'x > y'", 5, "ok"},
        {'t', "<", "''", 0, "ok"},
        {'d', "<?xml version='1' encoding=\"UTF-8\" standalone='yes'?>", "<?xml 1|UTF-8|yes?>", 53,
         "ok"},
        {'d', "<?xml standalone='no' foo='bar' version='1.1'?>x", "<?xml 1.1||no?>", 47, "ok"},
        {'d', "<?xml version='1.0'>", "<?xml 1.0||?>", 20, "ok"},
        {'d', "<?xml version=1.0?>", "<?xml 1.0?||?>", 19, "ok"},
        {'d', "<?xml VERSION='1' versionx='2' version='3'?>", "<?xml 3||?>", 44, "ok"},
        {'d', "<?xml encoding='a&amp;b c'?>", "<?xml |a&b c|?>", 28, "ok"},
        {'d', "<?xml version?>", "<?xml ||?>", -1, "ok"},  // the enclosing element reports it
        {'d', "<?xml version='1.0", "<?xml 1.0||?>", -1, "ok"},
        {'d', " <?XML?>", "<?xml ||?>", -1, "12@-1:-1"},
        {'d', "", "<?xml ||?>", -1, "12@-1:-1"},
        {'u', "<!DOCTYPE note SYSTEM 'n.dtd'>", "<!DOCTYPE note SYSTEM 'n.dtd'>", 30, "ok"},
        {'u', "<![CDATA[a>b]]>", "<![CDATA[a>", 11, "ok"},  // verbatim to the first '>'
        {'u', " <x &amp; y>z", "<x &amp; y>", 12, "ok"},
        {'u', "<!oops", "<!oops>", 6, "ok"},
        {'u', "<>", "<>", 2, "ok"},
        {'u', "\t x>", "<old>", -1, "10@0:5"}};
    // clang-format on
    for (const auto& c : cases) {
        VelkDocument doc;
        VelkNode* node = doc.LinkEndChild(Make(c.kind));
        node->SetValue("old");
        VelkParsingData data(c.input, 4, 0, 0);
        const char* end = node->Parse(c.input, &data);
        EXPECT_EQ(Shape(node), c.shape) << c.input;
        EXPECT_EQ(end ? end - c.input : -1, c.result) << c.input;
        EXPECT_EQ(Status(doc), c.status) << c.input;
    }
}

TEST(LeafParse, ADeclarationParsedAgainStartsFromEmptyFields) {
    VelkDeclaration decl;
    decl.Parse("<?xml version='1' encoding='e'?>", nullptr);
    decl.Parse("<?xml standalone='s'?>", nullptr);
    EXPECT_EQ(Shape(&decl), "<?xml ||s?>");
}

}  // namespace
