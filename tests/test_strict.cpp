// Strict reading: a table per rule of XML 1.0 well-formedness, each document
// read as text, from a file and from a stream with the same outcome, and the
// tree that strict reading builds.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;
using namespace std::string_literals;

namespace {

// An expected outcome: the error code and where it was found (row and
// column from 0); code VELK_NO_ERROR for a well-formed document.
struct Case {
    std::string xml;
    int code;
    int row;
    int col;
};

enum class Route { kText, kFile, kStream };

// Reads xml into doc strictly along one route.
void ReadStrict(const std::string& xml, Route route, VelkDocument* doc) {
    doc->SetStrict(true);
    switch (route) {
        case Route::kText:
            doc->Parse(xml.c_str(), nullptr);
            break;
        case Route::kFile: {
            const std::string path = TempPath("strict.xml");
            ASSERT_TRUE(WriteFile(path, xml));
            doc->LoadFile(path.c_str());
            std::remove(path.c_str());
            break;
        }
        case Route::kStream: {
            std::istringstream in(xml);
            in >> *doc;
            break;
        }
    }
}

std::string Outcome(const VelkDocument& doc) {
    if (!doc.Error()) return "ok";
    return std::string(doc.ErrorMessage()) + " @" + std::to_string(doc.ErrorCursor().row) + ":" +
           std::to_string(doc.ErrorCursor().col);
}

std::string Expected(const Case& c) {
    if (c.code == VELK_NO_ERROR) return "ok";
    return std::string(VelkBase::errorString[c.code]) + " @" + std::to_string(c.row) + ":" +
           std::to_string(c.col);
}

// Every case read along every route, condensing on and off.
void CheckAll(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const Case& c = cases[i];
        for (Route route : {Route::kText, Route::kFile, Route::kStream}) {
            for (bool condense : {true, false}) {
                SCOPED_TRACE("route " + std::to_string(static_cast<int>(route)) +
                             (condense ? ", condensing: " : ": ") + Printable(c.xml));
                Condensing condensing(condense);
                VelkDocument doc;
                ReadStrict(c.xml, route, &doc);
                EXPECT_EQ(Outcome(doc), Expected(c));
            }
        }
    }
}

template <size_t N>
void CheckAll(const Case (&cases)[N]) {
    CheckAll(cases, N);
}

const int OK = VELK_NO_ERROR;

TEST(Strict, DocumentStructure) {
    const Case cases[] = {
        {"", VELK_ERROR_DOCUMENT_EMPTY, 0, 0},
        {" \n ", VELK_ERROR_DOCUMENT_EMPTY, 1, 1},
        {"<!--c-->", VELK_ERROR_DOCUMENT_EMPTY, 0, 8},
        {"<a/><b/>", VELK_ERROR_MULTIPLE_ROOTS, 0, 4},
        {"<a/>\n<!--c--><?p?> \n", OK, 0, 0},
        {"<a/>x", VELK_ERROR_TEXT_OUTSIDE_ELEMENT, 0, 4},
        {"x<a/>", VELK_ERROR_TEXT_OUTSIDE_ELEMENT, 0, 0},
        {"<a/><![CDATA[x]]>", VELK_ERROR_TEXT_OUTSIDE_ELEMENT, 0, 4},
        {"<a/>\f", VELK_ERROR_CHARACTER, 0, 4},
        {"</a>", VELK_ERROR_END_TAG_UNEXPECTED, 0, 0},
        {"<a/></a>", VELK_ERROR_END_TAG_UNEXPECTED, 0, 4},
        {"<?xml version='1.0'?><a/>", OK, 0, 0},
        {"\xEF\xBB\xBF<?xml version='1.0'?><a/>", OK, 0, 0},
        {" <?xml version='1.0'?><a/>", VELK_ERROR_MISPLACED, 0, 1},
        {"<a/><?xml version='1.0'?>", VELK_ERROR_MISPLACED, 0, 4},
        {"<?xml version='1.0'?><?xml version='1.0'?><a/>", VELK_ERROR_MISPLACED, 0, 21},
        {"<!DOCTYPE a><a/>", OK, 0, 0},
        {"<a/><!DOCTYPE a>", VELK_ERROR_MISPLACED, 0, 4},
        {"<!DOCTYPE a><!DOCTYPE a><a/>", VELK_ERROR_MISPLACED, 0, 12},
        {"\xFF\xFE<\0a\0/\0>\0"s, VELK_ERROR_ENCODING, 0, 0},
        {"\xFE\xFF\0<\0a\0/\0>"s, VELK_ERROR_ENCODING, 0, 0},
    };
    CheckAll(cases);
}

