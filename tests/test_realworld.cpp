// The XML people have: DOCTYPE internal subsets, CDATA sections, processing
// instructions, byte-order marks, text outside the root, markup never closed,
// and the UTF-8 model (character references, non-ASCII names, output that
// other XML readers read the same). Text, file and stream input read the same
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

// The document is read as text, from a file and, when it is whole, from a
// stream, which stops after the first element where the text parse goes on.
TEST(RealWorld, TextFileAndStreamReadTheSame) {
    // One case per line; utf8: the document's model; tree: the compact form of what was read.
    // clang-format off
    const struct { bool utf8; std::string input, tree, status; } cases[] = {
        // A DOCTYPE's internal subset ends at the "]>" outside quotes, comments and instructions.
        {false, "<!DOCTYPE r [\n <!ENTITY e \"]>\">\n <!-- ]> -->\n <?pi ]>?>\n <!ATTLIST r a CDATA '>'>\n]><r/>",
         "<!DOCTYPE r [\n <!ENTITY e \"]>\">\n <!-- ]> -->\n <?pi ]>?>\n <!ATTLIST r a CDATA '>'>\n]><r />", "ok"},
        {false, "<!DOCTYPE r [<!ELEMENT r ANY>] ><r/>", "<!DOCTYPE r [<!ELEMENT r ANY>] ><r />", "ok"},
        // CDATA sections end at "]]>" and are text kept exactly, in both models.
        {false, "<r><![CDATA[a>b]]c<d/>]]></r>", "<r><![CDATA[a>b]]c<d/>]]></r>", "ok"},
        {false, "<r>a &amp; <![CDATA[ &amp;  \xC3\xA9 ]]></r>", "<r>a &amp;<![CDATA[ &amp;  \xC3\xA9 ]]></r>", "ok"},
        {true, "<r>a &amp; <![CDATA[ &amp;  \xC3\xA9 ]]></r>", "<r>a &amp;<![CDATA[ &amp;  \xC3\xA9 ]]></r>", "ok"},
        {false, "<r><![CDATA[]]></r>", "<r><![CDATA[]]></r>", "ok"},
        {false, "<r><a>x</a\n ></r>", "<r><a>x</a></r>", "ok"},
        // Instructions end at "?>"; only "<?xml" and white space starts a declaration.
        {false, "<?xml-stylesheet href=\"s.xsl\"?><r/>", "<?xml-stylesheet href=\"s.xsl\"?><r />", "ok"},
        {false, "<r><?pi a > b?></r>", "<r><?pi a > b?></r>", "ok"},
        {false, "<?xml version=\"1.0\" encoding='a?>b'?><r/>", "<?xml version=\"1.0\" encoding=\"a?&gt;b\" ?><r />", "ok"},
        {false, "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<r/>", "<?xml version=\"1.0\" ?><r />", "ok"},
        {false, "\xEF\xBB\xBF", "", "13@-1:-1"},
        // Text outside the root element: trailing, leading, an INI file, a CDATA section.
        {false, "<r/>\ntail", "<r />", "14@1:0"},
        {false, "junk<r/>", "", "14@0:0"},
        {false, "[section]\nkey=value\n", "", "14@0:0"},
        {false, "<r/><![CDATA[x]]>", "<r />", "14@0:4"},
        // Markup never closed, and a declaration that fails.
        {false, "<r><!-- x", "<r><!----></r>", "11@0:3"},
        {false, "<r><![CDATA[x", "<r><![CDATA[]]></r>", Coded(VELK_ERROR_CDATA_UNCLOSED, "0:3")},
        {false, "<?pi x ", "<>", "10@0:0"},
        {false, "<!DOCTYPE r [ <!ENTITY e \"]>", "<>", "10@0:0"},
        {false, "<?xml version='1.0'", "<?xml version=\"1.0\" ?>", "12@0:0"},
        {false, "<?xml version?><r/>", "<?xml ?>", "12@0:0"},
        // The UTF-8 model: every reference form to UTF-8, at the edges of the ranges XML allows.
        {true, "<r>&#233;|&#xE9;|&#x00E9;|&#0000065;|&#x20;|&#x9;&#xA;|&#xD;</r>", "<r>\xC3\xA9|\xC3\xA9|\xC3\xA9|A| |\t\n|&#x0D;</r>", "ok"},
        {true, "<r>&#xD7FF;|&#xE000;|&#xFFFD;|&#x10000;|&#x10FFFF;</r>",
         "<r>\xED\x9F\xBF|\xEE\x80\x80|\xEF\xBF\xBD|\xF0\x90\x80\x80|\xF4\x8F\xBF\xBF</r>", "ok"},
        // Control characters decode, so that the references written for them read back;
        // other characters XML does not allow, and what is no reference at all, stay text.
        {true, "<r>&#x8;|&#1;|&#x1F;|&#x0;|&#xD800;|&#xFFFE;|&#x110000;|&#99999999999999999999;</r>",
         "<r>&#x08;|&#x01;|&#x1F;|&amp;#x0;|&amp;#xD800;|&amp;#xFFFE;|&amp;#x110000;|&amp;#99999999999999999999;</r>", "ok"},
        {true, "<r>&#;&#x;&#65|&#xG1;|&amp;#x41;|&lt;&gt;&quot;&apos;</r>", "<r>&amp;#;&amp;#x;&amp;#65|&amp;#xG1;|&amp;#x41;|&lt;&gt;&quot;&apos;</r>", "ok"},
        // Bytes 0x80..0xFF are name characters and written as they are; control bytes are not.
        {true, "<r>caf\xC3\xA9 \x01</r>", "<r>caf\xC3\xA9 &#x01;</r>", "ok"},
        {true, "<\xE9\x80\xB1 \xE5\xB1\x9E='x\ny\r\nz&#10;' t=\"&#9;\"><!--&amp; \xC3\xA9--></\xE9\x80\xB1>",
         "<\xE9\x80\xB1 \xE5\xB1\x9E=\"x y z&#x0A;\" t=\"&#x09;\"><!--&amp; \xC3\xA9--></\xE9\x80\xB1>", "ok"},
        // In the byte model the same bytes are no name: unknown markup, then text outside the root.
        {false, "<\xE9\x80\xB1>x</\xE9\x80\xB1>", "<\xE9\x80\xB1>", "14@0:5"},
    };
    // clang-format on
    const std::string path = TempPath("realworld.xml");
    for (const auto& c : cases) {
        SCOPED_TRACE(Printable(c.input));
        VelkDocument text, loaded, streamed;
        for (VelkDocument* doc : {&text, &loaded, &streamed}) doc->SetUtf8(c.utf8);
        text.Parse(c.input.c_str(), nullptr);
        EXPECT_EQ(Compact(text), c.tree);
        EXPECT_EQ(Status(text), c.status);
        ASSERT_TRUE(WriteFile(path, c.input));
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

// Content holding "]]>" is written as two sections that read back the same.
TEST(RealWorld, CDataHoldingItsEndIsWrittenAsTwoSections) {
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

// Nodes printed or cloned follow their document's model.
TEST(RealWorld, PrintAndCloneKeepTheUtf8Model) {
    VelkDocument doc;
    doc.SetUtf8(true);
    doc.Parse("<\xE9\x80\xB1 a='&#233;'><!--&amp;--></\xE9\x80\xB1>", nullptr);
    EXPECT_EQ(PrettyText(doc),
              "<\xE9\x80\xB1 a=\"\xC3\xA9\">\n    <!--&amp;-->\n</\xE9\x80\xB1>\n");
    const std::unique_ptr<VelkNode> clone(doc.Clone());
    EXPECT_TRUE(clone->ToDocument()->Utf8());
    EXPECT_EQ(Compact(*clone->FirstChildElement()), Compact(*doc.FirstChildElement()));
}

TEST(RealWorld, KeepingWhiteSpaceKeepsTextWhole) {
    Condensing verbatim(false);
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
