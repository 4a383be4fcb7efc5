// The compact form written by StreamOut and the two insertion operators.
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

namespace {

std::string Streamed(const VelkBase& item) {
    std::ostringstream out;
    item.StreamOut(&out);
    return out.str();
}

VelkElement* AddElement(VelkNode* parent, const char* name) {
    return static_cast<VelkElement*>(parent->LinkEndChild(new VelkElement(name)));
}

void AddText(VelkNode* parent, const char* text) {
    parent->LinkEndChild(new VelkText(text));
}

VelkNode* NewComment(const char* text) {
    VelkComment* comment = new VelkComment();
    comment->SetValue(text);
    return comment;
}

VelkNode* NewUnknown(const char* text) {
    VelkUnknown* unknown = new VelkUnknown();
    unknown->SetValue(text);
    return unknown;
}

TEST(CompactStream, ElementWithAttributeAndChild) {
    VelkElement a("a");
    a.SetAttribute("x", "1");
    AddElement(&a, "b");
    EXPECT_EQ(Streamed(a), "<a x=\"1\"><b /></a>");
}

TEST(CompactStream, ElementWithoutChildren) {
    VelkElement a("a");
    EXPECT_EQ(Streamed(a), "<a />");
    a.SetAttribute("x", "1");
    a.SetAttribute("y", "2");
    EXPECT_EQ(Streamed(a), "<a x=\"1\" y=\"2\" />");
}

TEST(CompactStream, SingleTextChild) {
    VelkElement a("a");
    AddText(&a, "t");
    EXPECT_EQ(Streamed(a), "<a>t</a>");
}

TEST(CompactStream, ChildrenOfAnyKindFollowEachOtherDirectly) {
    VelkElement r("r");
    AddText(&r, "x");
    AddElement(&r, "a");
    AddText(AddElement(&r, "b"), "in");
    r.LinkEndChild(NewComment("c"));
    r.LinkEndChild(NewUnknown("!u"));
    r.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    AddText(&r, "y");
    EXPECT_EQ(Streamed(r), "<r>x<a /><b>in</b><!--c--><!u><?xml version=\"1.0\" ?>y</r>");
}

TEST(CompactStream, NestedElements) {
    VelkElement a("a");
    VelkElement* b = AddElement(&a, "b");
    AddElement(AddElement(b, "c"), "d");
    AddElement(&a, "e");
    EXPECT_EQ(Streamed(a), "<a><b><c><d /></c></b><e /></a>");
}

TEST(CompactStream, DocumentStopsAfterItsFirstElement) {
    VelkDocument doc;
    doc.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    doc.LinkEndChild(NewComment("before"));
    AddElement(AddElement(&doc, "root"), "inner");
    doc.LinkEndChild(NewComment("after"));
    AddElement(&doc, "second");
    EXPECT_EQ(Streamed(doc), "<?xml version=\"1.0\" ?><!--before--><root><inner /></root>");
}

TEST(CompactStream, DocumentWhoseFirstNodeIsAnElement) {
    VelkDocument doc;
    AddElement(&doc, "a");
    AddElement(&doc, "b");
    EXPECT_EQ(Streamed(doc), "<a />");
}

TEST(CompactStream, DocumentWithoutElementWritesEveryNode) {
    VelkDocument doc;
    doc.LinkEndChild(NewComment("one"));
    doc.LinkEndChild(NewComment("two"));
    AddText(&doc, "t");
    EXPECT_EQ(Streamed(doc), "<!--one--><!--two-->t");
}

TEST(CompactStream, EmptyDocumentWritesNothing) {
    VelkDocument doc("name.xml");
    EXPECT_EQ(Streamed(doc), "");
}

TEST(CompactStream, CommentIsEscaped) {
    EXPECT_EQ(Streamed(*std::unique_ptr<VelkNode>(NewComment("a<b"))), "<!--a&lt;b-->");
    EXPECT_EQ(Streamed(*std::unique_ptr<VelkNode>(NewComment(" x\n&#x41; "))),
              "<!-- x&#x0A;&#x41; -->");
}

TEST(CompactStream, UnknownIsNotEscaped) {
    EXPECT_EQ(Streamed(*std::unique_ptr<VelkNode>(NewUnknown("!DOCTYPE x"))), "<!DOCTYPE x>");
    EXPECT_EQ(Streamed(*std::unique_ptr<VelkNode>(NewUnknown("![CDATA[a&<"))), "<![CDATA[a&<>");
}

TEST(CompactStream, TagNameIsNotEscaped) {
    VelkElement a("a&<b");
    EXPECT_EQ(Streamed(a), "<a&<b />");
}

TEST(CompactStream, TextIsEscaped) {
    VelkText text("one\ntwo <&> \"q\" 'a' \xE9 &#x41<b");
    EXPECT_EQ(Streamed(text),
              "one&#x0A;two &lt;&amp;&gt; &quot;q&quot; &apos;a&apos; &#xE9; &amp;#x41&lt;b");
}

TEST(CompactStream, Declarations) {
    struct Case {
        const char* version;
        const char* encoding;
        const char* standalone;
        const char* expected;
    };
    const Case cases[] = {
        {"", "", "", "<?xml ?>"},
        {"1.0", "", "", "<?xml version=\"1.0\" ?>"},
        {"", "", "no", "<?xml standalone=\"no\" ?>"},
        {"1.0", "UTF-8", "yes", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>"},
        // Unlike the pretty form, the compact form escapes the values.
        {"1\"<&", "", "", "<?xml version=\"1&quot;&lt;&amp;\" ?>"},
    };
    for (const Case& c : cases) {
        VelkDeclaration declaration(c.version, c.encoding, c.standalone);
        EXPECT_EQ(Streamed(declaration), c.expected);
    }
}

TEST(CompactStream, AttributeQuoting) {
    struct Case {
        const char* name;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"n", "v", "n=\"v\""},
        {"n", "", "n=\"\""},
        {"n", "say \"hi\"", "n='say &quot;hi&quot;'"},
        {"n", "it's", "n=\"it&apos;s\""},
        {"n", "'\"", "n='&apos;&quot;'"},
        {"a<b", "x&y", "a&lt;b=\"x&amp;y\""},
    };
    for (const Case& c : cases) {
        VelkAttribute attribute(c.name, c.value);
        EXPECT_EQ(Streamed(attribute), c.expected);
    }
}

TEST(CompactStream, AttributeWithEmptyNameAndValueIsStreamed) {
    VelkElement a("a");
    a.SetAttribute("x", "1");
    a.SetAttribute("", "");
    a.SetAttribute("y", "2");
    EXPECT_EQ(Streamed(a), "<a x=\"1\" =\"\" y=\"2\" />");
}

TEST(CompactStream, StreamOperatorWritesTheCompactFormAndChains) {
    VelkElement a("a");
    AddText(&a, "t");
    VelkElement b("b");
    std::ostringstream out;
    out << "[";
    std::ostream& result = out << a << b;
    EXPECT_EQ(&result, &out);
    EXPECT_EQ(out.str(), "[<a>t</a><b />");
}

TEST(CompactStream, StringOperatorAppends) {
    VelkElement a("a");
    a.SetAttribute("k", "<");
    std::string out = "abc";
    std::string& result = out << a;
    EXPECT_EQ(&result, &out);
    EXPECT_EQ(out, "abc<a k=\"&lt;\" />");
    out << a;
    EXPECT_EQ(out, "abc<a k=\"&lt;\" /><a k=\"&lt;\" />");
}

TEST(CompactStream, StringOperatorOnADocument) {
    VelkDocument doc;
    doc.LinkEndChild(NewComment("c"));
    AddElement(&doc, "a");
    AddElement(&doc, "b");
    std::string out;
    out << doc;
    EXPECT_EQ(out, "<!--c--><a />");
}

TEST(CompactStream, FailedStreamSwallowsTheOutput) {
    VelkElement a("a");
    AddText(AddElement(&a, "b"), "t");
    std::ostringstream out;
    out << "kept";
    out.setstate(std::ios::badbit);
    out << a;
    EXPECT_EQ(out.str(), "kept");
}

TEST(CompactStream, ParsedDocumentStreamsUpToItsRoot) {
    VelkBase::condenseWhiteSpace = true;
    VelkDocument doc;
    doc.Parse(
        "<?xml version='1.0'?>\n"
        "<!-- c -->\n"
        "<root a='1' b=\"it's\">\n"
        "  <x>  some   text </x>\n"
        "  <y/>\n"
        "</root>\n"
        "<!-- after -->\n",
        nullptr);
    ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
    const std::string expected =
        "<?xml version=\"1.0\" ?><!-- c -->"
        "<root a=\"1\" b=\"it&apos;s\"><x>some text</x><y /></root>";
    std::string out;
    out << doc;
    EXPECT_EQ(out, expected);
    std::ostringstream stream;
    stream << doc;
    EXPECT_EQ(stream.str(), expected);
}

TEST(CompactStream, CompactFormParsesBackToTheSameForm) {
    VelkElement source("r");
    source.SetAttribute("q", "say \"hi\" & 'bye'");
    source.SetAttribute("nl", "a\nb");
    source.LinkEndChild(new VelkText("x < y & \xE9"));
    VelkElement* inner = AddElement(&source, "in");
    inner->LinkEndChild(NewComment("note"));
    AddText(inner, "t");
    AddElement(&source, "empty");

    std::string first;
    first << source;
    VelkDocument parsed;
    parsed.Parse(first.c_str(), nullptr);
    ASSERT_FALSE(parsed.Error()) << parsed.ErrorMessage();
    std::string second;
    second << parsed;
    EXPECT_EQ(second, first);
    EXPECT_EQ(first,
              "<r q='say &quot;hi&quot; &amp; &apos;bye&apos;' nl=\"a&#x0A;b\">"
              "x &lt; y &amp; &#xE9;<in><!--note-->t</in><empty /></r>");
}

TEST(CompactStream, DeepTree) {
    const int depth = 100000;
    VelkDocument doc;
    VelkNode* node = &doc;
    for (int i = 0; i < depth; ++i) node = AddElement(node, "e");
    AddText(node, "x");

    std::string expected;
    for (int i = 0; i < depth; ++i) expected += "<e>";
    expected += "x";
    for (int i = 0; i < depth; ++i) expected += "</e>";

    std::string out;
    out << doc;
    EXPECT_EQ(out, expected);
}

}  // namespace