TEST(Strict, Names) {
    const Case cases[] = {
        {"<A0/>", OK, 0, 0},
        {"<0A/>", VELK_ERROR_NAME, 0, 1},
        {"<:a/>", OK, 0, 0},
        {"<a:b.c-d_e/>", OK, 0, 0},
        {"<-a/>", VELK_ERROR_NAME, 0, 1},
        {"<.a/>", VELK_ERROR_NAME, 0, 1},
        {"< a/>", VELK_ERROR_NAME, 0, 1},
        {"<\xC3\x80\xC3\x96\xC3\x98/>", OK, 0, 0},       // U+C0 U+D6 U+D8
        {"<\xC3\x97/>", VELK_ERROR_NAME, 0, 1},          // U+D7
        {"<\xC3\xB7/>", VELK_ERROR_NAME, 0, 1},          // U+F7
        {"<a\xC2\xB7\xCC\x80\xE2\x80\xBF/>", OK, 0, 0},  // U+B7 U+300 U+203F inside
        {"<\xC2\xB7/>", VELK_ERROR_NAME, 0, 1},          // U+B7 first
        {"<\xCC\x80/>", VELK_ERROR_NAME, 0, 1},          // U+300 first
        {"<\xCD\xBF/>", OK, 0, 0},                       // U+37F
        {"<a\xCD\xBE/>", VELK_ERROR_NAME, 0, 2},         // U+37E
        {"<\xE2\x80\x8C\xE2\x80\x8D/>", OK, 0, 0},       // U+200C U+200D
        {"<\xE2\x80\x8E/>", VELK_ERROR_NAME, 0, 1},      // U+200E
        {"<\xE3\x80\x81/>", OK, 0, 0},                   // U+3001
        {"<\xE3\x80\x80/>", VELK_ERROR_NAME, 0, 1},      // U+3000
        {"<\xEF\xB7\x8F/>", OK, 0, 0},                   // U+FDCF
        {"<\xEF\xB7\x90/>", VELK_ERROR_NAME, 0, 1},      // U+FDD0
        {"<\xF3\xAF\xBF\xBF/>", OK, 0, 0},               // U+EFFFF
        {"<\xF3\xB0\x80\x80/>", VELK_ERROR_NAME, 0, 1},  // U+F0000
        {"<\xC0\x80/>", VELK_ERROR_UTF8, 0, 1},
        {"<a\xED\xA0\x80/>", VELK_ERROR_UTF8, 0, 2},
        {"<a b\x01='1'/>", VELK_ERROR_CHARACTER, 0, 4},
    };
    CheckAll(cases);
}

TEST(Strict, StartTags) {
    const Case cases[] = {
        {"<a b='c' d=\"e\" />", OK, 0, 0},
        {"<a b = 'c'\n\td='e'\r\n/>", OK, 0, 0},
        {"<a b=c/>", VELK_ERROR_ATTRIBUTE_UNQUOTED, 0, 5},
        {"<a b='<'/>", VELK_ERROR_ATTRIBUTE_LT, 0, 6},
        {"<a b='&lt;'/>", OK, 0, 0},
        {"<a b='>'/>", OK, 0, 0},
        {"<a b='1'c='2'/>", VELK_ERROR_ATTRIBUTE_SPACE, 0, 8},
        {"<a b='1' c='2'/>", OK, 0, 0},
        {"<a b='1' b='2'/>", VELK_ERROR_ATTRIBUTE_TWICE, 0, 9},
        {"<a b='1' B='2'/>", OK, 0, 0},
        {"<a a0='' a1='' a2='' a3='' a4='' a5='' a6='' a7='' a8='' a9='' a5=''/>",
         VELK_ERROR_ATTRIBUTE_TWICE, 0, 63},
        {"<a a0='' a1='' a2='' a3='' a4='' a5='' a6='' a7='' a8='' a9='' a10=''/>", OK, 0, 0},
        {"<a b/>", VELK_ERROR_TAG, 0, 4},
        {"<a b='x&'/>", VELK_ERROR_REFERENCE, 0, 7},
        {"<a b='&#65;&#x42;&amp;'/>", OK, 0, 0},
        {"<a b='&foo;'/>", VELK_ERROR_ENTITY_UNDECLARED, 0, 6},
        {"<a b='\x01'/>", VELK_ERROR_CHARACTER, 0, 6},
        {"<a/ >", VELK_ERROR_TAG, 0, 3},
        {"<a", VELK_ERROR_UNCLOSED, 0, 0},
        {"<r><a b='x", VELK_ERROR_UNCLOSED, 0, 3},
        {"<a>\n <b c='\"'></b>\n</a>", OK, 0, 0},
    };
    CheckAll(cases);
}

