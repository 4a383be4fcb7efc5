// Tree comparison for the fuzz targets, exact or as a tree should come back
// after being written out and read again: a model of what the writer and the
// reader make of each stored string, so that the round trip can be checked
// against the original tree.
#ifndef VELK_FUZZ_TREE_DIFF_H
#define VELK_FUZZ_TREE_DIFF_H

#include <Velk/base/velk.h>

#include <string>
#include <utility>
#include <vector>

#include "velk_check.h"

namespace velkcheck {

// How a tree is expected to differ after a write and a read.
enum class Form {
    kSame,     // no difference at all
    kPretty,   // written with Print (and so SaveFile), read back
    kCompact,  // written with StreamOut, read back
};

inline bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

inline bool IsHex(unsigned char d) {
    return (d >= '0' && d <= '9') || ((d | 0x20) >= 'a' && (d | 0x20) <= 'f');
}

// The value of one digit as the reader computes it (no check that it is one).
inline int DigitValue(unsigned char d) {
    return (d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z') ? (d | 0x20) - 'a' + 10 : d - '0';
}

// One character as read back: its byte, and whether it came back as itself
// (literal white space is what the reader condenses).
struct Piece {
    char byte;
    bool literal;
};

// A stored string as the reader returns it after a write. In escaped output
// every byte comes back as itself, white space other than a space as a
// reference, except that a stored "&#xH;" or "&#xHH;" of hexadecimal digits
// passes the escaper unchanged and reads back as the byte it names. In raw
// output (comment bodies in the pretty form) the
// reader decodes every "&#x" reference of one or two characters and the five
// named entities.
inline std::vector<Piece> ReadBack(const std::string& s, bool escaped) {
    static const std::string names[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    std::vector<Piece> out;
    for (size_t i = 0, n = s.size(); i < n;) {
        size_t length = 0;
        if (s.compare(i, 3, "&#x") == 0)
            length = i + 4 < n && s[i + 4] == ';' ? 5 : i + 5 < n && s[i + 5] == ';' ? 6 : 0;
        if (escaped && length && !(IsHex(s[i + 3]) && (length == 5 || IsHex(s[i + 4])))) length = 0;
        if (length) {
            const int v = length == 5 ? DigitValue(s[i + 3])
                                      : 16 * DigitValue(s[i + 3]) + DigitValue(s[i + 4]);
            out.push_back({static_cast<char>(v & 0xFF), false});
            i += length;
            continue;
        }
        int k = escaped ? 5 : 0;
        while (k < 5 && s.compare(i, names[k].size(), names[k]) != 0) ++k;
        out.push_back({k < 5 ? "&<>\"'"[k] : s[i], k == 5 && s[i] == ' '});
        i += k < 5 ? names[k].size() : 1;
    }
    return out;
}

// The same in the UTF-8 model: every byte of text comes back as itself, the
// tab and line feed that text is written with raw being literal white space.
inline std::vector<Piece> ReadBackUtf8Text(const std::string& s) {
    std::vector<Piece> out;
    for (char c : s) out.push_back({c, c == ' ' || c == '\t' || c == '\n'});
    return out;
}

inline std::string Reread(const std::string& stored, Form form, bool escaped) {
    if (form == Form::kSame) return stored;
    std::string out;
    for (const Piece& p : ReadBack(stored, escaped)) out += p.byte;
    return out;
}

// A text node's value after a write and a read: when condensing, the reader
// trims and merges literal white space.
inline std::string TextAfterReread(const std::string& stored, bool condense, bool utf8) {
    const std::vector<Piece> pieces = utf8 ? ReadBackUtf8Text(stored) : ReadBack(stored, true);
    size_t i = 0;
    while (condense && i < pieces.size() && pieces[i].literal && IsSpace(pieces[i].byte)) ++i;
    std::string out;
    bool pending = false;
    for (; i < pieces.size(); ++i) {
        if (condense && pieces[i].literal && IsSpace(pieces[i].byte)) {
            pending = true;
            continue;
        }
        if (pending) out += ' ';
        pending = false;
        out += pieces[i].byte;
    }
    return out;
}

// Why the written form of this tree cannot read back equal, or "" when it can.
// The pretty form (and in the UTF-8 model the compact form too) writes comment
// bodies as they are stored: a comment body holding "-->" ends early, and a
// NUL byte cannot pass through text. An entity reference that a DTD keeps
// reads back as text when its element is written without the DOCTYPE.
inline std::string Exclusion(const VelkNode& root, Form form, bool utf8) {
    std::vector<const VelkNode*> pending{&root};
    while (!pending.empty()) {
        const VelkNode* node = pending.back();
        pending.pop_back();
        const std::string value = node->SValue();
        if (node->Type() == VelkNode::COMMENT && (form == Form::kPretty || utf8) &&
            (value.find("-->") != std::string::npos || value.find('\0') != std::string::npos))
            return "comment body holds \"-->\" or a NUL byte";
        const TAVARO::VelkText* text = node->ToText();
        if (text && text->EntityReference() && root.Type() != VelkNode::DOCUMENT)
            return "entity reference written without its DOCTYPE";
        for (const VelkNode* c = node->FirstChild(); c; c = c->NextSibling()) pending.push_back(c);
    }
    return "";
}

// The declaration's fields or the element's attributes as one line, each
// value as it reads back in the form (through c_str(): a decoded NUL ends it).
// In the UTF-8 model attribute values come back as they are.
inline std::string Fields(const VelkNode& node, Form form, bool escaped, bool utf8 = false) {
    std::string out;
    if (node.Type() == VelkNode::DECLARATION) {
        const VelkDeclaration& d = static_cast<const VelkDeclaration&>(node);
        for (const char* field : {d.Version(), d.Encoding(), d.Standalone()})
            out += (escaped ? std::string(Reread(field, form, true).c_str()) : field) + "|";
    }
    if (const VelkElement* e = const_cast<VelkNode&>(node).ToElement())
        for (const VelkAttribute* a = e->FirstAttribute(); a; a = a->Next())
            out += std::string(a->Name()) + "='" +
                   (utf8 ? std::string(a->Value()) : Reread(a->Value(), form, true).c_str()) + "' ";
    return out;
}

// Whether node is a text of white space only that is not a CDATA section.
inline bool IsBlankText(const VelkNode* node) {
    const TAVARO::VelkText* text = node ? node->ToText() : nullptr;
    return text && !text->CDATA() && text->Blank();
}

// The child at or after node that is compared: without condensing, white space
// that the pretty form writes around children comes back as text, which is
// layout and not compared on either side.
inline const VelkNode* Compared(const VelkNode* node, bool skipBlank) {
    while (skipBlank && IsBlankText(node)) node = node->NextSibling();
    return node;
}

// Compares actual with what expected becomes in the given form and character
// model. For a document in compact form (or when firstElementOnly is set) only
// the top-level nodes up to its first element are compared (the compact form
// stops there by design). Returns "" or the first difference. Iterative.
inline std::string TreeDiff(const VelkNode& expected, const VelkNode& actual,
                            Form form = Form::kSame, bool condense = true,
                            bool firstElementOnly = false, bool utf8 = false) {
    std::vector<std::pair<const VelkNode*, const VelkNode*>> pending{{&expected, &actual}};
    const bool pretty = form == Form::kPretty;
    const bool skipBlank = pretty && !condense;
    while (!pending.empty()) {
        const VelkNode& e = *pending.back().first;
        const VelkNode& a = *pending.back().second;
        pending.pop_back();
        if (e.Type() != a.Type()) return "expected " + Describe(&e) + ", found " + Describe(&a);
        std::string want = e.SValue(), found = a.SValue();
        if (e.Type() == VelkNode::DOCUMENT) want = found;  // the value is a file name
        if (e.Type() == VelkNode::COMMENT && !utf8) want = Reread(want, form, !pretty);
        if (e.Type() == VelkNode::TEXT && e.ToText()->CDATA() != a.ToText()->CDATA())
            return "CDATA flag of " + Describe(&e) + " differs";
        const bool reference = e.Type() == VelkNode::TEXT && e.ToText()->EntityReference();
        if (e.Type() == VelkNode::TEXT && reference != a.ToText()->EntityReference())
            return "entity reference flag of " + Describe(&e) + " differs";
        if (e.Type() == VelkNode::TEXT && form != Form::kSame && !e.ToText()->CDATA() &&
            !reference) {
            want = TextAfterReread(want, condense, utf8);
            // The line break and indentation that the pretty form writes after text.
            if (pretty && found.compare(0, want.size(), want) == 0 &&
                found.find_first_not_of(" \t\n\r", want.size()) == std::string::npos)
                found = want;
        }
        if (want != found)
            return "value of " + Describe(&e) + ": expected '" + Printable(want) + "', found '" +
                   Printable(found) + "'";
        want = Fields(e, form, !pretty, utf8);
        found = Fields(a, Form::kSame, true);
        if (want != found)
            return "fields of " + Describe(&e) + ": expected " + Printable(want) + ", found " +
                   Printable(found);
        const bool stopAtElement =
            (form == Form::kCompact || firstElementOnly) && e.Type() == VelkNode::DOCUMENT;
        const VelkNode* ce = Compared(e.FirstChild(), skipBlank);
        const VelkNode* ca = Compared(a.FirstChild(), skipBlank);
        size_t index = 0;
        for (; ce && ca; ce = Compared(ce->NextSibling(), skipBlank),
                         ca = Compared(ca->NextSibling(), skipBlank), ++index) {
            pending.emplace_back(ce, ca);
            if (stopAtElement && ce->Type() == VelkNode::ELEMENT) {
                ce = nullptr;
                ca = firstElementOnly ? nullptr : ca->NextSibling();
                break;
            }
        }
        if (ce || ca)
            return "children of " + Describe(&e) + " differ at index " + std::to_string(index) +
                   ": expected " + Describe(ce) + ", found " + Describe(ca);
    }
    return "";
}

}  // namespace velkcheck

#endif  // VELK_FUZZ_TREE_DIFF_H
