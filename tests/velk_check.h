// Checks shared by the robustness tests, the second-opinion test and the fuzz
// targets: the link invariants of a tree, and tree comparison, exact or as a
// tree should come back after being written out and read again.
#ifndef VELK_TESTS_VELK_CHECK_H
#define VELK_TESTS_VELK_CHECK_H

#include "velk.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace velkcheck {

using TAVARO::VelkAttribute;
using TAVARO::VelkDeclaration;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;

inline const char* KindName(int type) {
    static const char* const names[] = {"document", "element", "comment",
                                        "unknown",  "text",    "declaration"};
    return type >= 0 && type < 6 ? names[type] : "?";
}

inline std::string Describe(const VelkNode* node) {
    if (!node) return "(none)";
    std::string text = KindName(node->Type());
    text += " '";
    text += node->SValue().substr(0, 40);
    text += "'";
    return text;
}

// The bytes of s with everything outside printable ASCII shown as \xHH.
inline std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 32 && c < 127 && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

// Checks the links below root: each child's parent, both sibling chains,
// first and last child, and each element's attribute ring (both directions,
// unique names). Returns an empty string, or the first fault found. The walk
// is iterative, so a tree of any depth can be checked. *nodes receives the
// number of nodes below root.
inline std::string CheckLinks(const VelkNode& root, size_t* nodes = nullptr) {
    std::vector<const VelkNode*> pending{&root};
    size_t count = 0;
    while (!pending.empty()) {
        const VelkNode* node = pending.back();
        pending.pop_back();
        if ((node->FirstChild() == nullptr) != (node->LastChild() == nullptr))
            return "first and last child disagree under " + Describe(node);
        const VelkNode* previous = nullptr;
        size_t forward = 0;
        for (const VelkNode* c = node->FirstChild(); c; c = c->NextSibling()) {
            if (c->Parent() != node) return "wrong parent link of " + Describe(c);
            if (c->PreviousSibling() != previous)
                return "previous link of " + Describe(c) + " does not match the chain";
            previous = c;
            ++forward;
            pending.push_back(c);
        }
        if (previous != node->LastChild())
            return "last child is not the end of the chain under " + Describe(node);
        size_t backward = 0;
        for (const VelkNode* c = node->LastChild(); c && backward <= forward;
             c = c->PreviousSibling())
            ++backward;
        if (backward != forward)
            return "the two sibling chains differ in length under " + Describe(node);
        count += forward;
        if (const VelkElement* element = const_cast<VelkNode*>(node)->ToElement()) {
            std::set<std::string> names;
            const VelkAttribute* before = nullptr;
            size_t checked = 0;
            for (const VelkAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
                if (a->Previous() != before)
                    return "attribute chain broken at '" + std::string(a->Name()) + "'";
                if (!names.insert(a->Name()).second)
                    return "repeated attribute '" + std::string(a->Name()) + "'";
                if (++checked <= 64 && element->Attribute(a->Name()) != a->Value())
                    return "attribute lookup misses '" + std::string(a->Name()) + "'";
                before = a;
            }
            if (element->LastAttribute() != before)
                return "last attribute is not the end of the chain";
        }
    }
    if (nodes) *nodes = count;
    return "";
}

// How a tree is expected to differ after a write and a read.
enum class Form {
    kSame,     // no difference at all
    kPretty,   // written with Print (and so SaveFile), read back
    kCompact,  // written with StreamOut, read back
};