TEST(Strict, EndTags) {
    const Case cases[] = {
        {"<doc></doc >", OK, 0, 0},
        {"<doc></DOC>", VELK_ERROR_END_TAG_MISMATCH, 0, 5},
        {"<a>\n  <b></c>\n</a>", VELK_ERROR_END_TAG_MISMATCH, 1, 5},
        {"<a><b></a></b>", VELK_ERROR_END_TAG_MISMATCH, 0, 6},
        {"<a></a b>", VELK_ERROR_TAG, 0, 7},
        {"<a></>", VELK_ERROR_NAME, 0, 5},
        {"<a>", VELK_ERROR_UNCLOSED, 0, 0},
        {"<a>\n<b>x", VELK_ERROR_UNCLOSED, 1, 0},
        {"<a></a", VELK_ERROR_UNCLOSED, 0, 3},
        {"<r a='1' b='2'>x y", VELK_ERROR_UNCLOSED, 0, 0},
        {"<r>\n <a b='1'>\n text\n", VELK_ERROR_UNCLOSED, 1, 1},
    };
    CheckAll(cases);
}

TEST(Strict, CharacterData) {
    const Case cases[] = {
        {"<doc>]]></doc>", VELK_ERROR_CDATA_END_IN_TEXT, 0, 5},
        {"<doc>]]&gt; ]] > ]</doc>", OK, 0, 0},
        {"<a>&</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<a>a & b</a>", VELK_ERROR_REFERENCE, 0, 5},
        {"<a>\f</a>", VELK_ERROR_CHARACTER, 0, 3},
        {"<a>\t\r\n\x7F</a>", OK, 0, 0},
        {"<a>\x1F</a>", VELK_ERROR_CHARACTER, 0, 3},
        {"<a>\xEF\xBF\xBD\xF4\x8F\xBF\xBF</a>", OK, 0, 0},     // U+FFFD U+10FFFF
        {"<a>\xEF\xBF\xBE</a>", VELK_ERROR_CHARACTER, 0, 3},   // U+FFFE
        {"<a>x\xEF\xBF\xBF</a>", VELK_ERROR_CHARACTER, 0, 4},  // U+FFFF
        {"<a>\xED\xA0\x80</a>", VELK_ERROR_UTF8, 0, 3},        // a surrogate
        {"<a>\xF4\x90\x80\x80</a>", VELK_ERROR_UTF8, 0, 3},    // above U+10FFFF
        {"<a>\xE0\x80\x80</a>", VELK_ERROR_UTF8, 0, 3},        // overlong
        {"<a>\xC1\xBF</a>", VELK_ERROR_UTF8, 0, 3},            // overlong
        {"<a>\xF0\x80\x80\x80</a>", VELK_ERROR_UTF8, 0, 3},    // overlong
        {"<a>\x80</a>", VELK_ERROR_UTF8, 0, 3},
        {"<a>\xC3</a>", VELK_ERROR_UTF8, 0, 3},
        {"<a>\xF8\x88\x80\x80\x80</a>", VELK_ERROR_UTF8, 0, 3},
        {"<a>0123456789abcdef0123456789abcdef\x01</a>", VELK_ERROR_CHARACTER, 0, 35},
        {"<a>0123456789abcdef 0123456789abcdef]]></a>", VELK_ERROR_CDATA_END_IN_TEXT, 0, 36},
        {"<a>0123456789abcdef  0123456789abcdef\xC3(</a>", VELK_ERROR_UTF8, 0, 37},
        {"<a>0123456789abcdef0123456789abcdef&</a>", VELK_ERROR_REFERENCE, 0, 35},
        {"<a>x\0</a>"s, VELK_ERROR_CHARACTER, 0, 4},
    };
    // A NUL ends the text that Parse sees; files and streams read past it.
    CheckAll(cases, sizeof cases / sizeof cases[0] - 1);
    const Case& nul = cases[sizeof cases / sizeof cases[0] - 1];
    for (Route route : {Route::kFile, Route::kStream}) {
        VelkDocument doc;
        ReadStrict(nul.xml, route, &doc);
        EXPECT_EQ(Outcome(doc), Expected(nul));
    }
    VelkDocument text;
    ReadStrict(nul.xml, Route::kText, &text);
    EXPECT_EQ(text.ErrorCode(), VELK_ERROR_UNCLOSED);
}

