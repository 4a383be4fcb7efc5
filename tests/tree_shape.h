// Test helpers shared by the parser tests: a one-line picture of a small tree
// and checks of a document's error state.
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
            if (e->FirstAttribute()) {
                out += '[';
                for (auto* a = e->FirstAttribute(); a; a = a->Next()) {
                    if (a != e->FirstAttribute()) out += ',';
                    out += std::string(a->Name()) + "=" + a->Value();
                }
                out += ']';
            }
            break;
        }
        case VelkNode::TEXT:
            return "'" + node->SValue() + "'";
        case VelkNode::COMMENT:
            return "<!--" + node->SValue() + "-->";
        case VelkNode::UNKNOWN:
            return "<" + node->SValue() + ">";
        case VelkNode::DECLARATION: {
            auto* d = static_cast<const TAVARO::VelkDeclaration*>(node);
            return std::string("<?xml ") + d->Version() + "|" + d->Encoding() + "|" +
                   d->Standalone() + "?>";
        }
        default:
            break;
    }
    const bool document = node->Type() == VelkNode::DOCUMENT;
    if (node->FirstChild()) {
        if (!document) out += '(';
        for (VelkNode* c = node->FirstChild(); c; c = c->NextSibling()) {
            if (c != node->FirstChild()) out += ',';
            out += Shape(c);
        }
        if (!document) out += ')';
    }
    return out;
}

inline void ExpectError(const TAVARO::VelkDocument& doc, int code, const char* message, int row,
                        int col) {
    EXPECT_TRUE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), code);
    EXPECT_STREQ(doc.ErrorMessage(), message);
    EXPECT_EQ(doc.ErrorCursor().row, row);
    EXPECT_EQ(doc.ErrorCursor().col, col);
}

inline void ExpectNoError(const TAVARO::VelkDocument& doc) {
    EXPECT_FALSE(doc.Error()) << doc.ErrorMessage();
    EXPECT_EQ(doc.ErrorCode(), 0);
    EXPECT_STREQ(doc.ErrorMessage(), "");
    EXPECT_EQ(doc.ErrorCursor().row, 0);
    EXPECT_EQ(doc.ErrorCursor().col, 0);
}

}  // namespace velk_test

#endif  // VELK_TESTS_TREE_SHAPE_H
