// The indented form written by Print to a stdio FILE, byte for byte.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

namespace {

// Everything item.Print(file, depth) writes, captured through a memory FILE.
std::string Printed(const VelkBase& item, int depth = 0) {
    char* data = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&data, &size);
    if (file == nullptr) {
        ADD_FAILURE() << "open_memstream failed";
        return std::string();
    }
    item.Print(file, depth);
    std::fclose(file);
    std::string text(data, size);
    std::free(data);
    return text;
}

VelkElement* AddElement(VelkNode* parent, const char* name) {
    return static_cast<VelkElement*>(parent->LinkEndChild(new VelkElement(name)));
}

void AddText(VelkNode* parent, const char* text) {
    parent->LinkEndChild(new VelkText(text));
}

VelkComment* NewComment(const char* text) {
    VelkComment* comment = new VelkComment();
    comment->SetValue(text);
    return comment;
}

VelkUnknown* NewUnknown(const char* text) {
    VelkUnknown* unknown = new VelkUnknown();
    unknown->SetValue(text);
    return unknown;
}

TEST(PrettyPrint, TheWorkedDocument) {
    VelkDocument doc;
    doc.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    doc.LinkEndChild(NewComment("c"));
    VelkElement* root = AddElement(&doc, "root");
    root->SetAttribute("a", "1");
    AddElement(root, "child");
    AddText(root, "hi");
    AddText(AddElement(root, "e"), "t");

    EXPECT_EQ(Printed(doc),
              "<?xml version=\"1.0\" ?>\n"
              "<!--c-->\n"
              "<root a=\"1\">\n"
              "    <child />hi\n"
              "    <e>t</e>\n"
              "</root>\n");
}

TEST(PrettyPrint, EmptyDocumentWritesNothing) {
    VelkDocument doc("named.xml");
    EXPECT_EQ(Printed(doc), "");
}

TEST(PrettyPrint, DocumentWritesEveryTopLevelNodeEachOnItsLine) {
    VelkDocument doc;
    AddElement(&doc, "a");
    doc.LinkEndChild(NewComment("between"));
    AddElement(&doc, "b");
    AddText(&doc, "tail");
    EXPECT_EQ(Printed(doc), "<a />\n<!--between-->\n<b />\ntail\n");
}

TEST(PrettyPrint, DocumentPassesItsDepthOn) {
    VelkDocument doc;
    AddElement(AddElement(&doc, "a"), "b");
    EXPECT_EQ(Printed(doc, 1), "    <a>\n        <b />\n    </a>\n");
}

TEST(PrettyPrint, ElementWithoutChildren) {
    VelkElement a("a");
    EXPECT_EQ(Printed(a), "<a />");
    a.SetAttribute("x", "1");
    a.SetAttribute("y", "2");
    EXPECT_EQ(Printed(a), "<a x=\"1\" y=\"2\" />");
    EXPECT_EQ(Printed(a, 1), "    <a x=\"1\" y=\"2\" />");
}

TEST(PrettyPrint, SingleTextChildStaysOnOneLine) {
    VelkElement a("a");
    AddText(&a, "text");
    EXPECT_EQ(Printed(a, 2), "        <a>text</a>");
    a.SetAttribute("k", "v");
    EXPECT_EQ(Printed(a), "<a k=\"v\">text</a>");
}

TEST(PrettyPrint, SingleEmptyTextChild) {
    VelkElement a("a");
    AddText(&a, "");
    EXPECT_EQ(Printed(a), "<a></a>");
}

TEST(PrettyPrint, SingleElementChildTakesThreeLines) {
    VelkElement a("a");
    AddElement(&a, "b");
    EXPECT_EQ(Printed(a), "<a>\n    <b />\n</a>");
    EXPECT_EQ(Printed(a, 1), "    <a>\n        <b />\n    </a>");
}

TEST(PrettyPrint, TwoTextChildrenFollowTheStartTag) {
    VelkElement a("a");
    AddText(&a, "one");
    AddText(&a, "two");
    EXPECT_EQ(Printed(a, 1), "    <a>onetwo\n    </a>");
}

TEST(PrettyPrint, TextSharingItsParentFollowsThePreviousOutput) {
    VelkElement first("a");
    AddText(&first, "hi");
    AddElement(&first, "b");
    EXPECT_EQ(Printed(first), "<a>hi\n    <b />\n</a>");

    VelkElement last("a");
    AddElement(&last, "b");
    AddText(&last, "hi");
    EXPECT_EQ(Printed(last), "<a>\n    <b />hi\n</a>");
}

TEST(PrettyPrint, NestedElementsIndentByFourSpacesPerLevel) {
    VelkElement a("a");
    VelkElement* b = AddElement(&a, "b");
    AddText(AddElement(b, "c"), "x");
    AddElement(b, "d");
    AddElement(&a, "e");
    EXPECT_EQ(Printed(a),
              "<a>\n"
              "    <b>\n"
              "        <c>x</c>\n"
              "        <d />\n"
              "    </b>\n"
              "    <e />\n"
              "</a>");
}

TEST(PrettyPrint, EveryKindAsAChild) {
    VelkElement a("a");
    a.LinkEndChild(NewComment("note"));
    a.LinkEndChild(NewUnknown("!DOCTYPE x"));
    a.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    AddText(&a, "t");
    EXPECT_EQ(Printed(a, 1),
              "    <a>\n"
              "        <!--note-->\n"
              "        <!DOCTYPE x>\n"
              "<?xml version=\"1.0\" ?>t\n"
              "    </a>");
}