TEST(Strict, References) {
    const Case cases[] = {
        {"<doc>&#RE;</doc>", VELK_ERROR_REFERENCE, 0, 5},
        {"<a>&#9;&#xA;&#13;&#x20;&#xD7FF;&#xE000;&#x10FFFF;</a>", OK, 0, 0},
        {"<a>&#0;</a>", VELK_ERROR_CHARACTER_REFERENCE, 0, 3},
        {"<a>&#x1;</a>", VELK_ERROR_CHARACTER_REFERENCE, 0, 3},
        {"<a>&#xFFFE;</a>", VELK_ERROR_CHARACTER_REFERENCE, 0, 3},
        {"<a>&#xD800;</a>", VELK_ERROR_CHARACTER_REFERENCE, 0, 3},
        {"<a>&#x110000;</a>", VELK_ERROR_CHARACTER_REFERENCE, 0, 3},
        {"<a>&#99999999999999999999;</a>", VELK_ERROR_CHARACTER_REFERENCE, 0, 3},
        {"<a>&#X41;</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<a>&#x41</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<a>&#;</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<a>&#x;</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<a>&#1a;</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<doc>&amp;&lt;&gt;&quot;&apos;</doc>", OK, 0, 0},
        {"<doc>&foo;</doc>", VELK_ERROR_ENTITY_UNDECLARED, 0, 5},
        {"<doc>&AMP;</doc>", VELK_ERROR_ENTITY_UNDECLARED, 0, 5},
        {"<a>&amp</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<a>&1;</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<a>& amp;</a>", VELK_ERROR_REFERENCE, 0, 3},
        {"<!DOCTYPE doc [<!ENTITY foo 'x'>]><doc>&foo;</doc>", OK, 0, 0},
        {"<!DOCTYPE doc><doc>&foo;</doc>", VELK_ERROR_ENTITY_UNDECLARED, 0, 19},
        {"<!DOCTYPE doc SYSTEM 'd.dtd'><doc>&foo;</doc>", OK, 0, 0},
        {"<?xml version='1.0' standalone='yes'?><!DOCTYPE doc SYSTEM 'd.dtd'><doc>&foo;</doc>",
         VELK_ERROR_ENTITY_UNDECLARED, 0, 72},
        {"<?xml version='1.0' standalone='no'?><!DOCTYPE doc SYSTEM 'd.dtd'><doc>&foo;</doc>", OK,
         0, 0},
    };
    CheckAll(cases);
}

TEST(Strict, CommentsInstructionsAndCData) {
    const Case cases[] = {
        {"<!-- a -- b --><a/>", VELK_ERROR_COMMENT_HYPHENS, 0, 7},
        {"<!-- a - b -\n- --><a/>", OK, 0, 0},
        {"<a><!-- x ---></a>", VELK_ERROR_COMMENT_HYPHENS, 0, 10},
        {"<a><!----><!---x--></a>", OK, 0, 0},
        {"<!--<a/>", VELK_ERROR_UNCLOSED, 0, 0},
        {"<a><!-- \x02 --></a>", VELK_ERROR_CHARACTER, 0, 8},
        {"<!-x--><a/>", VELK_ERROR_MARKUP, 0, 0},
        {"<a><!-", VELK_ERROR_UNCLOSED, 0, 3},
        {"<a><![CDA", VELK_ERROR_UNCLOSED, 0, 3},
        {"<!DOC", VELK_ERROR_UNCLOSED, 0, 0},
        {"<!", VELK_ERROR_UNCLOSED, 0, 0},
        {"<a><!ELEMENT a ANY></a>", VELK_ERROR_MARKUP, 0, 3},
        {"<?xml-stylesheet href='a'?><a/>", OK, 0, 0},
        {"<?pi?><a><?pi x?y > ?\?></a>", OK, 0, 0},
        {"<?XML x?><a/>", VELK_ERROR_PI_TARGET, 0, 2},
        {"<a/><?xMl?>", VELK_ERROR_PI_TARGET, 0, 6},
        {"<a><?xml version='1.0'?></a>", VELK_ERROR_MISPLACED, 0, 3},
        {"<?xml?><a/>", VELK_ERROR_XML_DECLARATION, 0, 0},
        {"<?pi/x?><a/>", VELK_ERROR_PI_TARGET, 0, 4},
        {"<? pi?><a/>", VELK_ERROR_NAME, 0, 2},
        {"<a/><?pi x", VELK_ERROR_UNCLOSED, 0, 4},
        {"<a/><?pi \x0B?>", VELK_ERROR_CHARACTER, 0, 9},
        {"<a><![CDATA[<&]]]]></a>", OK, 0, 0},
        {"<a><![CDATA[]]></a>", OK, 0, 0},
        {"<a><![CDATA [x]]></a>", VELK_ERROR_MARKUP, 0, 3},
        {"<a><![cdata[x]]></a>", VELK_ERROR_MARKUP, 0, 3},
        {"<a><![CDATA[x</a>", VELK_ERROR_CDATA_UNCLOSED, 0, 3},
        {"<a><![CDATA[\x01]]></a>", VELK_ERROR_CHARACTER, 0, 12},
    };
    CheckAll(cases);
}

