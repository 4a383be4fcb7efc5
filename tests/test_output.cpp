// The three output forms: the escaper they share, the indented form Print writes
// to a FILE, and the compact form written to a string or a stream.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

// The five entities; bytes outside printable ASCII as &#xHH;; a complete
// "&#xH...;" passes through as it is.
TEST(Escape, EntitiesHexReferencesAndPassThrough) {
    const std::string run(5000, 'a');
    // One case per line.
    // clang-format off
    const struct { std::string input, expected; } cases[] = {
        {"&<>\"' ~", "&amp;&lt;&gt;&quot;&apos; ~"},
        {std::string("\0\t\n\x1f\x7f\x80\xe9\xff", 8), "&#x00;&#x09;&#x0A;&#x1F;&#x7F;&#x80;&#xE9;&#xFF;"},
        {run + "<" + run + "\n", run + "&lt;" + run + "&#x0A;"},
        {"&#xA9;", "&#xA9;"}, {"&#xA;", "&#xA;"}, {"x&#xaBc0;&#x42;;<", "x&#xaBc0;&#x42;;&lt;"},
        {"&&#x41;", "&amp;&#x41;"}, {"&#x41<b", "&amp;#x41&lt;b"}, {"&#x", "&amp;#x"},
        {"&#xA", "&amp;#xA"}, {"&#x;", "&amp;#x;"}, {"&#xG1;", "&amp;#xG1;"},
        {"&#X41;", "&amp;#X41;"}, {"&#65;&amp;", "&amp;#65;&amp;amp;"}};
    // clang-format on
    for (const auto& c : cases) {
        std::string appended = "[";
        VelkBase::PutString(c.input, &appended);
        std::ostringstream streamed;
        VelkBase::PutString(c.input, &streamed);
        EXPECT_EQ(appended, "[" + c.expected) << c.input;
        EXPECT_EQ(streamed.str(), c.expected) << c.input;
    }
}

TEST(StringToBuffer, CopiesUpToTheFirstNul) {
    std::string source("ab\0cd", 5);
    const VelkBase::StringToBuffer copy(source);
    source[0] = 'x';
    ASSERT_NE(copy.buffer, nullptr);
    EXPECT_STREQ(copy.buffer, "ab");
}

