// The XML people have: DOCTYPE internal subsets, CDATA sections, processing
// instructions, byte-order marks, text outside the root, markup never closed,
// and the UTF-8 model (character references, non-ASCII names, output that
// other XML readers read the same). Text, stream and file input read the same
// extents.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "Velk/base/velk.h"
#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

struct ExtentCase {
    const char* name;
    std::string input;
    std::string tree;  // compact form of what was read
    std::string status;
};

const ExtentCase kExtents[] = {
    {"doctype subset with quoted ]> and > in a comment and a PI",
     "<!DOCTYPE r [\n <!ENTITY e \"]>\">\n <!-- ]> -->\n <?pi ]>?>\n <!ATTLIST r a CDATA '>'>\n]>"
     "<r/>",
     "<!DOCTYPE r [\n <!ENTITY e \"]>\">\n <!-- ]> -->\n <?pi ]>?>\n <!ATTLIST r a CDATA '>'>\n]>"
     "<r />",
     "ok"},
    {"doctype closing with space before >", "<!DOCTYPE r [<!ELEMENT r ANY>] ><r/>",
     "<!DOCTYPE r [<!ELEMENT r ANY>] ><r />", "ok"},
    {"cdata holding > and ]] and markup", "<r><![CDATA[a>b]]c<d/>]]></r>",
     "<r><![CDATA[a>b]]c<d/>]]></r>", "ok"},
    {"end tag with white space before >", "<r><a>x</a\n ></r>", "<r><a>x</a></r>", "ok"},
    {"empty cdata", "<r><![CDATA[]]></r>", "<r><![CDATA[]]></r>", "ok"},
    {"stylesheet instruction is not a declaration", "<?xml-stylesheet href=\"s.xsl\"?><r/>",
     "<?xml-stylesheet href=\"s.xsl\"?><r />", "ok"},
    {"instruction holding >", "<r><?pi a > b?></r>", "<r><?pi a > b?></r>", "ok"},
    {"declaration with ?> in a quoted value", "<?xml version=\"1.0\" encoding='a?>b'?><r/>",
     "<?xml version=\"1.0\" encoding=\"a?&gt;b\" ?><r />", "ok"},
    {"byte-order mark before the declaration", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<r/>",
     "<?xml version=\"1.0\" ?><r />", "ok"},
    {"byte-order mark alone", "\xEF\xBB\xBF", "", "13@-1:-1"},
    {"text after the root", "<r/>\ntail", "<r />", "14@1:0"},
    {"text before the root", "junk<r/>", "", "14@0:0"},
    {"an INI file", "[section]\nkey=value\n", "", "14@0:0"},
    {"cdata outside the root", "<r/><![CDATA[x]]>", "<r />", "14@0:4"},
    {"comment never closed", "<r><!-- x", "<r><!----></r>", "11@0:3"},
    {"cdata never closed", "<r><![CDATA[x", "<r><![CDATA[]]></r>", "10@0:3"},
    {"instruction never closed", "<?pi x ", "<>", "10@0:0"},
    {"doctype subset never closed", "<!DOCTYPE r [ <!ENTITY e \"]>", "<>", "10@0:0"},
    {"declaration never closed", "<?xml version='1.0'", "<?xml version=\"1.0\" ?>", "12@0:0"},
    {"declaration that fails", "<?xml version?><r/>", "<?xml ?>", "12@0:0"},
};

// A stream stops after the first element, where the text parse goes on; a
// stream that reads a whole document reads the same nodes.
TEST(RealWorld, TextStreamAndFileReadTheSameExtents) {
    const std::string path = velkcheck::TempPath("realworld.xml");
    for (const ExtentCase& c : kExtents) {
        SCOPED_TRACE(c.name);
        VelkDocument text, streamed, loaded;
        text.Parse(c.input.c_str(), nullptr);
        EXPECT_EQ(Compact(text), c.tree);
        EXPECT_EQ(Status(text), c.status);
        ASSERT_TRUE(velkcheck::WriteFile(path, c.input));
        loaded.LoadFile(path.c_str());
        EXPECT_EQ(Compact(loaded), c.tree);
        EXPECT_EQ(Status(loaded), c.status);
        if (c.status != "ok") continue;
        std::istringstream in(c.input + "<next/>");
        in >> streamed;
        EXPECT_EQ(Compact(streamed), c.tree);
        EXPECT_EQ(Status(streamed), "ok");
        EXPECT_EQ(Rest(in), "<next/>");
    }
    std::remove(path.c_str());
}

TEST(RealWorld, CDataIsATextNodeKeptExactly) {
    for (bool utf8 : {false, true}) {
        VelkDocument doc;
        doc.SetUtf8(utf8);
        doc.Parse("<r>a &amp; <![CDATA[ &amp;  \xC3\xA9 ]]></r>", nullptr);
        const VelkText* cdata = doc.FirstChildElement()->LastChild()->ToText();
        ASSERT_NE(cdata, nullptr);
        EXPECT_TRUE(cdata->CDATA());
        EXPECT_STREQ(cdata->Value(), " &amp;  \xC3\xA9 ");
        EXPECT_FALSE(doc.FirstChildElement()->FirstChild()->ToText()->CDATA());
    }
    // Content holding "]]>" is written as two sections that read back the same.
    VelkElement r("r");
    VelkText* text = new VelkText("x]]>y");
    text->SetCDATA(true);
    r.LinkEndChild(text);
    EXPECT_EQ(Compact(r), "<r><![CDATA[x]]]]><![CDATA[>y]]></r>");
    EXPECT_EQ(Compact(*std::unique_ptr<VelkNode>(r.Clone())), Compact(r));
    VelkDocument back;
    back.Parse(Compact(r).c_str(), nullptr);
    EXPECT_EQ(Shape(&back), "r('x]]','>y')");
}

