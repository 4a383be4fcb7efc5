// The internal subset of a DOCTYPE in the UTF-8 model: the declaration
// grammar and its constraints in strict reading, the expansion of entities,
// declared attribute defaults and normalisation, references kept in lax
// reading, and the limits against hostile input.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

enum class Read { kText, kStream, kFile };

// Parses input into doc in the UTF-8 model, strictly or not, by one route.
void ReadUtf8(VelkDocument* doc, const std::string& input, bool strict, Read route) {
    doc->SetUtf8(true);
    doc->SetStrict(strict);
    switch (route) {
        case Read::kText:
            doc->Parse(input.c_str(), nullptr);
            break;
        case Read::kStream: {
            std::istringstream in(input);
            in >> *doc;
            break;
        }
        case Read::kFile: {
            const std::string path = TempPath("dtd.xml");
            ASSERT_TRUE(WriteFile(path, input));
            doc->LoadFile(path.c_str());
            std::remove(path.c_str());
            break;
        }
    }
}

// The code and the column of the recorded error, as "code@col" (row 0).
std::string ErrorAt(const VelkDocument& doc) {
    if (!doc.Error()) return "ok";
    return std::to_string(doc.ErrorCode()) + "@" + std::to_string(doc.ErrorCursor().row) + ":" +
           std::to_string(doc.ErrorCursor().col);
}

// The expected "code@0:col", the column being where at last occurs in doc.
std::string Expected(const std::string& doc, int code, const char* at) {
    if (code == VELK_NO_ERROR) return "ok";
    const size_t col = doc.rfind(at);
    EXPECT_NE(col, std::string::npos) << at;
    return std::to_string(code) + "@0:" + std::to_string(col);
}

struct Conformance {
    const char* subset;   // the text between "<!DOCTYPE d [" and "]>"
    const char* content;  // what follows the DOCTYPE
    int code;             // VELK_NO_ERROR for a well-formed near miss
    const char* at;       // where the error is: the last occurrence of this text
};