TEST(Strict, XmlDeclaration) {
    const Case cases[] = {
        {"<?xml version='1.1' encoding='utf-8' standalone='no' ?><a/>", OK, 0, 0},
        {"<?xml version = \"1.0\"\n encoding=\"US-ASCII\"?><a/>", OK, 0, 0},
        {"<?xml VERSION=\"1.0\"?><a/>", VELK_ERROR_XML_DECLARATION, 0, 6},
        {"<?xml encoding='UTF-8'?><a/>", VELK_ERROR_XML_DECLARATION, 0, 6},
        {"<?xml version='1.0' standalone='yes' encoding='UTF-8'?><a/>", VELK_ERROR_XML_DECLARATION,
         0, 37},
        {"<?xml version='2.0'?><a/>", VELK_ERROR_XML_DECLARATION, 0, 15},
        {"<?xml version='1.'?><a/>", VELK_ERROR_XML_DECLARATION, 0, 15},
        {"<?xml version=1.0?><a/>", VELK_ERROR_XML_DECLARATION, 0, 14},
        {"<?xml version='1.0\"?><a/>", VELK_ERROR_UNCLOSED, 0, 0},
        {"<?xml version='1.0' standalone='YES'?><a/>", VELK_ERROR_XML_DECLARATION, 0, 32},
        {"<?xml version='1.0' encoding='8bit'?><a/>", VELK_ERROR_XML_DECLARATION, 0, 30},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a/>", VELK_ERROR_ENCODING, 0, 30},
        {"<?xml version='1.0'encoding='UTF-8'?><a/>", VELK_ERROR_XML_DECLARATION, 0, 19},
        {"<?xml version='1.0' ?  ><a/>", VELK_ERROR_XML_DECLARATION, 0, 20},
        {"<?xml version='1.0'", VELK_ERROR_UNCLOSED, 0, 0},
    };
    CheckAll(cases);
}

TEST(Strict, Doctype) {
    const Case cases[] = {
        {"<!DOCTYPE a PUBLIC '-//A//B' \"b.dtd\" [ <!-- ] --> <?p ]?> ]><a/>", OK, 0, 0},
        {"<!DOCTYPE a SYSTEM \"x'y\"><a/>", OK, 0, 0},
        {"<!DOCTYPE a [<!ENTITY x ']'>]>\n<a/>", OK, 0, 0},
        {"<!DOCTYPE\ta\n[\n]\n>\n<a/>", OK, 0, 0},
        {"<!DOCTYPE><a/>", VELK_ERROR_DOCTYPE, 0, 9},
        {"<!DOCTYPE 1a><a/>", VELK_ERROR_NAME, 0, 10},
        {"<!DOCTYPE a SYSTEM><a/>", VELK_ERROR_DOCTYPE, 0, 18},
        {"<!DOCTYPE a PUBLIC 'x'><a/>", VELK_ERROR_DOCTYPE, 0, 22},
        {"<!DOCTYPE a PUBLIC '{' 'x'><a/>", VELK_ERROR_DOCTYPE, 0, 20},
        {"<!DOCTYPE a SYSTEM 'a.dtd' x><a/>", VELK_ERROR_DOCTYPE, 0, 27},
        {"<!DOCTYPE a [ ] x><a/>", VELK_ERROR_DOCTYPE, 0, 16},
        {"<!DOCTYPE a [ \x01 ]><a/>", VELK_ERROR_CHARACTER, 0, 14},
        {"<!DOCTYPE a [", VELK_ERROR_UNCLOSED, 0, 0},
        {"<!DOCTYPE a [ '", VELK_ERROR_UNCLOSED, 0, 0},
        {"<!doctype a><a/>", VELK_ERROR_MARKUP, 0, 0},
    };
    CheckAll(cases);
}

