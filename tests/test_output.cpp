// The three output forms: the escaper they share, the indented form Print writes
// to a FILE, and the compact form written to a string or a stream.
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

// The escaped text; the string form must append and the stream form agree.
std::string Escaped(const std::string& input) {
    std::string out = "[";
    VelkBase::PutString(input, &out);
    std::ostringstream stream;
    VelkBase::PutString(input, &stream);
    EXPECT_EQ("[" + stream.str(), out) << "the stream form writes the same bytes";
    return out.substr(1);
}

TEST(Escape, EveryByteOnItsOwn) {
    for (int c = 0; c < 256; ++c) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "&#x%02X;", c);
        const char* entity = c == '&'            ? "&amp;"
                             : c == '<'          ? "&lt;"
                             : c == '>'          ? "&gt;"
                             : c == '"'          ? "&quot;"
                             : c == '\''         ? "&apos;"
                             : c < 32 || c > 126 ? hex
                                                 : nullptr;
        const std::string byte(1, static_cast<char>(c));
        EXPECT_EQ(Escaped(byte), entity ? entity : byte) << "byte " << c;
    }
}

TEST(Escape, OnlyACompleteHexReferencePassesThrough) {
    const struct {
        const char* input;
        const char* expected;
    } cases[] = {
        {"&#xA9;", "&#xA9;"},
        {"&#xA;", "&#xA;"},
        {"x&#xaBc0;&#x42;;<", "x&#xaBc0;&#x42;;&lt;"},
        {"&&#x41;", "&amp;&#x41;"},
        {"&#x41<b", "&amp;#x41&lt;b"},
        {"&#x", "&amp;#x"},
        {"&#xA", "&amp;#xA"},
        {"&#x;", "&amp;#x;"},
        {"&#xG1;", "&amp;#xG1;"},
        {"&#X41;", "&amp;#X41;"},
        {"&#65;&amp;", "&amp;#65;&amp;amp;"},
    };
    for (const auto& c : cases) EXPECT_EQ(Escaped(c.input), c.expected) << c.input;
}

TEST(Escape, NulInsideAndLongCleanRuns) {
    EXPECT_EQ(Escaped(std::string("a\0b", 3)), "a&#x00;b");
    const std::string run(5000, 'a');
    EXPECT_EQ(Escaped(run + "<" + run + "\n"), run + "&lt;" + run + "&#x0A;");
}

TEST(StringToBuffer, CopiesUpToTheFirstNul) {
    std::string source("ab\0cd", 5);
    const VelkBase::StringToBuffer copy(source);
    source[0] = 'x';
    ASSERT_NE(copy.buffer, nullptr);
    EXPECT_STREQ(copy.buffer, "ab");
}

TEST(Output, TheWorkedDocumentPrintsByteForByte) {
    std::unique_ptr<VelkNode> doc(Doc(
        {new VelkDeclaration("1.0", "", ""), Comment("c"),
         Element("root", "a", "1", {Element("child"), Text("hi"), Element("e", {Text("t")})})}));
    EXPECT_EQ(Printed(*doc),
              "<?xml version=\"1.0\" ?>\n"
              "<!--c-->\n"
              "<root a=\"1\">\n"
              "    <child />hi\n"
              "    <e>t</e>\n"
              "</root>\n");
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
        {Element("a", "n", "say \"hi\""), "    <a n='say &quot;hi&quot;' />",
         "<a n='say &quot;hi&quot;' />"},
        {Element("a", "n", "'\""), "    <a n='&apos;&quot;' />", "<a n='&apos;&quot;' />"},
        {Element("a", "a&b", "it's <&>\n"), "    <a a&amp;b=\"it&apos;s &lt;&amp;&gt;&#x0A;\" />",
         "<a a&amp;b=\"it&apos;s &lt;&amp;&gt;&#x0A;\" />"},
        {Element("a", {Text("t<")}), "    <a>t&lt;</a>", "<a>t&lt;</a>"},
        {Element("a", {Text("")}), "    <a></a>", "<a></a>"},
        {Element("a", {Text("one"), Text("two")}), "    <a>onetwo\n    </a>", "<a>onetwo</a>"},
        {Element("a", {Text("hi"), Element("b")}), "    <a>hi\n        <b />\n    </a>",
         "<a>hi<b /></a>"},
        {Element("a", {Element("b", {Element("c", {Text("x")}), Element("d")}), Text("hi")}),
         "    <a>\n        <b>\n            <c>x</c>\n            <d />\n        </b>hi\n    </a>",
         "<a><b><c>x</c><d /></b>hi</a>"},
        {Element("a", {Comment("n"), Unknown("!DOCTYPE x"), new VelkDeclaration("1", "", "")}),
         "    <a>\n        <!--n-->\n        <!DOCTYPE x>\n<?xml version=\"1\" ?>\n    </a>",
         "<a><!--n--><!DOCTYPE x><?xml version=\"1\" ?></a>"},
        {Comment("a<b&\n"), "    <!--a<b&\n-->", "<!--a&lt;b&amp;&#x0A;-->"},
        {Unknown("![CDATA[a&<"), "    <![CDATA[a&<>", "<![CDATA[a&<>"},
        {Text("one\ntwo <&> \"q\" 'a' \xE9 &#x41<b"),
         "one&#x0A;two &lt;&amp;&gt; &quot;q&quot; &apos;a&apos; &#xE9; &amp;#x41&lt;b",
         "one&#x0A;two &lt;&amp;&gt; &quot;q&quot; &apos;a&apos; &#xE9; &amp;#x41&lt;b"},
        {new VelkDeclaration("1.0", "UTF-8", "yes"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>"},
        {new VelkDeclaration("1\"<&", "", "no"), "<?xml version=\"1\"<&\" standalone=\"no\" ?>",
         "<?xml version=\"1&quot;&lt;&amp;\" standalone=\"no\" ?>"},
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
            EXPECT_EQ(Printed(*c.node, 1), c.pretty);
        }
        EXPECT_EQ(Streamed(*c.node), c.compact);
        std::string appended = "abc";
        EXPECT_EQ(&(appended << *c.node), &appended);
        EXPECT_EQ(appended, std::string("abc") + c.compact);
        delete c.node;
    }
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
