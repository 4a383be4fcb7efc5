// Helpers shared by the unit tests: trees built as nested calls, the compact
// form as a string, and one-line pictures of a tree and of a document's error
// state. velk_check.h, which the fuzz targets share, has the link checks, the
// pretty form as a string and the test files.
#ifndef VELK_TESTS_TEST_UTIL_H
#define VELK_TESTS_TEST_UTIL_H

#include <Velk/base/velk.h>

#include <cstddef>
#include <initializer_list>
#include <istream>
#include <sstream>
#include <string>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

#include "velk_check.h"

namespace velk_test {

using namespace TAVARO;
using namespace velkcheck;

// Bytes in use in blocks from the global operator new, by the whole process
// (counted by the suite's replacement, in test_errors.cpp).
std::size_t HeapInUse();

// Whether the suite runs under valgrind, whose operator new replaces the
// suite's: nothing is counted for HeapInUse and no allocation can fail.
inline bool OnValgrind() {
#ifdef RUNNING_ON_VALGRIND
    return RUNNING_ON_VALGRIND;
#else
    return false;
#endif
}

// The compact form as the string operator appends it.
inline std::string Compact(const VelkNode& node) {
    std::string out;
    out << node;
    return out;
}

// The compact form as StreamOut writes it.
inline std::string Streamed(const VelkBase& item) {
    std::ostringstream out;
    item.StreamOut(&out);
    return out.str();
}

// What is left unread in a stream.
inline std::string Rest(std::istream& in) {
    in.clear();
    std::string rest;
    for (char c; in.get(c);) rest += c;
    return rest;
}

// The offset of a returned position from the input, or -1 for null.
inline long Offset(const char* input, const char* result) {
    return result ? result - input : -1;
}

// Builders for trees written as nested calls; each returns a new node the caller owns.
inline VelkElement* Element(const char* name, std::initializer_list<VelkNode*> children = {}) {
    VelkElement* element = new VelkElement(name);
    for (VelkNode* child : children) element->LinkEndChild(child);
    return element;
}

inline VelkElement* Element(const char* name, const char* attribute, const char* value,
                            std::initializer_list<VelkNode*> children = {}) {
    VelkElement* element = Element(name, children);
    element->SetAttribute(attribute, value);
    return element;
}

inline VelkDocument* Doc(std::initializer_list<VelkNode*> children) {
    VelkDocument* document = new VelkDocument();
    for (VelkNode* child : children) document->LinkEndChild(child);
    return document;
}

// A node of the kind that a table's letter names, valued text: e element,
// c comment, t text, d declaration, anything else unknown markup.
inline VelkNode* Node(char kind, const char* text) {
    VelkNode* node = kind == 'e'   ? new VelkElement("")
                     : kind == 'c' ? new VelkComment()
                     : kind == 't' ? new VelkText("")
                     : kind == 'd' ? new VelkDeclaration()
                                   : static_cast<VelkNode*>(new VelkUnknown());
    node->SetValue(text);
    return node;
}

inline VelkNode* Text(const char* text) {
    return Node('t', text);
}

inline VelkNode* Comment(const char* text) {
    return Node('c', text);
}

inline VelkElement* AddElement(VelkNode* parent, const char* name) {
    return parent->LinkEndChild(new VelkElement(name))->ToElement();
}

// For kind D the document itself, else a node of that kind valued "old" and
// linked last in the document.
inline VelkNode* Linked(char kind, VelkDocument* doc) {
    return kind == 'D' ? doc : doc->LinkEndChild(Node(kind, "old"));
}

// Elements as name[attr=value,...](children,...), texts in single quotes,
// comments, unknown markup and declarations as written; a document as its
// top-level items separated by commas.
inline std::string Shape(const VelkNode* node) {
    const std::string value = node->SValue();
    if (node->ToText()) return "'" + value + "'";
    if (node->Type() == VelkNode::COMMENT) return "<!--" + value + "-->";
    if (node->Type() == VelkNode::UNKNOWN) return "<" + value + ">";
    if (node->Type() == VelkNode::DECLARATION) {
        auto* d = static_cast<const VelkDeclaration*>(node);
        return std::string("<?xml ") + d->Version() + "|" + d->Encoding() + "|" + d->Standalone() +
               "?>";
    }
    std::string out = node->ToDocument() ? "" : value, children;
    const VelkElement* e = node->ToElement();
    for (auto* a = e ? e->FirstAttribute() : nullptr; a; a = a->Next())
        out += (a == e->FirstAttribute() ? "[" : ",") + std::string(a->Name()) + "=" + a->Value() +
               (a->Next() ? "" : "]");
    for (VelkNode* c = node->FirstChild(); c; c = c->NextSibling())
        children += (c == node->FirstChild() ? "" : ",") + Shape(c);
    return e && node->FirstChild() ? out + "(" + children + ")" : out + children;
}

// "ok" for a clean document, else "code@row:col", with the message when it is
// not the code's own.
inline std::string Status(const VelkDocument& doc) {
    const int code = doc.ErrorCode();
    const std::string message = doc.ErrorMessage();
    if (!doc.Error()) return code == 0 && message.empty() ? "ok" : "stale " + message;
    const bool known =
        code > 0 && code < VELK_ERROR_STRING_COUNT && message == VelkBase::errorString[code];
    return std::to_string(code) + "@" + std::to_string(doc.ErrorCursor().row) + ":" +
           std::to_string(doc.ErrorCursor().col) + (known ? "" : " " + message);
}

// The status "code@place" of a document whose error is code at place ("row:col").
inline std::string Coded(int code, const char* place) {
    return std::to_string(code) + "@" + place;
}

}  // namespace velk_test

#endif  // VELK_TESTS_TEST_UTIL_H
