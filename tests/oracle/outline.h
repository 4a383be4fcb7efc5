// What the second-opinion tests compare: a document as read by this library
// and as read by libxml2, each reduced to the same outline.
#ifndef VELK_TESTS_ORACLE_OUTLINE_H
#define VELK_TESTS_ORACLE_OUTLINE_H

#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "velk_check.h"

namespace velkoracle {

using namespace TAVARO;

// One line per element start ("element name"), attribute ("attribute
// name=value"; namespace declarations first, as libxml2 keeps them apart),
// non-blank text or CDATA node ("text"), comment, processing instruction
// ("pi target data") and element end ("end"). Text, comments and instructions
// are compared with white space collapsed, each node alone: this library
// condenses every text node alone. The declaration and the DOCTYPE leave no
// line.
using Outline = std::vector<std::string>;

inline std::string Collapsed(const std::string& text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        out += c;
        space = false;
    }
    return out;
}

inline void AddLine(const char* kind, const std::string& text, Outline* out) {
    const std::string collapsed = Collapsed(text);
    if (!collapsed.empty()) out->push_back(kind + collapsed);
}

inline std::string Str(const xmlChar* s) {
    return s ? reinterpret_cast<const char*>(s) : "";
}

inline std::string QualifiedName(const xmlNs* ns, const xmlChar* name) {
    return (ns && ns->prefix ? Str(ns->prefix) + ":" : "") + Str(name);
}

inline void AddLibxml(const xmlNode* first, Outline* out) {
    for (const xmlNode* n = first; n; n = n->next) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE)
            AddLine("text ", Str(n->content), out);
        if (n->type == XML_COMMENT_NODE) AddLine("comment ", Str(n->content), out);
        if (n->type == XML_PI_NODE) AddLine("pi ", Str(n->name) + " " + Str(n->content), out);
        if (n->type != XML_ELEMENT_NODE) continue;
        out->push_back("element " + QualifiedName(n->ns, n->name));
        for (const xmlNs* ns = n->nsDef; ns; ns = ns->next)
            out->push_back("attribute xmlns" + (ns->prefix ? ":" + Str(ns->prefix) : "") + "=" +
                           Str(ns->href));
        for (const xmlAttr* a = n->properties; a; a = a->next) {
            xmlChar* value = xmlNodeListGetString(n->doc, a->children, 1);
            out->push_back("attribute " + QualifiedName(a->ns, a->name) + "=" + Str(value));
            xmlFree(value);
        }
        AddLibxml(n->children, out);
        out->push_back("end");
    }
}

inline bool IsNamespaceDeclaration(const std::string& name) {
    return name == "xmlns" || name.compare(0, 6, "xmlns:") == 0;
}

inline void AddVelk(const VelkNode* first, Outline* out) {
    for (const VelkNode* n = first; n; n = n->NextSibling()) {
        const std::string value = n->SValue();
        if (n->ToText()) AddLine("text ", value, out);
        if (n->Type() == VelkNode::COMMENT) AddLine("comment ", value, out);
        // Unknown markup: only an instruction ("?target data?") is a node for libxml2.
        if (n->Type() == VelkNode::UNKNOWN && value.size() > 1 && value[0] == '?')
            AddLine("pi ", value.substr(1, value.size() - 2), out);
        const VelkElement* element = n->ToElement();
        if (!element) continue;
        out->push_back("element " + value);
        for (bool declarations : {true, false})
            for (const VelkAttribute* a = element->FirstAttribute(); a; a = a->Next())
                if (IsNamespaceDeclaration(a->Name()) == declarations)
                    out->push_back(std::string("attribute ") + a->Name() + "=" + a->Value());
        AddVelk(n->FirstChild(), out);
        out->push_back("end");
    }
}

using XmlDoc = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

// No network, no DTD loading, no entity substitution. encoding, when given,
// overrides the document's declaration.
inline XmlDoc ReadWithLibxml(const std::string& text, const char* encoding) {
    const int options = XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR |
                        (encoding ? XML_PARSE_IGNORE_ENC : 0);
    return XmlDoc(
        xmlReadMemory(text.data(), static_cast<int>(text.size()), "file.xml", encoding, options),
        xmlFreeDoc);
}

inline Outline OutlineOf(const xmlDoc& doc) {
    Outline out;
    AddLibxml(doc.children, &out);
    return out;
}

inline Outline OutlineOf(const VelkDocument& doc) {
    Outline out;
    AddVelk(doc.FirstChild(), &out);
    return out;
}

// The text as UTF-8; false when iconv does not know the encoding or the bytes
// are invalid in it.
inline bool ToUtf8(const std::string& text, const char* encoding, std::string* out) {
    iconv_t cd = iconv_open("UTF-8", encoding);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out->assign(4 * text.size() + 4, '\0');  // no character grows beyond four bytes
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* to = &(*out)[0];
    size_t toLeft = out->size();
    const bool ok = iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    out->resize(out->size() - toLeft);
    return ok;
}

// Where two outlines first differ: the kinds of line there ("element",
// "text"...) as the cause, both lines as the detail; empty when they agree.
struct Difference {
    std::string cause, detail;
};

inline Difference FirstDifference(const Outline& got, const Outline& expected) {
    size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i]) ++i;
    if (i == got.size() && i == expected.size()) return {};
    const auto kind = [i](const Outline& o) {
        return i < o.size() ? o[i].substr(0, o[i].find(' ')) : "nothing";
    };
    const auto line = [i](const Outline& o) {
        return i < o.size() ? "\"" + velkcheck::Printable(o[i].substr(0, 100)) + "\"" : "nothing";
    };
    return {kind(got) == kind(expected) ? kind(got) + " differs"
                                        : kind(got) + " where libxml2 has " + kind(expected),
            "outline line " + std::to_string(i + 1) + ": " + line(got) + " instead of " +
                line(expected)};
}

}  // namespace velkoracle

#endif  // VELK_TESTS_ORACLE_OUTLINE_H