// Strict reading: each production and constraint with a document that breaks
// it and one that comes close without breaking it.
const Conformance kConformance[] = {
    // elementdecl and content models
    {"<!ELEMENT d EMPTY>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ELEMENT d empty>", "<d/>", VELK_ERROR_DTD_SYNTAX, "empty"},
    {"<!ELEMENT d(a)>", "<d/>", VELK_ERROR_DTD_SYNTAX, "(a)"},
    {"<!ELEMENT d ((a,b)?,c*) >", "<d/>", VELK_NO_ERROR, ""},
    {"<!ELEMENT d (a,b|c)>", "<d/>", VELK_ERROR_DTD_SYNTAX, "|c"},
    {"<!ELEMENT d (a ?)>", "<d/>", VELK_ERROR_DTD_SYNTAX, "?"},
    {"<!ELEMENT d ()>", "<d/>", VELK_ERROR_DTD_SYNTAX, ")>"},
    {"<!ELEMENT d ( #PCDATA | a | b )*>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ELEMENT d (#PCDATA|a)>", "<d/>", VELK_ERROR_DTD_SYNTAX, ">]"},
    {"<!ELEMENT d (#PCDATA)>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ELEMENT d (a|#PCDATA)>", "<d/>", VELK_ERROR_DTD_SYNTAX, "#"},
    // AttlistDecl, every type and default
    {"<!ATTLIST d a CDATA #IMPLIED b ID #REQUIRED c IDREF #IMPLIED e IDREFS #IMPLIED "
     "f ENTITY #IMPLIED g ENTITIES #IMPLIED h NMTOKEN #IMPLIED i NMTOKENS #IMPLIED>",
     "<d b='x'/>", VELK_NO_ERROR, ""},
    {"<!ATTLIST d a STRING #IMPLIED>", "<d/>", VELK_ERROR_DTD_SYNTAX, "STRING"},
    {"<!ATTLIST d a CDATA>", "<d/>", VELK_ERROR_DTD_SYNTAX, ">]"},
    {"<!ATTLIST d a (x|y-1|2) 'x' b NOTATION ( n ) #IMPLIED c CDATA #FIXED \"v\">", "<d/>",
     VELK_NO_ERROR, ""},
    {"<!ATTLIST d a (x|y)'x'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "'x'"},
    {"<!ATTLIST d a NOTATION(n) #IMPLIED>", "<d/>", VELK_ERROR_DTD_SYNTAX, "(n)"},
    {"<!ATTLIST d a CDATA #FIXED>", "<d/>", VELK_ERROR_DTD_SYNTAX, ">]"},
    {"<!ATTLIST d a CDATA 'a<b'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "<b"},
    {"<!ATTLIST d a CDATA 'a&b'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "&b"},
    {"<!ATTLIST d a CDATA 'a&amp;b&#60;'>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ATTLIST d a CDATA '&e;'><!ENTITY e 'x'>", "<d/>", VELK_ERROR_ENTITY_UNDECLARED, "&e;"},
    {"<!ENTITY e 'x'><!ATTLIST d a CDATA '&e;'>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ENTITY e 'a<b'><!ATTLIST d a CDATA '&e;'>", "<d/>", VELK_ERROR_ENTITY_LT_IN_ATTRIBUTE,
     "&e;'>"},
    // EntityDecl, general and parameter, internal and external
    {"<!ENTITY e \"v\"><!ENTITY f 'v'><!ENTITY % p 'v'>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ENTITY e v>", "<d/>", VELK_ERROR_DTD_SYNTAX, "v>"},
    {"<!ENTITY e 'a&b'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "&b"},
    {"<!ENTITY e '&#0;'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "&#0;"},
    {"<!ENTITY e '&#x10FFFF;&#xD7FF;'>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ENTITY e '&#xD800;'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "&#xD800;"},
    {"<!ENTITY e '\x01'>", "<d/>", VELK_ERROR_CHARACTER, "\x01"},
    {"<!ENTITY e '\xC0\x80'>", "<d/>", VELK_ERROR_UTF8, "\xC0"},
    {"<!ENTITY e '\xE0\x80\xAF'>", "<d/>", VELK_ERROR_UTF8, "\xE0"},
    {"<!ENTITY e '\xED\xA0\x80'>", "<d/>", VELK_ERROR_UTF8, "\xED"},
    {"<!ENTITY e '\xEF\xBF\xBE'>", "<d/>", VELK_ERROR_CHARACTER, "\xEF"},
    {"<!ENTITY e '\xE2\x82\xAC'>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ENTITY e SYSTEM 'e.xml'><!ENTITY f PUBLIC '-//x//y' \"f.xml\">", "<d/>", VELK_NO_ERROR, ""},
    {"<!ENTITY foo PUBLIC \"x\">", "<d/>", VELK_ERROR_DTD_SYNTAX, ">]"},
    {"<!ENTITY e PUBLIC 'a{b' 'x'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "{"},
    {"<!ENTITY e SYSTEM'x'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "'x'"},
    {"<!ENTITY e SYSTEM 'x' NDATA n>", "<d/>", VELK_NO_ERROR, ""},
    {"<!ENTITY % p SYSTEM 'x' NDATA n>", "<d/>", VELK_ERROR_DTD_SYNTAX, "NDATA"},
    {"<!ENTITY %p 'x'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "p 'x'"},
    {"<!ENTITY % p 'x'><!ENTITY e 'a%p;'>", "<d/>", VELK_ERROR_PE_IN_DECLARATION, "%p;'"},
    // names with the name characters of XML, in UTF-8
    {"<!ENTITY :a\xC3\x96\xC2\xB7"
     "-.9 'v'>",
     "<d>&:a\xC3\x96\xC2\xB7"
     "-.9;</d>",
     VELK_NO_ERROR, ""},
    {"<!ENTITY \xC3\x97 'v'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "\xC3\x97"},
    {"<!ENTITY \xC2\xB7"
     "a 'v'>",
     "<d/>", VELK_ERROR_DTD_SYNTAX,
     "\xC2\xB7"
     "a"},
    {"<!ENTITY 9a 'v'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "9a"},
    {"<!ENTITY \xF0\x90\x80\x80 'v'>", "<d>&\xF0\x90\x80\x80;</d>", VELK_NO_ERROR, ""},
    {"<!ENTITY \xF3\xB0\x80\x80 'v'>", "<d/>", VELK_ERROR_DTD_SYNTAX, "\xF3"},
    // NotationDecl
    {"<!NOTATION n PUBLIC 'p'><!NOTATION m PUBLIC 'p' 's'><!NOTATION o SYSTEM 's'>", "<d/>",
     VELK_NO_ERROR, ""},
    {"<!NOTATION n SYSTEM>", "<d/>", VELK_ERROR_DTD_SYNTAX, ">]"},
    // comments and processing instructions
    {"<!-- a - b --><?pi data?><?xml-model x?><?p?>", "<d/>", VELK_NO_ERROR, ""},
    {"<!-- a -- b -->", "<d/>", VELK_ERROR_DTD_SYNTAX, "-- b"},
    {"<!-- a --->", "<d/>", VELK_ERROR_DTD_SYNTAX, "--->"},
    {"<?XmL x?>", "<d/>", VELK_ERROR_DTD_SYNTAX, "XmL"},
    {"<!ELEMENT d ANY> junk", "<d/>", VELK_ERROR_DTD_SYNTAX, "junk"},
    // parameter-entity references between declarations
    {"<!ENTITY % p '<!ELEMENT d ANY>'> %p; %p;", "<d/>", VELK_NO_ERROR, ""},
    {"<!ENTITY % p '<!ELEMENT d ANY'> %p;>", "<d/>", VELK_ERROR_DTD_SYNTAX, "%p;"},
    {"%p;", "<d>&undeclared;</d>", VELK_NO_ERROR, ""},
    // Entity Declared
    {"", "<d>&e;</d>", VELK_ERROR_ENTITY_UNDECLARED, "&e;"},
    {"", "<d a='&e;'/>", VELK_ERROR_ENTITY_UNDECLARED, "&e;"},
    {"<!ENTITY e 'x'>", "<d a='&e;'>&e;</d>", VELK_NO_ERROR, ""},
    {"<!ENTITY e '&f;'>", "<d>&e;</d>", VELK_ERROR_ENTITY_UNDECLARED, "&e;"},
    {"<!ENTITY e '&f;'>", "<d/>", VELK_NO_ERROR, ""},
    // Parsed Entity and external entities
    {"<!ENTITY u SYSTEM 'u' NDATA n>", "<d>&u;</d>", VELK_ERROR_ENTITY_UNPARSED, "&u;"},
    {"<!ENTITY u SYSTEM 'u' NDATA n>", "<d a='&u;'/>", VELK_ERROR_ENTITY_UNPARSED, "&u;"},
    {"<!ENTITY x SYSTEM 'x'>", "<d>&x;</d>", VELK_ERROR_ENTITY_EXTERNAL, "&x;"},
    {"<!ENTITY x SYSTEM 'x'>", "<d a='&x;'/>", VELK_ERROR_ENTITY_EXTERNAL, "&x;"},
    {"<!ENTITY x SYSTEM 'x'><!ENTITY e '&x;'>", "<d>&e;</d>", VELK_ERROR_ENTITY_EXTERNAL, "&e;"},
    // No Recursion
    {"<!ENTITY e 'a&e;'>", "<d>&e;</d>", VELK_ERROR_ENTITY_RECURSION, "&e;"},
    {"<!ENTITY e '&f;'><!ENTITY f '<b>&e;</b>'>", "<d>&f;</d>", VELK_ERROR_ENTITY_RECURSION, "&f;"},
    {"<!ENTITY e '&f;'><!ENTITY f '&e;'>", "<d a='&f;'/>", VELK_ERROR_ENTITY_RECURSION, "&f;"},
    {"<!ENTITY e '&f;&f;'><!ENTITY f 'x'>", "<d a='&e;'>&e;</d>", VELK_NO_ERROR, ""},
    {"<!ENTITY % p '&#37;q;'><!ENTITY % q '&#37;p;'> %p;", "<d/>", VELK_ERROR_ENTITY_RECURSION,
     "%p;"},
    // No < in Attribute Values
    {"<!ENTITY e 'a<b'>", "<d a='&e;'/>", VELK_ERROR_ENTITY_LT_IN_ATTRIBUTE, "&e;"},
    {"<!ENTITY e 'a&lt;b'>", "<d a='&e;'/>", VELK_NO_ERROR, ""},
    {"<!ENTITY e 'a&#38;#60;b'>", "<d a='&e;'/>", VELK_NO_ERROR, ""},
    // replacement text must be content that is well formed on its own
    {"<!ENTITY e '<a>'>", "<d>&e;</a></d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '</d>'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<a/>&#38;amp;'>", "<d>&e;</d>", VELK_NO_ERROR, ""},
    {"<!ENTITY e 'a &#38; b'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<a>x'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<a b=c/>'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<a b=\"c\"/>'>", "<d>&e;</d>", VELK_NO_ERROR, ""},
    {"<!ENTITY e '<!--x'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<![CDATA[x'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<a/>&#38;'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<a/>]]&#62;'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<a/>]]'>", "<d>&e;&gt;</d>", VELK_NO_ERROR, ""},
    {"<!ENTITY e 'a]]&#62;'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e ']]>'><!ENTITY f 'x&e;'>", "<d a='&f;'>&f;</d>", VELK_ERROR_ENTITY_CONTENT, "&f;"},
    {"<!ENTITY e ']]&#38;#62;'>", "<d a='&e;'>&e;</d>", VELK_NO_ERROR, ""},
    {"<!ENTITY e '<a></b>'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '</d><d>'>", "<d>&e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<b>&f;</b>'><!ENTITY f '<c>'>", "<d>x &e;</d>", VELK_ERROR_ENTITY_CONTENT, "&e;"},
    {"<!ENTITY e '<a/>'>", "<d>&e;<e>&e;</d>", VELK_ERROR_END_TAG_MISMATCH, "</d>"},
    // references inside an entity's markup
    {"<!ENTITY x SYSTEM 'x'><!ENTITY m '<b>&x;</b>'>", "<d>&m;</d>", VELK_ERROR_ENTITY_EXTERNAL,
     "&m;"},
    {"<!ENTITY m '<b>&u;</b>'>", "<d>&m;</d>", VELK_ERROR_ENTITY_UNDECLARED, "&m;"},
    {"<!ENTITY m '<b a=\"&u;\"/>'>", "<d>&m;</d>", VELK_ERROR_ENTITY_UNDECLARED, "&m;"},
    {"<!ENTITY v 'x'><!ENTITY m '<b a=\"&v;\">&v;</b>'>", "<d>&m;</d>", VELK_NO_ERROR, ""},
    {"<!ENTITY v '<'><!ENTITY m '<b a=\"&v;\"/>'>", "<d>&m;</d>", VELK_ERROR_ENTITY_LT_IN_ATTRIBUTE,
     "&m;"},
};

TEST(Dtd, ConformanceOfTheInternalSubset) {
    for (const Conformance& c : kConformance) {
        const std::string input = std::string("<!DOCTYPE d [") + c.subset + "]>" + c.content;
        const std::string expected = Expected(input, c.code, c.at);
        for (Read route : {Read::kText, Read::kStream, Read::kFile}) {
            VelkDocument doc;
            ReadUtf8(&doc, input, true, route);
            EXPECT_EQ(ErrorAt(doc), expected)
                << Printable(input) << " read by route " << static_cast<int>(route);
        }
    }
}

// Where the DOCTYPE's outer syntax names an external subset or the XML
// declaration says standalone, an undeclared entity is, or is not, an error.
TEST(Dtd, UndeclaredEntitiesWithAnExternalSubsetOrStandalone) {
    const struct {
        const char* input;
        int code;
        const char* at;
    } cases[] = {
        {"<!DOCTYPE d SYSTEM 'd.dtd'><d>&e;</d>", VELK_NO_ERROR, ""},
        {"<!DOCTYPE d PUBLIC '-//p' 'd.dtd' [<!ELEMENT d ANY>]><d a='&e;'>&e;</d>", VELK_NO_ERROR,
         ""},
        {"<?xml version='1.0' standalone='yes'?><!DOCTYPE d SYSTEM 'd.dtd'><d>&e;</d>",
         VELK_ERROR_ENTITY_UNDECLARED, "&e;"},
        {"<?xml version='1.0' standalone='no'?><!DOCTYPE d SYSTEM 'd.dtd'><d>&e;</d>",
         VELK_NO_ERROR, ""},
        {"<?xml version='1.0' standalone='yes'?><!DOCTYPE d [<!ENTITY % p ''>%p;]><d>&e;</d>",
         VELK_ERROR_ENTITY_UNDECLARED, "&e;"},
        {"<!DOCTYPE d [<!ENTITY % p ''>%p;]><d a='&e;'>&e;</d>", VELK_NO_ERROR, ""},
        {"<!DOCTYPE d><d>&e;</d>", VELK_ERROR_ENTITY_UNDECLARED, "&e;"},
        {"<?xml version='1.0' standalone='yes'?><!DOCTYPE d [%p;]><d/>",
         VELK_ERROR_ENTITY_UNDECLARED, "%p;"},
        {"<!DOCTYPE d SYSTEM'd.dtd'><d/>", VELK_ERROR_DOCTYPE, "'d.dtd'"},
    };
    for (const auto& c : cases) {
        VelkDocument doc;
        ReadUtf8(&doc, c.input, true, Read::kText);
        EXPECT_EQ(ErrorAt(doc), Expected(c.input, c.code, c.at)) << c.input;
    }
}

// Errors in a subset or content over several lines are placed by row and
// column, those that an entity's expansion meets at the outermost reference
// in the document: by every route, with condensing on or off.
TEST(Dtd, ErrorsAreLocatedAcrossLines) {
    const struct {
        const char* input;
        int code, row, col;
    } cases[] = {
        {"<!DOCTYPE d [\n  <!ENTITY e 'x'>\n\t<!ELEMENT d (a,|b)>\n]>\n<d/>", VELK_ERROR_DTD_SYNTAX,
         2, 19},
        {"<!DOCTYPE d [\n<!ENTITY e '<a>&f;</a>'>\n<!ENTITY f '&e;'>]>\n<d>\n  x &e;</d>",
         VELK_ERROR_ENTITY_RECURSION, 4, 4},
        {"<!DOCTYPE d [\n<!ENTITY e '<a>'>]>\n<d>\n  &e;</d>", VELK_ERROR_ENTITY_CONTENT, 3, 2},
        {"<!DOCTYPE d [\n<!ENTITY e 'x'>]>\n<d\n   a='&e;&g;'/>", VELK_ERROR_ENTITY_UNDECLARED, 3,
         9},
        {"<!DOCTYPE d [\n<!ENTITY e '<b>&f;</b>'>\n<!ENTITY f '<c>'>\n]>\n<d>\n  text\n  x &e;</d>",
         VELK_ERROR_ENTITY_CONTENT, 6, 4},
        {"<!DOCTYPE d [\n<!ENTITY v '<'>\n]>\n<d>\n<e\n  a='&v;'/></d>",
         VELK_ERROR_ENTITY_LT_IN_ATTRIBUTE, 5, 5},
        {"<!DOCTYPE d [\n<!ENTITY e '&f;'><!ENTITY f '&e;'>\n]>\n<d>\n  <x/>  y  &e;</d>",
         VELK_ERROR_ENTITY_RECURSION, 4, 11},
    };
    for (const auto& c : cases) {
        for (bool condense : {false, true}) {
            Condensing condensing(condense);
            for (Read route : {Read::kText, Read::kStream, Read::kFile}) {
                VelkDocument doc;
                ReadUtf8(&doc, c.input, true, route);
                EXPECT_EQ(ErrorAt(doc), std::to_string(c.code) + "@" + std::to_string(c.row) + ":" +
                                            std::to_string(c.col))
                    << Printable(c.input) << " read by route " << static_cast<int>(route);
            }
        }
    }
}

struct Expansion {
    const char* subset;
    const char* content;
    const char* tree;  // the root element, as Shape draws it
};

// Entities expanded, in strict and lax reading alike, condensing off: text
// joins the text around it, markup becomes nodes.
const Expansion kExpansions[] = {
    {"<!ENTITY e 'world'>", "<d>hello &e;!</d>", "d('hello world!')"},
    {"<!ENTITY a 'x&b;y'><!ENTITY b 'B'>", "<d>&a;&a;</d>", "d('xByxBy')"},
    {"<!ENTITY m '<b>bold</b> text'>", "<d>a &m; z</d>", "d('a ',b('bold'),' text z')"},
    {"<!ENTITY m '<!--c--><?p q?><![CDATA[<x>]]>'>", "<d>&m;</d>", "d(<!--c-->,<?p q?>,'<x>')"},
    {"<!ENTITY m '<i>&n;</i>'><!ENTITY n '<j/>&#38;lt;'>", "<d>&m;</d>", "d(i(j,'<'))"},
    {"<!ENTITY e '&#60;b/>'>", "<d>&e;</d>", "d(b)"},
    {"<!ENTITY e '&#38;#60;'>", "<d>&e;</d>", "d('<')"},
    {"<!ENTITY example \"<p>An ampersand (&#38;#38;) may be escaped numerically "
     "(&#38;#38;#38;) or with a general entity (&amp;amp;).</p>\">",
     "<d>&example;</d>",
     "d(p('An ampersand (&) may be escaped numerically (&#38;) or with a general entity "
     "(&amp;).'))"},
    {"<!ELEMENT test (#PCDATA) ><!ENTITY % xx '&#37;zz;'>"
     "<!ENTITY % zz '&#60;!ENTITY tricky \"error-prone\" >' >%xx;",
     "<d>This sample shows a &tricky; method.</d>", "d('This sample shows a error-prone method.')"},
    {"<!ENTITY e 'first'><!ENTITY e 'second'>", "<d>&e;</d>", "d('first')"},
    {"<!ENTITY c ''><!ENTITY m '<b/>'>", "<d>&c;&m;&c;x&c;</d>", "d(b,'x')"},
    {"<!ENTITY lt '&#38;#60;'>", "<d>&lt;</d>", "d('<')"},
    {"<!ENTITY % decl \"<!ENTITY e 'from a parameter entity'>\"> %decl;", "<d>&e;</d>",
     "d('from a parameter entity')"},
    {"<!ENTITY e 'a\r\nb\rc'>", "<d>&e;</d>", "d('a\nb\nc')"},
    {"<!ENTITY e 'a&#9;b&#xA;c d'><!ENTITY n '1&m;'><!ENTITY m '2'>",
     "<d x='&e;' y='&n;3' z='&#9;'/>", "d[x=a b c d,y=123,z=\t]"},
    {"<!ENTITY e '\xE2\x82\xAC&#x20AC;'>", "<d a='&e;'>&e;</d>",
     "d[a=\xE2\x82\xAC\xE2\x82\xAC]('\xE2\x82\xAC\xE2\x82\xAC')"},
};

TEST(Dtd, EntitiesExpandInContentAndAttributeValues) {
    Condensing condensing(false);
    for (const Expansion& c : kExpansions) {
        const std::string input = std::string("<!DOCTYPE d [") + c.subset + "]>" + c.content;
        for (bool strict : {false, true}) {
            VelkDocument doc;
            ReadUtf8(&doc, input, strict, Read::kText);
            EXPECT_EQ(ErrorAt(doc), "ok") << Printable(input) << (strict ? " strict" : " lax");
            ASSERT_NE(doc.FirstChildElement(), nullptr) << Printable(input);
            EXPECT_EQ(Shape(doc.FirstChildElement()), c.tree) << Printable(input);
            EXPECT_EQ(CheckLinks(doc), "");
        }
    }
}

// The DOCTYPE stays in the tree as it was written, so that the document
// written back keeps its declarations; what they expanded is written out.
TEST(Dtd, DoctypeIsWrittenBackVerbatim) {
    const std::string subset =
        "<!DOCTYPE d [\n  <!ENTITY e \"<b>x</b>\">\n  <!ATTLIST d a CDATA 'v'>\n]>";
    VelkDocument doc;
    ReadUtf8(&doc, subset + "<d>&e;</d>", true, Read::kText);
    EXPECT_EQ(Compact(doc), subset + "<d a=\"v\"><b>x</b></d>");
}

// With condensing on, the characters of an entity are condensed with the text
// around them.
TEST(Dtd, CondensedTextTakesEntitiesIn) {
    Condensing condensing(true);
    VelkDocument doc;
    ReadUtf8(&doc, "<!DOCTYPE d [<!ENTITY e '  two  words '>]><d> one &e; three </d>", true,
             Read::kText);
    EXPECT_EQ(Shape(doc.FirstChildElement()), "d('one two words three')");

    VelkDocument first;
    ReadUtf8(&first, "<!DOCTYPE d [<!ENTITY e ' a  b '>]><d>&e;x</d>", true, Read::kText);
    EXPECT_EQ(Shape(first.FirstChildElement()), "d('a b x')");

    // Text on either side of an entity's markup joins with one space, as one
    // condensed text reads back.
    VelkDocument marked;
    ReadUtf8(&marked, "<!DOCTYPE d [<!ENTITY m 'in <b/> out'>]><d>before &m; after</d>", true,
             Read::kText);
    EXPECT_EQ(Shape(marked.FirstChildElement()), "d('before in',b,'out after')");
}

// Declared defaults and fixed values are added to the elements that lack them
// (the first definition of an attribute wins); values of a declared type other
// than CDATA are normalised, given or defaulted.
TEST(Dtd, DeclaredAttributesAndNormalisation) {
    const struct {
        const char* subset;
        const char* content;
        const char* tree;
    } cases[] = {
        {"<!ATTLIST d a CDATA 'x' b CDATA #IMPLIED c CDATA #FIXED 'f' r CDATA #REQUIRED>",
         "<d r='1'/>", "d[r=1,a=x,c=f]"},
        {"<!ATTLIST d a CDATA 'x'>", "<d a='given'/>", "d[a=given]"},
        {"<!ATTLIST d a CDATA '1'><!ATTLIST d a CDATA '2' b CDATA '3'>", "<d/>", "d[a=1,b=3]"},
        {"<!ATTLIST d t NMTOKENS #IMPLIED i ID #IMPLIED e (x|y) #IMPLIED c CDATA #IMPLIED>",
         "<d t='  x   y  ' i=' id1 ' e=' y' c='  keep  '/>", "d[t=x y,i=id1,e=y,c=  keep  ]"},
        {"<!ATTLIST d t NMTOKENS '  a \t b '>", "<d/>", "d[t=a b]"},
        {"<!ATTLIST d c CDATA ' a\tb\r\nc '>", "<d/>", "d[c= a b c ]"},
        {"<!ENTITY e 'ent'><!ATTLIST d a CDATA 'x&e;y&#38;'>", "<d/>", "d[a=xenty&]"},
        {"<!ATTLIST e a CDATA 'x'>", "<d><e/><f/><e a='y'></e></d>", "d(e[a=x],f,e[a=y])"},
        {"<!ENTITY m '<i/>'><!ATTLIST i k CDATA 'v'>", "<d>&m;</d>", "d(i[k=v])"},
        {"<!ENTITY % ext SYSTEM 'ext.dtd'>%ext;<!ATTLIST d a CDATA 'skipped'>", "<d/>", "d"},
    };
    for (const auto& c : cases) {
        const std::string input = std::string("<!DOCTYPE d [") + c.subset + "]>" + c.content;
        for (bool strict : {false, true}) {
            VelkDocument doc;
            ReadUtf8(&doc, input, strict, Read::kText);
            EXPECT_EQ(ErrorAt(doc), "ok") << Printable(input);
            ASSERT_NE(doc.FirstChildElement(), nullptr);
            EXPECT_EQ(Shape(doc.FirstChildElement()), c.tree) << Printable(input);
        }
    }
}

// References that are not read stay references: written back as they were,
// recognisable in the tree. After a parameter entity that is not read, later
// declarations are not processed, unless the document is standalone.
TEST(Dtd, ReferencesNotReadAreKept) {
    Condensing condensing(false);
    const struct {
        bool strict;
        const char* input;
        const char* root;
    } cases[] = {
        {false,
         "<!DOCTYPE d [<!ENTITY x SYSTEM 'x.ent'><!ENTITY u SYSTEM 'u' NDATA n>]>"
         "<d>a &x; b &u;</d>",
         "<d>a &x; b &u;</d>"},
        {false, "<!DOCTYPE d [<!ENTITY m '<b>&x;</b>'><!ENTITY x SYSTEM 'x'>]><d>&m;</d>",
         "<d><b>&x;</b></d>"},
        {true, "<!DOCTYPE d SYSTEM 'd.dtd'><d>&y;</d>", "<d>&y;</d>"},
        {true, "<!DOCTYPE d SYSTEM 'd.dtd'><d>a &y; b<e>&y;</e>&y;&y;</d>",
         "<d>a &y; b<e>&y;</e>&y;&y;</d>"},
        {true, "<!DOCTYPE d [<!ENTITY % ext SYSTEM 'e.dtd'>%ext;<!ENTITY e 'x'>]><d>&e;</d>",
         "<d>&e;</d>"},
        {true,
         "<?xml version='1.0' standalone='yes'?>"
         "<!DOCTYPE d [<!ENTITY % ext SYSTEM 'e.dtd'>%ext;<!ENTITY e 'x'>]><d>&e;</d>",
         "<d>x</d>"},
        {false, "<!DOCTYPE d [<!ENTITY % p 'pp'><!ENTITY e 'a%p;b%q;'>]><d>&e;</d>",
         "<d>appb%q;</d>"},
        {false, "<!DOCTYPE d []><d>&undeclared;</d>", "<d>&undeclared;</d>"},
        {false, "<!DOCTYPE d [<!ATTLIST d a CDATA 'x&u;y'>]><d/>", "<d a=\"x&amp;u;y\" />"},
    };
    for (const auto& c : cases) {
        VelkDocument doc;
        ReadUtf8(&doc, c.input, c.strict, Read::kText);
        EXPECT_EQ(ErrorAt(doc), "ok") << c.input;
        ASSERT_NE(doc.FirstChildElement(), nullptr);
        EXPECT_EQ(Compact(*doc.FirstChildElement()), c.root) << c.input;
    }

    VelkDocument doc;
    ReadUtf8(&doc, "<!DOCTYPE d [<!ENTITY x SYSTEM 'x.ent'>]><d>&x;</d>", false, Read::kText);
    const VelkText* reference = doc.FirstChildElement()->FirstChild()->ToText();
    ASSERT_NE(reference, nullptr);
    EXPECT_TRUE(reference->EntityReference());
    EXPECT_STREQ(reference->Value(), "x");
    EXPECT_EQ(PrettyText(doc), "<!DOCTYPE d [<!ENTITY x SYSTEM 'x.ent'>]>\n<d>&x;</d>\n");
    VelkNode* copy = reference->Clone();
    EXPECT_TRUE(copy->ToText()->EntityReference());
    delete copy;

    // A reference node whose value is no name cannot be written as a reference.
    for (bool strict : {false, true}) {
        VelkDocument edited;
        ReadUtf8(&edited, "<!DOCTYPE d SYSTEM 'd.dtd'><d>&y;</d>", strict, Read::kText);
        VelkNode* kept = edited.FirstChildElement()->FirstChild();
        ASSERT_TRUE(kept && kept->ToText() && kept->ToText()->EntityReference());
        EXPECT_EQ(edited.CheckWritable(), VELK_NO_ERROR);
        kept->SetValue("y z");
        const VelkBase* where = nullptr;
        EXPECT_EQ(edited.CheckWritable(&where), VELK_ERROR_NAME);
        EXPECT_EQ(where, kept);
    }
}

// The byte model keeps its DOCTYPE handling: the subset is not read.
TEST(Dtd, ByteModelReadsNoSubset) {
    VelkDocument doc;
    doc.Parse("<!DOCTYPE d [<!ENTITY e 'x'><!ATTLIST d a CDATA 'v'>]><d>&e;</d>", nullptr);
    EXPECT_EQ(ErrorAt(doc), "ok");
    EXPECT_EQ(Shape(doc.FirstChildElement()), "d('&e;')");
}

// Hostile documents end in an error of their own, in either reading, without
// expanding more than the limits allow.
TEST(Dtd, HostileEntitiesAreRefused) {
    std::string laughs = "<!ENTITY l0 'lol'>";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "'>";
    }
    std::string markupLaughs = laughs;
    markupLaughs.replace(markupLaughs.find("'lol'"), 5, "'<l/>'");
    const std::string big(30000, 'x');
    std::string quadratic;
    for (int i = 0; i < 5000; ++i) quadratic += "&a;";
    std::string chain, shortChain;
    for (int i = 0; i < 100; ++i)
        chain += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i + 1) + ";'>";
    chain += "<!ENTITY e100 'end'>";
    for (int i = 0; i < 60; ++i)
        shortChain +=
            "<!ENTITY e" + std::to_string(i) + " '<a>&e" + std::to_string(i + 1) + ";</a>'>";
    shortChain += "<!ENTITY e60 'end'>";
    std::string honest = "<!ENTITY k '" + std::string(1000, 'k') + "'>";
    std::string honestUses;
    for (int i = 0; i < 500; ++i) honestUses += "&k;";

    const struct {
        std::string subset;
        std::string content;
        int code;
    } cases[] = {
        {laughs, "<d>&l9;</d>", VELK_ERROR_ENTITY_EXPANSION},
        {laughs, "<d a='&l9;'/>", VELK_ERROR_ENTITY_EXPANSION},
        {markupLaughs, "<d>&l9;</d>", VELK_ERROR_ENTITY_EXPANSION},
        {"<!ENTITY a '" + big + "'>", "<d>" + quadratic + "</d>", VELK_ERROR_ENTITY_EXPANSION},
        {"<!ENTITY a '" + big + "'>", "<d a='" + quadratic + "'/>", VELK_ERROR_ENTITY_EXPANSION},
        {chain, "<d>&e0;</d>", VELK_ERROR_ENTITY_DEPTH},
        {chain, "<d a='&e0;'/>", VELK_ERROR_ENTITY_DEPTH},
        {shortChain, "<d>&e0;</d>", VELK_NO_ERROR},
        {honest, "<d>" + honestUses + "</d>", VELK_NO_ERROR},
        {"<!ENTITY e '&e;'>", "<d>&e;</d>", VELK_ERROR_ENTITY_RECURSION},
        {"<!ENTITY e '<a>&e;</a>'>", "<d>&e;</d>", VELK_ERROR_ENTITY_RECURSION},
        {"<!ENTITY e '&f;'><!ENTITY f 'x&e;'>", "<d a='&e;'/>", VELK_ERROR_ENTITY_RECURSION},
        {"<!ENTITY % p '&#37;p;'> %p;", "<d/>", VELK_ERROR_ENTITY_RECURSION},
    };
    for (const auto& c : cases) {
        const std::string input = "<!DOCTYPE d [" + c.subset + "]>" + c.content;
        for (bool strict : {false, true}) {
            VelkDocument doc;
            ReadUtf8(&doc, input, strict, Read::kText);
            EXPECT_EQ(doc.ErrorCode(), c.code) << Printable(input.substr(0, 120));
            if (c.code == VELK_NO_ERROR) continue;
            // The error points at the reference in the document's content or subset.
            EXPECT_EQ(doc.ErrorCursor().row, 0);
            EXPECT_GE(doc.ErrorCursor().col, static_cast<int>(input.find("]>")) - 4);
        }
    }
}

}  // namespace