struct ReferenceCase {
    const char* text;     // as written in an element
    const char* value;    // read in the UTF-8 model
    const char* written;  // the compact form of the element's text
};

const ReferenceCase kReferences[] = {
    {"&#233;", "\xC3\xA9", "\xC3\xA9"},
    {"&#xE9;", "\xC3\xA9", "\xC3\xA9"},
    {"&#x00E9;", "\xC3\xA9", "\xC3\xA9"},
    {"&#0000065;", "A", "A"},
    {"&#x9;&#xA;", "\t\n", "\t\n"},
    {"&#xD;", "\r", "&#x0D;"},
    {"&#x20;", " ", " "},
    {"&#xD7FF;", "\xED\x9F\xBF", "\xED\x9F\xBF"},
    {"&#xE000;", "\xEE\x80\x80", "\xEE\x80\x80"},
    {"&#xFFFD;", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
    {"&#x10000;", "\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},
    {"&#x10FFFF;", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
    // Not characters XML allows, or not references at all: kept as text.
    {"&#x8;", "&#x8;", "&amp;#x8;"},
    {"&#xD800;", "&#xD800;", "&amp;#xD800;"},
    {"&#xFFFE;", "&#xFFFE;", "&amp;#xFFFE;"},
    {"&#x110000;", "&#x110000;", "&amp;#x110000;"},
    {"&#99999999999999999999;", "&#99999999999999999999;", "&amp;#99999999999999999999;"},
    {"&#;&#x;&#65", "&#;&#x;&#65", "&amp;#;&amp;#x;&amp;#65"},
    {"&#xG1;", "&#xG1;", "&amp;#xG1;"},
    {"&amp;#x41;", "&#x41;", "&amp;#x41;"},
    {"&lt;&gt;&quot;&apos;", "<>\"'", "&lt;&gt;&quot;&apos;"},
    {"caf\xC3\xA9 \x01", "caf\xC3\xA9 \x01", "caf\xC3\xA9 &#x01;"},
};

TEST(RealWorld, Utf8ModelReferences) {
    velkcheck::Condensing verbatim(false);
    for (const ReferenceCase& c : kReferences) {
        SCOPED_TRACE(c.text);
        VelkDocument doc;
        doc.SetUtf8(true);
        doc.Parse((std::string("<r>") + c.text + "</r>").c_str(), nullptr);
        ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
        const VelkNode* text = doc.FirstChildElement()->FirstChild();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text->Value()), c.value);
        EXPECT_EQ(Compact(*doc.FirstChildElement()), std::string("<r>") + c.written + "</r>");
    }
}

TEST(RealWorld, Utf8ModelNamesAttributesAndComments) {
    VelkDocument doc;
    doc.SetUtf8(true);
    doc.Parse(
        "<\xE9\x80\xB1 \xE5\xB1\x9E='x\ny\r\nz&#10;' t=\"&#9;\"><!--&amp; "
        "\xC3\xA9--></\xE9\x80\xB1>",
        nullptr);
    ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
    const VelkElement* root = doc.FirstChildElement();
    EXPECT_STREQ(root->Value(), "\xE9\x80\xB1");
    // A tab or line end written as it is reads as a space; a reference to one stays.
    EXPECT_STREQ(root->Attribute("\xE5\xB1\x9E"), "x y z\n");
    EXPECT_STREQ(root->Attribute("t"), "\t");
    EXPECT_STREQ(root->FirstChild()->Value(), "&amp; \xC3\xA9");
    EXPECT_EQ(Compact(doc),
              "<\xE9\x80\xB1 \xE5\xB1\x9E=\"x y z&#x0A;\" t=\"&#x09;\"><!--&amp; \xC3\xA9--></"
              "\xE9\x80\xB1>");
    EXPECT_EQ(velkcheck::PrettyText(doc),
              "<\xE9\x80\xB1 \xE5\xB1\x9E=\"x y z&#x0A;\" t=\"&#x09;\">\n    <!--&amp; "
              "\xC3\xA9-->\n</\xE9\x80\xB1>\n");

    // The same text in the byte model: no name, so the text after it is outside the root.
    VelkDocument bytes;
    bytes.Parse("<\xE9\x80\xB1>x</\xE9\x80\xB1>", nullptr);
    EXPECT_EQ(bytes.ErrorCode(), VELK_ERROR_TEXT_OUTSIDE_ELEMENT);

    // Nodes follow their document's model; a clone keeps it.
    VelkNode* clone = doc.Clone();
    EXPECT_TRUE(clone->ToDocument()->Utf8());
    EXPECT_EQ(Compact(*clone->FirstChildElement()), Compact(*root));
    delete clone;
}

TEST(RealWorld, KeepingWhiteSpaceKeepsTextWhole) {
    velkcheck::Condensing verbatim(false);
    for (bool utf8 : {false, true}) {
        VelkDocument doc;
        doc.SetUtf8(utf8);
        doc.Parse("<r>\n  <p>  lead <b>x</b> <i>y</i>\r\n</p>\n  <e/>\n</r>", nullptr);
        ASSERT_FALSE(doc.Error());
        // Element-only content loses its layout; mixed content keeps every space.
        EXPECT_EQ(Compact(doc), utf8 ? "<r><p>  lead <b>x</b> <i>y</i>\n</p><e /></r>"
                                     : "<r><p>  lead <b>x</b> <i>y</i>&#x0D;&#x0A;</p><e /></r>");
    }
}

}  // namespace