TEST(Output, EachKindInThePrettyAndCompactForms) {
    VelkElement* attributes = Element("a", "x", "1");
    attributes->SetAttribute("", "");
    attributes->SetAttribute("y", "2");
    const struct {
        VelkNode* node;
        const char* pretty;  // at depth 1; null where it is not checked
        const char* compact;
    } cases[] = {
        {Element("a&<b"), "    <a&<b />", "<a&<b />"},
        {attributes, "    <a x=\"1\" =\"\" y=\"2\" />", "<a x=\"1\" =\"\" y=\"2\" />"},
        // Attribute values take single quotes when they hold a double quote.
        {Element("a", "n", "'\""), "    <a n='&apos;&quot;' />", "<a n='&apos;&quot;' />"},
        {Element("a", "a&b", "it's <&>\n"), "    <a a&amp;b=\"it&apos;s &lt;&amp;&gt;&#x0A;\" />",
         "<a a&amp;b=\"it&apos;s &lt;&amp;&gt;&#x0A;\" />"},
        {Element("a", {Text("")}), "    <a></a>", "<a></a>"},
        {Element("a", {Text("one"), Text("two")}), "    <a>onetwo\n    </a>", "<a>onetwo</a>"},
        {Element("a", {Text("hi"), Element("b")}), "    <a>hi\n        <b />\n    </a>",
         "<a>hi<b /></a>"},
        {Element("a", {Element("b", {Element("c", {Text("x")}), Element("d")}), Text("hi")}),
         "    <a>\n        <b>\n            <c>x</c>\n            <d />\n        </b>hi\n    </a>",
         "<a><b><c>x</c><d /></b>hi</a>"},
        {Element("a", {Comment("n"), Node('u', "!DOCTYPE x"), new VelkDeclaration("1", "", "")}),
         "    <a>\n        <!--n-->\n        <!DOCTYPE x>\n<?xml version=\"1\" ?>\n    </a>",
         "<a><!--n--><!DOCTYPE x><?xml version=\"1\" ?></a>"},
        {Comment("a<b&\n"), "    <!--a<b&\n-->", "<!--a&lt;b&amp;&#x0A;-->"},
        {Node('u', "!x a&<"), "    <!x a&<>", "<!x a&<>"},
        {Text("a\n<&\xE9"), "a&#x0A;&lt;&amp;&#xE9;", "a&#x0A;&lt;&amp;&#xE9;"},
        {new VelkDeclaration("1.0", "UTF-8", "yes"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>"},
        // Declaration values have their markup characters escaped in both forms,
        // so that a value holding either quote reads back as it is.
        {new VelkDeclaration("1\"<&", "", "no"),
         "<?xml version=\"1&quot;&lt;&amp;\" standalone=\"no\" ?>",
         "<?xml version=\"1&quot;&lt;&amp;\" standalone=\"no\" ?>"},
        {new VelkDeclaration("1", "a\"'", ""), "<?xml version=\"1\" encoding=\"a&quot;&apos;\" ?>",
         "<?xml version=\"1\" encoding=\"a&quot;&apos;\" ?>"},
        // The compact form of a document stops after its first element.
        {Doc({Comment("c"), Element("r", {Element("in")}), Text("after"), Element("second")}),
         "    <!--c-->\n    <r>\n        <in />\n    </r>\nafter\n    <second />\n",
         "<!--c--><r><in /></r>"},
        {Doc({Comment("one"), Text("t")}), "    <!--one-->\nt\n", "<!--one-->t"},
        {Doc({}), "", ""},
        {Element("o", {Doc({Element("x"), Element("y")}), Element("z")}), nullptr,
         "<o><x /><z /></o>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compact);
        if (c.pretty) {
            EXPECT_EQ(PrettyText(*c.node, 1), c.pretty);
        }
        EXPECT_EQ(Streamed(*c.node), c.compact);
        std::string appended = "abc";
        EXPECT_EQ(&(appended << *c.node), &appended);
        EXPECT_EQ(appended, std::string("abc") + c.compact);
        delete c.node;
    }
}

// An attribute alone: name="value", or name='value' when the value holds a
// double quote, escaped; Print takes no notice of the depth.
TEST(Output, AnAttributeAlone) {
    // One case per line.
    // clang-format off
    const struct { const char *name, *value, *written; } cases[] = {
        {"n", "1", "n=\"1\""}, {"n", "say \"hi\"", "n='say &quot;hi&quot;'"},
        {"a&b", "<'>\n", "a&amp;b=\"&lt;&apos;&gt;&#x0A;\""}};
    // clang-format on
    for (const auto& c : cases) {
        const VelkAttribute attribute(c.name, c.value);
        EXPECT_EQ(PrettyText(attribute, 3), c.written);
        EXPECT_EQ(Streamed(attribute), c.written);
    }
}

// Four spaces a level, however deep: a chain of 40 elements.
TEST(Output, IndentsEveryLevelOfADeepChain) {
    const int levels = 40;
    VelkElement root("e");
    VelkNode* node = &root;
    std::string expected = "<e>";
    for (int level = 1; level < levels; ++level) {
        node = AddElement(node, "e");
        expected += "\n" + std::string(4u * level, ' ') + (level + 1 < levels ? "<e>" : "<e />");
    }
    for (int level = levels - 2; level >= 0; --level)
        expected += "\n" + std::string(4u * level, ' ') + "</e>";
    EXPECT_EQ(PrettyText(root), expected);
}

TEST(Output, StreamOperatorChainsAndAFailedStreamTakesNothing) {
    const std::unique_ptr<VelkNode> a(Element("a", {Text("t")})), b(Element("b"));
    std::ostringstream out;
    out << "[";
    EXPECT_EQ(&(out << *a << *b), &out);
    EXPECT_EQ(out.str(), "[<a>t</a><b />");
    out.setstate(std::ios::badbit);
    out << *a;
    EXPECT_EQ(out.str(), "[<a>t</a><b />");
}

}  // namespace

namespace {

// A declaration value holding a quote reads back the same from the pretty
// form, in both character models.
TEST(Output, DeclarationValuesReadBack) {
    for (bool utf8 : {false, true}) {
        for (const char* xml : {"<?xml standalone='no=\"x' ?><a/>",
                                "<?xml version=\"1'&quot;2\" encoding='&apos;\"' ?><a/>"}) {
            SCOPED_TRACE(xml);
            VelkDocument first, second;
            first.SetUtf8(utf8);
            second.SetUtf8(utf8);
            first.Parse(xml, nullptr);
            ASSERT_FALSE(first.Error());
            second.Parse(PrettyText(first).c_str(), nullptr);
            EXPECT_FALSE(second.Error());
            EXPECT_EQ(Shape(&second), Shape(&first));
        }
    }
}

}  // namespace