// The tree of a strict reading: with condensing off every character of
// character data, line ends read as LF everywhere; with it on, as the
// lenient reading condenses.
TEST(Strict, Trees) {
    const struct {
        bool condense;
        const char* xml;
        const char* shape;
    } cases[] = {
        {false, "<a>\r\n <b/>\r\n</a>", "a('\n ',b,'\n')"},
        {false, "<a> </a>", "a(' ')"},
        {false, "<a><![CDATA[x\r\ny\rz]]><?p x\r\ny?><!--\r--></a>",
         "a('x\ny\nz',<?p x\ny?>,<!--\n-->)"},
        {false, "<a b='x\r\ny\tz\n' c='&#9;&#xA;&#13;&lt;'/>", "a[b=x y z ,c=\t\n\r<]"},
        {false, "<a>&#xE9;&#233;&#x10000;&amp;</a>", "a('\xC3\xA9\xC3\xA9\xF0\x90\x80\x80&')"},
        {false, "<!DOCTYPE a [\r\n]>\r\n<a/>", "<!DOCTYPE a [\n]>,a"},
        {false, "<?xml version='1.0' encoding='UTF-8' standalone='yes'?><a/>",
         "<?xml 1.0|UTF-8|yes?>,a"},
        {true, "<a>  x \n y  <b/> </a>", "a('x y',b)"},
        {true, "<a>\n  <b> </b>\n</a>", "a(b)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Printable(c.xml));
        Condensing condensing(c.condense);
        VelkDocument doc;
        ReadStrict(c.xml, Route::kText, &doc);
        EXPECT_EQ(Outcome(doc), "ok");
        EXPECT_EQ(Shape(&doc), c.shape);
        EXPECT_EQ(CheckLinks(doc), "");
    }
}

// Where each node and attribute below node begins, in document order.
std::string Locations(const VelkNode& node) {
    std::string out;
    for (const VelkNode* c = node.FirstChild(); c; c = c->NextSibling()) {
        out += std::to_string(c->Location().row) + ":" + std::to_string(c->Location().col) + " ";
        if (const VelkElement* e = const_cast<VelkNode*>(c)->ToElement())
            for (const VelkAttribute* a = e->FirstAttribute(); a; a = a->Next())
                out += "@" + std::to_string(a->Location().row) + ":" +
                       std::to_string(a->Location().col) + " ";
        out += Locations(*c);
    }
    return out;
}

// Condensing, strict reading gives the lenient UTF-8 reading's tree of a
// well-formed document: long runs (read sixteen bytes a step) with single and
// repeated white space, references and multi-byte characters at every offset.
TEST(Strict, CondensedTextsAsTheLenientReadingGivesThem) {
    Condensing condensing(true);
    std::string long_text;
    for (int i = 0; i < 40; ++i)
        long_text += std::string(static_cast<size_t>(i % 7), 'w') + (i % 3 ? " " : "  \t\n ") +
                     (i % 5 ? "" : "&amp;&#x20;\xC3\xA9") + (i % 11 ? "" : "]]");
    const std::string documents[] = {
        "<a>" + long_text + "</a>",
        "<a>  " + long_text + "<b>" + long_text + "</b>" + long_text + "  </a>",
        "<a b='" + long_text + "'>\r\n" + long_text + "\r\n</a>",
        "<a>0123456789abcdef0123456789abcdef x</a>",
        "<a>0123456789abcdef 0123456789abcdef0 <b/> 0123456789abcdef0123456789ab cd</a>",
        "<a>\n\t x\r\n  y\t\tz <b c='1'\n   d='2'>\r  w</b>\n\t<!--c-->\n</a>",
        // White space alone, from references too, makes no text; beside other text it stays.
        "<a>&#x9;<b>&#32;</b> &#xA; <c>x&#x9;</c></a>",
    };
    for (const std::string& xml : documents) {
        SCOPED_TRACE(Printable(xml));
        VelkDocument lax, strict;
        lax.SetUtf8(true);
        lax.Parse(xml.c_str(), nullptr);
        ReadStrict(xml, Route::kText, &strict);
        ASSERT_FALSE(lax.Error());
        EXPECT_EQ(Outcome(strict), "ok");
        EXPECT_EQ(Shape(&strict), Shape(&lax));
        EXPECT_EQ(Locations(strict), Locations(lax));
    }
}

// Nodes and the error carry their rows and columns; a parse that starts where
// an earlier one ended counts on from there.
TEST(Strict, Locations) {
    VelkDocument doc;
    ReadStrict("<!--c-->\n<a\n b='1'>\n  <c/>x</a>", Route::kText, &doc);
    ASSERT_FALSE(doc.Error());
    const VelkElement* a = doc.FirstChildElement();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Location().row, 1);
    EXPECT_EQ(a->Location().col, 0);
    EXPECT_EQ(a->FirstAttribute()->Location().row, 2);
    EXPECT_EQ(a->FirstAttribute()->Location().col, 1);
    EXPECT_EQ(a->FirstChildElement()->Location().row, 3);
    EXPECT_EQ(a->FirstChildElement()->Location().col, 2);
}

// Strict reading implies the UTF-8 model; leaving the UTF-8 model leaves
// strict reading; the lenient reading of the same document is unchanged.
TEST(Strict, SwitchAndLenientReading) {
    VelkDocument doc;
    doc.SetStrict(true);
    EXPECT_TRUE(doc.Utf8());
    doc.SetUtf8(false);
    EXPECT_FALSE(doc.Strict());
    doc.SetUtf8(true);
    EXPECT_FALSE(doc.Strict());

    VelkDocument lax;
    lax.SetUtf8(true);
    lax.Parse("<doc></DOC>", nullptr);
    EXPECT_FALSE(lax.Error());
    VelkDocument strict;
    strict.SetStrict(true);
    strict.Parse("<doc></DOC>", nullptr);
    EXPECT_EQ(strict.ErrorCode(), VELK_ERROR_END_TAG_MISMATCH);
}

// A strict stream read takes the whole stream and leaves it at its end
// without a failure; a clean document after an error clears it.
TEST(Strict, StreamReadsToTheEnd) {
    std::istringstream in("<a/>\n<!--after-->\n");
    VelkDocument doc;
    doc.SetStrict(true);
    in >> doc;
    EXPECT_FALSE(doc.Error());
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.fail());
    EXPECT_EQ(Shape(&doc), "a,<!--after-->");
}

// Nesting is walked without recursion: a deep document reads, and one left
// open reports its innermost element.
TEST(Strict, DeepNesting) {
    const int depth = 100000;
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<a>";
    VelkDocument open;
    ReadStrict(xml, Route::kText, &open);
    EXPECT_EQ(Outcome(open), Expected({"", VELK_ERROR_UNCLOSED, 0, 3 * (depth - 1)}));
    for (int i = 0; i < depth; ++i) xml += "</a>";
    VelkDocument closed;
    ReadStrict(xml, Route::kText, &closed);
    EXPECT_EQ(Outcome(closed), "ok");
}