// The value of one hexadecimal digit as the reader computes it (no check that
// it is a hexadecimal digit).
inline int DigitValue(unsigned char d) {
    if ((d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z')) return (d | 0x20) - 'a' + 10;
    return static_cast<int>(d) - '0';
}

inline bool IsHex(unsigned char d) {
    return (d >= '0' && d <= '9') || (d >= 'a' && d <= 'f') || (d >= 'A' && d <= 'F');
}

inline bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

// Decodes the text as the reader decodes the characters between markup:
// "&#xH;" and "&#xHH;" (any digit characters) and the five named entities.
inline std::string DecodeRaw(const std::string& s) {
    static const char* const names[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    static const char chars[] = {'&', '<', '>', '"', '\''};
    std::string out;
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        if (s[i] != '&') {
            out += s[i++];
            continue;
        }
        if (i + 4 < n && s.compare(i, 3, "&#x") == 0 &&
            (s[i + 4] == ';' || (i + 5 < n && s[i + 5] == ';'))) {
            int v = s[i + 4] == ';' ? DigitValue(s[i + 3])
                                    : 16 * DigitValue(s[i + 3]) + DigitValue(s[i + 4]);
            out += static_cast<char>(v & 0xFF);
            i += s[i + 4] == ';' ? 5 : 6;
            continue;
        }
        int row = 0;
        while (row < 5 && s.compare(i, std::char_traits<char>::length(names[row]), names[row]) != 0)
            ++row;
        if (row < 5) {
            out += chars[row];
            i += std::char_traits<char>::length(names[row]);
        } else {
            out += s[i++];
        }
    }
    return out;
}

// One character as read back from escaped output: its byte, and whether it
// came back as itself (only a stored space does; every other white space
// byte is written as a reference and returns as a decoded character, which
// condensing leaves alone).
struct Piece {
    char byte;
    bool literal;
};

// A stored string as it returns from the escaper and the reader. By design,
// a stored "&#xH;" or "&#xHH;" (hexadecimal digits) passes the escaper
// unchanged and so reads back as the byte it references.
inline std::vector<Piece> EscapedAndRead(const std::string& s) {
    std::vector<Piece> out;
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        if (s[i] == '&' && s.compare(i, 3, "&#x") == 0) {
            size_t digits = 0;
            while (i + 3 + digits < n && IsHex(s[i + 3 + digits])) ++digits;
            if ((digits == 1 || digits == 2) && i + 3 + digits < n && s[i + 3 + digits] == ';') {
                int v = digits == 1 ? DigitValue(s[i + 3])
                                    : 16 * DigitValue(s[i + 3]) + DigitValue(s[i + 4]);
                out.push_back({static_cast<char>(v & 0xFF), false});
                i += 4 + digits;
                continue;
            }
        }
        out.push_back({s[i], s[i] == ' '});
        ++i;
    }
    return out;
}

inline std::string Bytes(const std::vector<Piece>& pieces) {
    std::string out;
    for (const Piece& p : pieces) out += p.byte;
    return out;
}

// A text node's value after a write and a read: the white space that the
// pretty form adds after it (suffix) joins it; the reader skips literal white
// space before text and, when condensing, trims and merges literal white space.
inline std::string TextAfterReread(const std::string& stored, const std::string& suffix,
                                   bool condense) {
    std::vector<Piece> pieces = EscapedAndRead(stored);
    for (char c : suffix) pieces.push_back({c, true});
    size_t i = 0;
    while (i < pieces.size() && pieces[i].literal && IsSpace(pieces[i].byte)) ++i;
    std::string out;
    bool pending = false;
    for (; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        if (condense && p.literal && IsSpace(p.byte)) {
            pending = true;
            continue;
        }
        if (pending) out += ' ';
        pending = false;
        out += p.byte;
    }
    return out;
}

// The white space that the pretty form writes after a text child: a line feed
// and the indentation of what follows it, unless the text is an only child.
inline std::string PrettySuffix(const VelkNode& text, int depth) {
    const VelkNode* parent = text.Parent();
    if (!parent || parent->Type() == VelkNode::DOCUMENT) return "\n";
    if (parent->FirstChild() == parent->LastChild()) return "";
    const VelkNode* next = text.NextSibling();
    int indent = depth - 1;  // before the parent's end tag
    if (next) {
        if (next->Type() == VelkNode::TEXT) return "";
        // A declaration is printed without indentation.
        indent = next->Type() == VelkNode::DECLARATION ? 0 : depth;
    }
    return "\n" + std::string(static_cast<size_t>(indent > 0 ? indent * 4 : 0), ' ');
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

// The value that the given stored string of a node or attribute takes after
// a write in the form and a read.
inline std::string Reread(const std::string& stored, Form form, bool escaped) {
    if (form == Form::kSame) return stored;
    if (escaped) return Bytes(EscapedAndRead(stored));
    return DecodeRaw(stored);
}

// Compares actual with what expected becomes in the given form. For a
// document in compact form (or when firstElementOnly is set) only the
// top-level nodes up to its first element are compared (the compact form
// stops there by design). Returns "" or the first difference. Iterative.
inline std::string TreeDiff(const VelkNode& expected, const VelkNode& actual,
                            Form form = Form::kSame, bool condense = true,
                            bool firstElementOnly = false) {
    struct Pair {
        const VelkNode* e;
        const VelkNode* a;
        int depth;
    };
    std::vector<Pair> pending{{&expected, &actual, 0}};
    const bool pretty = form == Form::kPretty;
    while (!pending.empty()) {
        Pair p = pending.back();
        pending.pop_back();
        const VelkNode* e = p.e;
        const VelkNode* a = p.a;
        if (e->Type() != a->Type()) return "expected " + Describe(e) + ", found " + Describe(a);
        std::string want;
        switch (e->Type()) {
            case VelkNode::DOCUMENT:
                want = a->SValue();
                break;
            case VelkNode::ELEMENT:
            case VelkNode::UNKNOWN:
                want = e->SValue();
                break;
            case VelkNode::TEXT:
                want = form == Form::kSame
                           ? e->SValue()
                           : TextAfterReread(e->SValue(), pretty ? PrettySuffix(*e, p.depth) : "",
                                             condense);
                break;
            case VelkNode::COMMENT:
                want = Reread(e->SValue(), form, !pretty);
                break;
            default:
                break;
        }
        if (e->Type() != VelkNode::DECLARATION && want != a->SValue())
            return "value of " + Describe(e) + ": expected '" + Printable(want) + "', found '" +
                   Printable(a->SValue()) + "'";
        if (e->Type() == VelkNode::DECLARATION) {
            const VelkDeclaration* de = static_cast<const VelkDeclaration*>(e);
            const VelkDeclaration* da = static_cast<const VelkDeclaration*>(a);
            // The fields are read through c_str(): a decoded NUL ends them.
            const std::string want[3] = {Reread(de->Version(), form, !pretty).c_str(),
                                         Reread(de->Encoding(), form, !pretty).c_str(),
                                         Reread(de->Standalone(), form, !pretty).c_str()};
            const std::string found[3] = {da->Version(), da->Encoding(), da->Standalone()};
            for (int f = 0; f < 3; ++f)
                if (want[f] != found[f])
                    return "declaration field " + std::to_string(f) + ": expected '" +
                           Printable(want[f]) + "', found '" + Printable(found[f]) + "'";
        }
        if (e->Type() == VelkNode::ELEMENT) {
            const VelkAttribute* ae = const_cast<VelkNode*>(e)->ToElement()->FirstAttribute();
            const VelkAttribute* aa = const_cast<VelkNode*>(a)->ToElement()->FirstAttribute();
            for (; ae && aa; ae = ae->Next(), aa = aa->Next()) {
                std::string value = Reread(ae->Value(), form, true);
                value = value.c_str();  // a value is read back up to a NUL
                if (std::string(ae->Name()) != aa->Name() || value != aa->Value())
                    return "attribute of " + Describe(e) + ": expected " + Printable(ae->Name()) +
                           "='" + Printable(value) + "', found " + Printable(aa->Name()) + "='" +
                           Printable(aa->Value()) + "'";
            }
            if (ae || aa)
                return "attribute count of " + Describe(e) + " differs at '" +
                       (ae ? ae->Name() : aa->Name()) + "'";
        }
        const bool stopAtElement =
            (form == Form::kCompact || firstElementOnly) && e->Type() == VelkNode::DOCUMENT;
        const VelkNode* ce = e->FirstChild();
        const VelkNode* ca = a->FirstChild();
        size_t index = 0;
        for (; ce && ca; ce = ce->NextSibling(), ca = ca->NextSibling(), ++index) {
            pending.push_back({ce, ca, p.depth + (e->Type() == VelkNode::DOCUMENT ? 0 : 1)});
            if (stopAtElement && ce->Type() == VelkNode::ELEMENT) {
                ce = nullptr;
                ca = firstElementOnly ? nullptr : ca->NextSibling();
                break;
            }
        }
        if (ce || ca)
            return "children of " + Describe(e) + " differ at index " + std::to_string(index) +
                   ": expected " + Describe(ce) + ", found " + Describe(ca);
    }
    return "";
}

// The pretty form of a node as Print writes it.
inline std::string PrettyText(const VelkNode& node) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&buffer, &size);
    if (!file) return "";
    node.Print(file, 0);
    std::fclose(file);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

}  // namespace velkcheck

#endif  // VELK_TESTS_VELK_CHECK_H
