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

#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "velk_check.h"
#include "velk_docgen.h"

using namespace TAVARO;

namespace {

constexpr uint32_t kDocuments = 3000;

// libxml2 hands out UTF-8; the documents are ISO-8859-1, so every character
// maps back to one byte.
std::string Latin1(const xmlChar* utf8) {
    std::string out;
    if (!utf8) return out;
    for (const unsigned char* p = utf8; *p;) {
        if (*p < 0x80) {
            out += static_cast<char>(*p++);
        } else {
            unsigned code = ((p[0] & 0x1F) << 6) | (p[1] & 0x3F);
            out += static_cast<char>(code & 0xFF);
            p += 2;
        }
    }
    return out;
}

// Leading and trailing white space dropped, inner runs made one space.
std::string Condensed(const std::string& text) {
    std::string out;
    bool pending = false;
    for (char c : text) {
        if (velkcheck::IsSpace(static_cast<unsigned char>(c))) {
            pending = !out.empty();
            continue;
        }
        if (pending) out += ' ';
        pending = false;
        out += c;
    }
    return out;
}

// One line per item, in document order: the common outline both trees are
// reduced to.
void OutlineOfLibxml(xmlNode* first, std::vector<std::string>* out, bool siblings = true) {
    std::string text;
    auto flush = [&] {
        std::string condensed = Condensed(text);
        if (!condensed.empty()) out->push_back("text " + condensed);
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
                out->push_back("attribute " + Latin1(a->name) + "=" +
                               velkcheck::Printable(Latin1(value)));
                xmlFree(value);
            }
            OutlineOfLibxml(n->children, out);
            out->push_back("end");
        } else if (n->type == XML_COMMENT_NODE) {
            out->push_back("comment " + velkcheck::Printable(Latin1(n->content)));
        } else if (n->type == XML_PI_NODE) {
            std::string content = Latin1(n->content);
            out->push_back("unknown ?" + Latin1(n->name) + (content.empty() ? "" : " " + content) +
                           "?");
        }
    }
    flush();
}

void OutlineOfVelk(const VelkNode* first, std::vector<std::string>* out) {
    for (const VelkNode* n = first; n; n = n->NextSibling()) {
        switch (n->Type()) {
            case VelkNode::ELEMENT:
                out->push_back("element " + n->SValue());
                for (const VelkAttribute* a = n->ToElement()->FirstAttribute(); a; a = a->Next())
                    out->push_back(std::string("attribute ") + a->Name() + "=" +
                                   velkcheck::Printable(a->Value()));
                OutlineOfVelk(n->FirstChild(), out);
                out->push_back("end");
                break;
            case VelkNode::TEXT:
                out->push_back("text " + n->SValue());
                break;
            case VelkNode::COMMENT:
                out->push_back("comment " + velkcheck::Printable(n->SValue()));
                break;
            case VelkNode::UNKNOWN:
                out->push_back("unknown " + n->SValue());
                break;
            default:
                break;  // the declaration is not a node in libxml2's tree
        }
    }
}

std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += "  " + velkcheck::Printable(l) + "\n";
    return out;
}

// "" when both agree or libxml2 rejects the text (then it is no case for a
// second opinion); otherwise both outlines.
std::string Disagreement(const std::string& text) {
    xmlDoc* xml =
        xmlReadMemory(text.data(), static_cast<int>(text.size()), "generated.xml", "ISO-8859-1",
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!xml) return "";
    std::vector<std::string> theirs;
    OutlineOfLibxml(xmlDocGetRootElement(xml), &theirs, false);
    xmlFreeDoc(xml);

    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error()) return std::string("this library reports ") + doc.ErrorMessage();
    std::vector<std::string> ours;
    OutlineOfVelk(doc.FirstChildElement(), &ours);
    if (!ours.empty()) {
        // Only the root element and what it holds: the outline above starts there.
        size_t depth = 0, end = 0;
        for (; end < ours.size(); ++end) {
            if (ours[end].compare(0, 8, "element ") == 0) ++depth;
            if (ours[end] == "end" && --depth == 0) break;
        }
        ours.resize(end + 1);
    }
    if (ours == theirs) return "";
    return "this library:\n" + Join(ours) + "libxml2:\n" + Join(theirs);
}

TEST(Oracle, WellFormedDocumentsAgreeWithLibxml2) {
    int accepted = 0;
    for (uint32_t seed = 1; seed <= kDocuments; ++seed) {
        velkgen::GenDocument doc = velkgen::Generator(seed, true).Document();
        const std::string text = velkgen::Write(doc);
        xmlDoc* xml =
            xmlReadMemory(text.data(), static_cast<int>(text.size()), "generated.xml", "ISO-8859-1",
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        ASSERT_NE(xml, nullptr) << "seed " << seed << ": generated document is not well-formed: "
                                << velkcheck::Printable(text);
        xmlFreeDoc(xml);
        ++accepted;
        std::string fault = Disagreement(text);
        if (fault.empty()) continue;
        std::string smallest =
            velkgen::Shrink(doc, [](const std::string& t) { return !Disagreement(t).empty(); });
        FAIL() << "seed " << seed << ": smallest document \"" << velkcheck::Printable(smallest)
               << "\"\n"
               << Disagreement(smallest);
    }
    EXPECT_EQ(accepted, static_cast<int>(kDocuments));
}

TEST(Oracle, OutlinesOfAKnownDocument) {
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r a='1 &amp; 2' b=\"&#xE9;\">\n  x  &lt; "
        "y <e/>"
        "<!-- c --><?pi data?>\xE9</r>";
    EXPECT_EQ(Disagreement(text), "");
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    std::vector<std::string> ours;
    OutlineOfVelk(doc.FirstChildElement(), &ours);
    const std::vector<std::string> expected = {
        "element r", "attribute a=1 & 2", "attribute b=\\xE9", "text x < y", "element e",
        "end",       "comment  c ",       "unknown ?pi data?", "text \xE9",  "end"};
    EXPECT_EQ(ours, expected);
}

}  // namespace