// Every proper prefix of a document, up to the end of its element, is not
// well formed, whatever markup the cut falls in.
TEST(Strict, EveryPrefixIsAnError) {
    const std::string xml =
        "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8' standalone='no'?>\r\n"
        "<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e 'x'>]>\n<r a='1&amp;' b=\"&#x41;\">"
        "<!--c--><?p d?><![CDATA[x]]>t&#233;\xC3\xA9<e/>&e;</r>";
    for (size_t n = 0; n < xml.size(); ++n) {
        SCOPED_TRACE(Printable(xml.substr(0, n)));
        VelkDocument doc;
        ReadStrict(xml.substr(0, n), Route::kText, &doc);
        EXPECT_TRUE(doc.Error());
    }
    VelkDocument whole;
    ReadStrict(xml, Route::kText, &whole);
    EXPECT_EQ(Outcome(whole), "ok");
}

// An empty file is not a document.
TEST(Strict, EmptyFile) {
    const std::string path = TempPath("empty.xml");
    ASSERT_TRUE(WriteFile(path, ""));
    VelkDocument doc;
    doc.SetStrict(true);
    EXPECT_FALSE(doc.LoadFile(path.c_str()));
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_DOCUMENT_EMPTY);
    std::remove(path.c_str());
}

}  // namespace

namespace {

// A lenient UTF-8 reading of xml (which takes much that XML does not), then
// the document switched to strict: what CheckWritable finds in the tree.
std::string Fault(const char* xml, bool strict = true, bool utf8 = true) {
    VelkDocument doc;
    doc.SetUtf8(utf8);
    doc.Parse(xml, nullptr);
    doc.SetStrict(strict);
    doc.SetUtf8(utf8);
    const VelkBase* where = nullptr;
    const int code = doc.CheckWritable(&where);
    if (!code) return where ? "ok but a node" : "ok";
    return std::string(VelkBase::errorString[code]) + " at " +
           std::to_string(where->Location().row) + ":" + std::to_string(where->Location().col);
}

std::string At(int code, const char* place) {
    return std::string(VelkBase::errorString[code]) + " at " + place;
}

TEST(StrictWriting, CheckWritableFindsWhatXmlCannotHold) {
    const struct {
        const char* xml;
        bool strict;
        bool utf8;
        std::string fault;
    } cases[] = {
        {"<?xml version='1.0'?><!DOCTYPE a><a b='1'>x<!--c--><?p d?><![CDATA[]]>]]></a>", true,
         true, "ok"},
        {"<a><b\xC3\x97/></a>", true, true, At(VELK_ERROR_NAME, "0:3")},
        {"<a b\xC3\x97='1'/>", true, true, At(VELK_ERROR_NAME, "0:3")},
        {"<a><0b/></a>", true, true, At(VELK_ERROR_MARKUP, "0:3")},
        {"<a>\n<!--x--y--></a>", true, true, At(VELK_ERROR_COMMENT_HYPHENS, "1:0")},
        {"<a><!--x---></a>", true, true, At(VELK_ERROR_COMMENT_HYPHENS, "0:3")},
        {"<a><!--x- --></a>", true, true, "ok"},
        {"<a><?p x?></a>", true, true, "ok"},
        {"<a><?xml-x?></a>", true, true, "ok"},
        {"<a><?XmL x?></a>", true, true, At(VELK_ERROR_PI_TARGET, "0:3")},
        {"<a><?p/x?></a>", true, true, At(VELK_ERROR_PI_TARGET, "0:3")},
        {"<a><? p?></a>", true, true, At(VELK_ERROR_NAME, "0:3")},
        {"<a><!foo></a>", true, true, At(VELK_ERROR_MARKUP, "0:3")},
        {"<a>\x01</a>", true, true, At(VELK_ERROR_CHARACTER, "0:3")},
        {"<a>\xC3</a>", true, true, At(VELK_ERROR_UTF8, "0:3")},
        {"<a>\xED\xA0\x80</a>", true, true, At(VELK_ERROR_UTF8, "0:3")},
        {"<a>\xEF\xBF\xBF</a>", true, true, At(VELK_ERROR_CHARACTER, "0:3")},
        {"<a b='\x02'/>", true, true, At(VELK_ERROR_CHARACTER, "0:3")},
        {"<?xml version='2.0'?><a/>", true, true, At(VELK_ERROR_XML_DECLARATION, "0:0")},
        {"<?xml version='1.0' standalone='maybe'?><a/>", true, true,
         At(VELK_ERROR_XML_DECLARATION, "0:0")},
        {"<?xml version='1.0' encoding='latin1'?><a/>", true, true, At(VELK_ERROR_ENCODING, "0:0")},
        {"<a/><b/>", true, true, At(VELK_ERROR_MULTIPLE_ROOTS, "0:4")},
        {"<!--only-->", true, true, At(VELK_ERROR_DOCUMENT_EMPTY, "0:0")},
        // The UTF-8 model without strict reading: control characters only.
        {"<a>\x01</a>", false, true, At(VELK_ERROR_CHARACTER, "0:3")},
        {"<a b='\x02'/>", false, true, At(VELK_ERROR_CHARACTER, "0:3")},
        {"<a><!--x--y--><0b/></a>", false, true, "ok"},
        // The byte model writes every byte as a reference it reads back.
        {"<a>\x01</a>", false, false, "ok"},
        // In every model the pretty form writes comments as they are.
        {"<a><!--x--y-></a>", false, false, "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Printable(c.xml));
        EXPECT_EQ(Fault(c.xml, c.strict, c.utf8), c.fault);
    }
}

// A comment holding "-->" would end early when read back, in any model.
TEST(StrictWriting, CommentsThatWouldEndEarly) {
    for (bool utf8 : {false, true}) {
        VelkDocument doc;
        doc.SetUtf8(utf8);
        AddElement(&doc, "r")->LinkEndChild(Comment("a-->b"));
        EXPECT_EQ(doc.CheckWritable(), VELK_ERROR_COMMENT_HYPHENS);
        EXPECT_FALSE(doc.SaveFile(TempPath("comment.xml").c_str()));
        EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_COMMENT_HYPHENS);
    }
}

// A tree built by a caller: an empty element name and a comment ending in '-'.
TEST(StrictWriting, CallerBuiltTrees) {
    VelkDocument doc;
    doc.SetStrict(true);
    VelkElement* root = AddElement(&doc, "r");
    const VelkBase* where = nullptr;
    EXPECT_EQ(doc.CheckWritable(&where), VELK_NO_ERROR);
    EXPECT_EQ(where, nullptr);
    VelkNode* comment = root->LinkEndChild(Comment("x-"));
    EXPECT_EQ(doc.CheckWritable(&where), VELK_ERROR_COMMENT_HYPHENS);
    EXPECT_EQ(where, comment);
    root->RemoveChild(comment);
    VelkElement* empty = AddElement(root, "");
    EXPECT_EQ(doc.CheckWritable(), VELK_ERROR_NAME);
    EXPECT_EQ(doc.CheckWritable(&where), VELK_ERROR_NAME);
    EXPECT_EQ(where, empty);
}

// SaveFile writes nothing of a tree it finds fault with, and says why.
TEST(StrictWriting, SaveFileRefusesWhatXmlCannotHold) {
    const std::string path = TempPath("refused.xml");
    std::remove(path.c_str());
    VelkDocument doc;
    doc.SetStrict(true);
    doc.Parse("<a>\n <b>x</b></a>", nullptr);
    ASSERT_FALSE(doc.Error());
    doc.FirstChildElement()->FirstChildElement()->SetValue("0b");
    EXPECT_FALSE(doc.SaveFile(path.c_str()));
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_NAME);
    EXPECT_EQ(doc.ErrorCursor().row, 1);
    EXPECT_EQ(doc.ErrorCursor().col, 1);
    EXPECT_EQ(std::fopen(path.c_str(), "r"), nullptr);

