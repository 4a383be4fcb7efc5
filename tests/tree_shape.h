// Test helpers shared by the parser tests: a one-line picture of a tree, a
// document's error state as a short string, and very deep documents.
#ifndef VELK_TESTS_TREE_SHAPE_H
#define VELK_TESTS_TREE_SHAPE_H

#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

namespace velk_test {

// Elements as name[attr=value,...](children,...), texts in single quotes,
// comments, unknown markup and declarations as written; a document as its
// top-level items separated by commas.
inline std::string Shape(const TAVARO::VelkNode* node) {
    using TAVARO::VelkNode;
    std::string out;
    switch (node->Type()) {
        case VelkNode::ELEMENT: {
            out = node->Value();
            const TAVARO::VelkElement* e = node->ToElement();
            for (auto* a = e->FirstAttribute(); a; a = a->Next())
                out += (a == e->FirstAttribute() ? "[" : ",") + std::string(a->Name()) + "=" +
                       a->Value() + (a->Next() ? "" : "]");
            break;
        }
        case VelkNode::TEXT:
            return "'" + node->SValue() + "'";
        case VelkNode::COMMENT:
            return "<!--" + node->SValue() + "-->";
        case VelkNode::UNKNOWN:
            return "<" + node->SValue() + ">";
        case VelkNode::DECLARATION: {
            auto* d = dynamic_cast<const TAVARO::VelkDeclaration*>(node);
            return std::string("<?xml ") + d->Version() + "|" + d->Encoding() + "|" +
                   d->Standalone() + "?>";
        }
        default:
            break;
    }
    const bool document = node->Type() == VelkNode::DOCUMENT;
    for (VelkNode* c = node->FirstChild(); c; c = c->NextSibling()) {
        out += c == node->FirstChild() ? (document ? "" : "(") : ",";
        out += Shape(c);
        if (!c->NextSibling() && !document) out += ")";
    }
    return out;
}

// "ok" for a clean document, else "code@row:col", with the message when it is
// not the code's own.
inline std::string Status(const TAVARO::VelkDocument& doc) {
    const int code = doc.ErrorCode();
    const std::string message = doc.ErrorMessage();
    if (!doc.Error()) return code == 0 && message.empty() ? "ok" : "stale " + message;
    const bool known = code > 0 && code < TAVARO::VELK_ERROR_STRING_COUNT &&
                       message == TAVARO::VelkBase::errorString[code];
    return std::to_string(code) + "@" + std::to_string(doc.ErrorCursor().row) + ":" +
           std::to_string(doc.ErrorCursor().col) + (known ? "" : " " + message);
}

// depth nested <e> elements; deeper than any call stack at a million.
inline std::string DeepText(int depth) {
    std::string text;
    text.reserve(static_cast<size_t>(depth) * 7 + 16);
    for (int i = 0; i < depth; ++i) text += "<e>";
    for (int i = 0; i < depth; ++i) text += "</e>";
    return text;
}

// How many single-child <e> levels hang below node.
inline int Depth(const TAVARO::VelkNode* node) {
    int depth = 0;
    for (auto* e = node->FirstChildElement(); e; e = e->FirstChildElement()) {
        if (e->FirstChild() != e->LastChild() || e->SValue() != "e") return -1;
        ++depth;
    }
    return depth;
}

}  // namespace velk_test

#endif  // VELK_TESTS_TREE_SHAPE_H