TEST(PrettyPrint, NegativeDepthIndentsNothing) {
    VelkElement a("a");
    AddElement(&a, "b");
    EXPECT_EQ(Printed(a, -1), "<a>\n<b />\n</a>");
    EXPECT_EQ(Printed(a, -5), "<a>\n<b />\n</a>");
}

TEST(PrettyPrint, TagNameIsNotEscaped) {
    VelkElement a("a&<b");
    EXPECT_EQ(Printed(a), "<a&<b />");
}

TEST(PrettyPrint, TextIsEscapedAndNeverIndented) {
    VelkText text("one\ntwo <&> \"q\" 'a' \xE9");
    EXPECT_EQ(Printed(text, 3), "one&#x0A;two &lt;&amp;&gt; &quot;q&quot; &apos;a&apos; &#xE9;");
}

TEST(PrettyPrint, CommentIsIndentedAndNotEscaped) {
    VelkComment* comment = NewComment("a<b&\n");
    EXPECT_EQ(Printed(*comment), "<!--a<b&\n-->");
    EXPECT_EQ(Printed(*comment, 1), "    <!--a<b&\n-->");
    delete comment;
}

TEST(PrettyPrint, UnknownIsIndentedAndNotEscaped) {
    VelkUnknown* unknown = NewUnknown("!DOCTYPE x");
    EXPECT_EQ(Printed(*unknown, 1), "    <!DOCTYPE x>");
    unknown->SetValue("![CDATA[a&<");
    EXPECT_EQ(Printed(*unknown), "<![CDATA[a&<>");
    delete unknown;
}

TEST(PrettyPrint, Declarations) {
    struct Case {
        const char* version;
        const char* encoding;
        const char* standalone;
        const char* expected;
    };
    const Case cases[] = {
        {"", "", "", "<?xml ?>"},
        {"1.0", "", "", "<?xml version=\"1.0\" ?>"},
        {"", "UTF-8", "", "<?xml encoding=\"UTF-8\" ?>"},
        {"", "", "yes", "<?xml standalone=\"yes\" ?>"},
        {"1.0", "UTF-8", "yes", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>"},
        // The declaration's values are written as stored.
        {"1\"<&", "", "", "<?xml version=\"1\"<&\" ?>"},
    };
    for (const Case& c : cases) {
        VelkDeclaration declaration(c.version, c.encoding, c.standalone);
        EXPECT_EQ(Printed(declaration), c.expected);
        EXPECT_EQ(Printed(declaration, 2), c.expected) << "a declaration is never indented";
    }
}

TEST(PrettyPrint, AttributeQuoting) {
    struct Case {
        const char* name;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"n", "v", "n=\"v\""},
        {"n", "", "n=\"\""},
        {"n", "\"hi\"", "n='&quot;hi&quot;'"},
        {"n", "it's", "n=\"it&apos;s\""},
        {"n", "'\"", "n='&apos;&quot;'"},
        {"n", "a<b&c>\n", "n=\"a&lt;b&amp;c&gt;&#x0A;\""},
        {"a&b", "1", "a&amp;b=\"1\""},
    };
    for (const Case& c : cases) {
        VelkAttribute attribute(c.name, c.value);
        EXPECT_EQ(Printed(attribute, 3), c.expected) << "an attribute ignores the depth";
    }
}

TEST(PrettyPrint, AttributesInStoredOrder) {
    VelkElement a("a");
    a.SetAttribute("z", "1");
    a.SetAttribute("b", "\"");
    a.SetAttribute("m", 3);
    a.SetAttribute("z", "4");
    EXPECT_EQ(Printed(a), "<a z=\"4\" b='&quot;' m=\"3\" />");
}

TEST(PrettyPrint, AttributeWithEmptyNameAndValueIsPrinted) {
    VelkElement a("a");
    a.SetAttribute("x", "1");
    a.SetAttribute("", "");
    a.SetAttribute("y", "2");
    EXPECT_EQ(Printed(a), "<a x=\"1\" =\"\" y=\"2\" />");
}

TEST(PrettyPrint, ParsedDocument) {
    VelkBase::condenseWhiteSpace = true;
    VelkDocument doc;
    doc.Parse(
        "<?xml version='1.0' encoding='UTF-8'?>\n"
        "<!DOCTYPE r>\n"
        "<r id=\"a&amp;b\">\n"
        "  <p>  two   words  </p>\n"
        "  <!-- note -->\n"
        "  <q t='say \"x\"'/>\n"
        "</r>\n",
        nullptr);
    ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
    EXPECT_EQ(Printed(doc),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
              "<!DOCTYPE r>\n"
              "<r id=\"a&amp;b\">\n"
              "    <p>two words</p>\n"
              "    <!-- note -->\n"
              "    <q t='say &quot;x&quot;' />\n"
              "</r>\n");
}

TEST(PrettyPrint, PrintingChangesNothing) {
    VelkDocument doc;
    VelkElement* a = AddElement(&doc, "a");
    a->SetAttribute("x", "<");
    AddText(a, "t");
    const std::string first = Printed(doc);
    EXPECT_EQ(Printed(doc), first);
    EXPECT_STREQ(a->Attribute("x"), "<");
    EXPECT_STREQ(a->FirstChild()->Value(), "t");
}

}  // namespace
