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
// output (comment bodies and declaration values in the pretty form) the
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

inline std::string Reread(const std::string& stored, Form form, bool escaped) {
    if (form == Form::kSame) return stored;
    std::string out;
    for (const Piece& p : ReadBack(stored, escaped)) out += p.byte;
    return out;
}

// A text node's value after a write and a read: the reader skips literal
// white space before text and, when condensing, trims and merges literal
// white space.
inline std::string TextAfterReread(const std::string& stored, bool condense) {
    const std::vector<Piece> pieces = ReadBack(stored, true);
    size_t i = 0;
    while (i < pieces.size() && pieces[i].literal && IsSpace(pieces[i].byte)) ++i;
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

// Why the pretty form of this tree cannot read back equal, or "" when it can.
// The pretty form writes comment bodies and declaration values as they are
// stored, not escaped: a comment body holding "-->" ends early, a declaration
// value holding a double quote ends at it, and a NUL byte in either cannot pass
// through text.
inline std::string PrettyExclusion(const VelkNode& root) {
    std::vector<const VelkNode*> pending{&root};
    while (!pending.empty()) {
        const VelkNode* node = pending.back();
        pending.pop_back();
        const std::string value = node->SValue();
        if (node->Type() == VelkNode::COMMENT &&
            (value.find("-->") != std::string::npos || value.find('\0') != std::string::npos))
            return "comment body holds \"-->\" or a NUL byte";
        if (node->Type() == VelkNode::DECLARATION) {
            const VelkDeclaration* d = static_cast<const VelkDeclaration*>(node);
            for (const char* field : {d->Version(), d->Encoding(), d->Standalone()})
                if (std::string(field).find('"') != std::string::npos)
                    return "declaration value holds '\"'";
        }
        for (const VelkNode* c = node->FirstChild(); c; c = c->NextSibling()) pending.push_back(c);
    }
    return "";
}

// The declaration's fields or the element's attributes as one line, each
// value as it reads back in the form (through c_str(): a decoded NUL ends it).
inline std::string Fields(const VelkNode& node, Form form, bool escaped) {
    std::string out;
    if (node.Type() == VelkNode::DECLARATION) {
        const VelkDeclaration& d = static_cast<const VelkDeclaration&>(node);
        for (const char* field : {d.Version(), d.Encoding(), d.Standalone()})
            out += std::string(Reread(field, form, escaped).c_str()) + "|";
    }
    if (const VelkElement* e = const_cast<VelkNode&>(node).ToElement())
        for (const VelkAttribute* a = e->FirstAttribute(); a; a = a->Next())
            out += std::string(a->Name()) + "='" + Reread(a->Value(), form, true).c_str() + "' ";
    return out;
}

// Compares actual with what expected becomes in the given form. For a
// document in compact form (or when firstElementOnly is set) only the
// top-level nodes up to its first element are compared (the compact form
// stops there by design). Returns "" or the first difference. Iterative.
inline std::string TreeDiff(const VelkNode& expected, const VelkNode& actual,
                            Form form = Form::kSame, bool condense = true,
                            bool firstElementOnly = false) {
    std::vector<std::pair<const VelkNode*, const VelkNode*>> pending{{&expected, &actual}};
    const bool pretty = form == Form::kPretty;
    while (!pending.empty()) {
        const VelkNode& e = *pending.back().first;
        const VelkNode& a = *pending.back().second;
        pending.pop_back();
        if (e.Type() != a.Type()) return "expected " + Describe(&e) + ", found " + Describe(&a);
        std::string want = e.SValue(), found = a.SValue();
        if (e.Type() == VelkNode::DOCUMENT) want = found;  // the value is a file name
        if (e.Type() == VelkNode::COMMENT) want = Reread(want, form, !pretty);
        if (e.Type() == VelkNode::TEXT && form != Form::kSame) {
            want = TextAfterReread(want, condense);
            // The line break and indentation that the pretty form writes after text.
            if (pretty && found.compare(0, want.size(), want) == 0 &&
                found.find_first_not_of(" \t\n\r", want.size()) == std::string::npos)
                found = want;
        }
        if (want != found)
            return "value of " + Describe(&e) + ": expected '" + Printable(want) + "', found '" +
                   Printable(found) + "'";
        want = Fields(e, form, !pretty);
        found = Fields(a, Form::kSame, true);
        if (want != found)
            return "fields of " + Describe(&e) + ": expected " + Printable(want) + ", found " +
                   Printable(found);
        const bool stopAtElement =
            (form == Form::kCompact || firstElementOnly) && e.Type() == VelkNode::DOCUMENT;
        const VelkNode* ce = e.FirstChild();
        const VelkNode* ca = a.FirstChild();
        size_t index = 0;
        for (; ce && ca; ce = ce->NextSibling(), ca = ca->NextSibling(), ++index) {
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