    doc.FirstChildElement()->FirstChildElement()->SetValue("b");
    doc.ClearError();
    EXPECT_TRUE(doc.SaveFile(path.c_str()));
    VelkDocument back;
    back.SetStrict(true);
    EXPECT_TRUE(back.LoadFile(path.c_str()));
    EXPECT_EQ(Shape(&back), "a(b('x'))");
    std::remove(path.c_str());
}

// What a strict reading gives, written in compact form and read strictly
// again, gives the same tree, condensing off.
TEST(StrictWriting, CompactFormReadsBackTheSame) {
    const char* const documents[] = {
        "<a b='x&#9;y&#10;z\"&apos;' c=\"&lt;&amp;&gt;\">\r\n t\r "
        "<![CDATA[]]]]><![CDATA[>]]><!--\r\n--> </a>",
        "<a>&#xD;&#x85;&#x2028;\xC3\xA9<b/>\t</a>",
        "<?xml version='1.0' encoding=\"utf-8\"?><!DOCTYPE a SYSTEM 'x\"y'><a><?p \r\n?></a>",
    };
    Condensing condensing(false);
    for (const char* xml : documents) {
        SCOPED_TRACE(Printable(xml));
        VelkDocument first;
        first.SetStrict(true);
        first.Parse(xml, nullptr);
        ASSERT_FALSE(first.Error()) << first.ErrorMessage();
        EXPECT_EQ(first.CheckWritable(), VELK_NO_ERROR);
        const std::string written = Compact(first);
        VelkDocument second;
        second.SetStrict(true);
        second.Parse(written.c_str(), nullptr);
        EXPECT_FALSE(second.Error()) << second.ErrorMessage() << " in " << Printable(written);
        EXPECT_EQ(Shape(&second), Shape(&first));
    }
}

}  // namespace
