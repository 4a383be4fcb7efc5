// The document parse: the top-level loop, what it returns and records, and
// the identification of each piece of markup.
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "tree_shape.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

TEST(DocumentParse, ReturnsWhereItStopped) {
    // clang-format off
    // result: the offset of the returned position, -1 for null
    const struct { const char* input; long result; const char *shape, *status; } cases[] = {
        {nullptr, -1, "", "13@-1:-1"},
        {"", -1, "", "13@-1:-1"},
        {"  \n \r\n ", 7, "", "ok"},                // white space only: the end, no nodes
        {"<root/>", -1, "root", "ok"},               // the last node ends at the end
        {"<root/>  ", 9, "root", "ok"},
        {"<a/>text<b/>", 4, "a", "ok"},              // top-level text stops quietly
        {"  x", 2, "", "ok"},
        {"<?xml version='1.0'?><!-- c --><root/>", -1, "<?xml 1.0||?>,<!-- c -->,root", "ok"},
        {"<?XML version='1.0'?>", -1, "<?XML version='1.0'?>", "ok"},
        {"<?xml-stylesheet href='a'?> ", 28, "<?xml ||?>", "ok"},
        {"<?php x ?><![CDATA[a>b]]>\n", 21, "<?php x ?>,<![CDATA[a>", "ok"},
        {"</a> <1> < a> <", -1, "</a>,<1>,< a>,<>", "ok"},
        {"<a><b></a><c/>", -1, "a(b)", "9@0:6"}};    // a failed node stays and ends the parse
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input ? c.input : "null");
        VelkDocument doc;
        const char* end = doc.Parse(c.input, nullptr);
        EXPECT_EQ(end ? end - c.input : -1, c.result);
        EXPECT_EQ(Shape(&doc), c.shape);
        EXPECT_EQ(Status(doc), c.status);
    }
}

TEST(DocumentParse, AppendsToExistingChildrenAndClearsTheOldError) {
    VelkDocument doc;
    doc.LinkEndChild(new VelkComment());
    doc.SetError(2, nullptr, nullptr);
    doc.Parse("<a/>", nullptr);
    EXPECT_EQ(Status(doc), "ok");
    EXPECT_EQ(Shape(&doc), "<!---->,a");
}

TEST(Identify, CreatesTheMatchingKindWithoutLinkingIt) {
    // clang-format off
    const int D = VelkNode::DECLARATION, E = VelkNode::ELEMENT, C = VelkNode::COMMENT,
              U = VelkNode::UNKNOWN;
    const struct { const char* input; int type; } cases[] = {  // type -1: no node
        {"<?xml version='1.0'?>", D}, {"  <?xml-stylesheet?>", D}, {"<?XML?>", U}, {"<a>", E},
        {"\n<_Z/>", E}, {"<!-- c -->", C}, {"<!DOCTYPE x>", U}, {"</a>", U}, {"<1>", U},
        {"< a>", U}, {"<\xE9>", U}, {"<", U}, {"text", -1}, {"   ", -1}, {"", -1}};
    // clang-format on
    VelkElement parent("p");
    for (const auto& c : cases) {
        VelkNode* node = parent.Identify(c.input);
        EXPECT_EQ(node ? node->Type() : -1, c.type) << c.input;
        if (!node) continue;
        EXPECT_EQ(node->Parent(), &parent);
        EXPECT_STREQ(node->Value(), "");
        delete node;
    }
    EXPECT_EQ(parent.FirstChild(), nullptr);
}

}  // namespace
