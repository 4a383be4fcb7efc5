// Second opinion: every generated document that is also well-formed XML
// (unique attributes, matching end tags, ASCII names, quoted values, valid
// characters, ISO-8859-1 bytes) is parsed by this library and by libxml2. Both
// must give the same elements, attribute names and values in order, comments,
// processing instructions (unknown markup here), and the same text once
// libxml2's text is condensed the way this library condenses. A disagreement
// fails with the smallest document that shows it.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <sstream>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "velk_check.h"
#include "velk_docgen.h"

using namespace TAVARO;
using velkcheck::Printable;

namespace {

constexpr uint32_t kDocuments = 3000;

xmlDoc* ReadWithLibxml(const std::string& text) {
    return xmlReadMemory(text.data(), static_cast<int>(text.size()), "generated.xml", "ISO-8859-1",
                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

// libxml2 hands out UTF-8; the documents are ISO-8859-1, so every character
// maps back to one byte.
std::string Latin1(const xmlChar* utf8) {
    std::string out;
    for (const unsigned char* p = utf8; p && *p; p += *p < 0x80 ? 1 : 2)
        out += static_cast<char>(*p < 0x80 ? *p : ((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
    return out;
}

// Leading and trailing white space dropped, inner runs made one space.
std::string Condensed(const std::string& text) {
    std::istringstream words(text);
    std::string word, out;
    while (words >> word) out += (out.empty() ? "" : " ") + word;
    return out;
}

// One line per item, in document order: the outline both trees are reduced to.
void OutlineOfLibxml(xmlNode* first, bool siblings, std::vector<std::string>* out) {
    std::string text;
    auto flush = [&] {
        if (!Condensed(text).empty()) out->push_back("text " + Condensed(text));
        text.clear();
    };
    for (xmlNode* n = first; n; n = siblings ? n->next : nullptr) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
            text += Latin1(n->content);
            continue;
        }
        flush();
        if (n->type == XML_ELEMENT_NODE) {
            out->push_back("element " + Latin1(n->name));
            for (xmlAttr* a = n->properties; a; a = a->next) {
                xmlChar* value = xmlNodeListGetString(n->doc, a->children, 1);
                out->push_back("attribute " + Latin1(a->name) + "=" + Latin1(value));
                xmlFree(value);
            }
            OutlineOfLibxml(n->children, true, out);
            out->push_back("end");
        } else if (n->type == XML_COMMENT_NODE) {
            out->push_back("comment " + Latin1(n->content));
        } else if (n->type == XML_PI_NODE) {
            const std::string content = Latin1(n->content);
            out->push_back("unknown ?" + Latin1(n->name) + (content.empty() ? "" : " " + content) +
                           "?");
        }
    }
    flush();
}

void OutlineOfVelk(const VelkNode* first, bool siblings, std::vector<std::string>* out) {
    static const char* const kinds[] = {"", "element ", "comment ", "unknown ", "text ", ""};
    for (const VelkNode* n = first; n; n = siblings ? n->NextSibling() : nullptr) {
        if (n->Type() == VelkNode::DECLARATION) continue;  // not a node in libxml2's tree
        out->push_back(kinds[n->Type()] + n->SValue());
        if (!n->ToElement()) continue;
        for (const VelkAttribute* a = n->ToElement()->FirstAttribute(); a; a = a->Next())
            out->push_back(std::string("attribute ") + a->Name() + "=" + a->Value());
        OutlineOfVelk(n->FirstChild(), true, out);
        out->push_back("end");
    }
}

std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += "  " + Printable(l) + "\n";
    return out;
}

// "" when both agree or libxml2 rejects the text (then it is no case for a
// second opinion); otherwise both outlines.
std::string Disagreement(const std::string& text) {
    xmlDoc* xml = ReadWithLibxml(text);
    if (!xml) return "";
    std::vector<std::string> theirs, ours;
    OutlineOfLibxml(xmlDocGetRootElement(xml), false, &theirs);
    xmlFreeDoc(xml);
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error()) return std::string("this library reports ") + doc.ErrorMessage();
    OutlineOfVelk(doc.FirstChildElement(), false, &ours);
    return ours == theirs ? "" : "this library:\n" + Join(ours) + "libxml2:\n" + Join(theirs);
}

TEST(Oracle, WellFormedDocumentsAgreeWithLibxml2) {
    for (uint32_t seed = 1; seed <= kDocuments; ++seed) {
        const velkgen::Document doc = velkgen::Generator(seed, true).Make();
        const std::string text = velkgen::Text(doc.pieces);
        xmlDoc* xml = ReadWithLibxml(text);
        ASSERT_NE(xml, nullptr) << "seed " << seed
                                << ": generated document is not well-formed: " << Printable(text);
        xmlFreeDoc(xml);
        if (Disagreement(text).empty()) continue;
        const std::string smallest =
            velkgen::Shrink(doc, [](const std::string& t) { return !Disagreement(t).empty(); });
        FAIL() << "seed " << seed << ": smallest document \"" << Printable(smallest) << "\"\n"
               << Disagreement(smallest);
    }
}

// The outlines hold what the comparison needs, so that agreement means something.
TEST(Oracle, OutlinesOfAKnownDocument) {
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r a='1 &amp; 2' b=\"&#xE9;\">\n  x  "
        "&lt; y <e/><!-- c --><?pi data?>\xE9</r>";
    const std::vector<std::string> expected = {
        "element r", "attribute a=1 & 2", "attribute b=\xE9",  "text x < y", "element e",
        "end",       "comment  c ",       "unknown ?pi data?", "text \xE9",  "end"};
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    std::vector<std::string> ours;
    OutlineOfVelk(doc.FirstChildElement(), false, &ours);
    EXPECT_EQ(ours, expected);
    EXPECT_EQ(Disagreement(text), "");
}

}  // namespace
