// Helpers shared by the object-model, output and file tests: small trees built
// by hand, and each output form captured as a string.
#ifndef VELK_TESTS_TEST_UTIL_H
#define VELK_TESTS_TEST_UTIL_H

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

namespace velk_test {

// The compact form as the string operator appends it.
inline std::string Compact(const TAVARO::VelkNode& node) {
    std::string out;
    out << node;
    return out;
}

// The compact form as StreamOut writes it.
inline std::string Streamed(const TAVARO::VelkBase& item) {
    std::ostringstream out;
    item.StreamOut(&out);
    return out.str();
}

// Everything item.Print(file, depth) writes, captured through a memory FILE.
inline std::string Printed(const TAVARO::VelkBase& item, int depth = 0) {
    char* data = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&data, &size);
    if (file == nullptr) {
        ADD_FAILURE() << "open_memstream failed";
        return std::string();
    }
    item.Print(file, depth);
    std::fclose(file);
    std::string text(data, size);
    std::free(data);
    return text;
}

inline TAVARO::VelkElement* AddElement(TAVARO::VelkNode* parent, const char* name) {
    return parent->LinkEndChild(new TAVARO::VelkElement(name))->ToElement();
}

// Builders for trees written as nested calls; each returns a new node the caller owns.
inline TAVARO::VelkElement* Element(const char* name,
                                    std::initializer_list<TAVARO::VelkNode*> children = {}) {
    TAVARO::VelkElement* element = new TAVARO::VelkElement(name);
    for (TAVARO::VelkNode* child : children) element->LinkEndChild(child);
    return element;
}

inline TAVARO::VelkElement* Element(const char* name, const char* attribute, const char* value,
                                    std::initializer_list<TAVARO::VelkNode*> children = {}) {
    TAVARO::VelkElement* element = Element(name, children);
    element->SetAttribute(attribute, value);
    return element;
}

inline TAVARO::VelkDocument* Doc(std::initializer_list<TAVARO::VelkNode*> children) {
    TAVARO::VelkDocument* document = new TAVARO::VelkDocument();
    for (TAVARO::VelkNode* child : children) document->LinkEndChild(child);
    return document;
}

inline TAVARO::VelkNode* Text(const char* text) {
    return new TAVARO::VelkText(text);
}

inline TAVARO::VelkNode* Comment(const char* text) {
    TAVARO::VelkNode* comment = new TAVARO::VelkComment();
    comment->SetValue(text);
    return comment;
}

inline TAVARO::VelkNode* Unknown(const char* text) {
    TAVARO::VelkNode* unknown = new TAVARO::VelkUnknown();
    unknown->SetValue(text);
    return unknown;
}

}  // namespace velk_test

#endif  // VELK_TESTS_TEST_UTIL_H
