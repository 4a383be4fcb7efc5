// Elements: attribute operations, deep copies, and subtrees too deep to recurse.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

namespace {

std::string Compact(const VelkNode& node) {
    std::string out;
    out << node;
    return out;
}

std::string Printed(const VelkNode& node, int depth) {
    char* data = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&data, &size);
    if (!file) {
        ADD_FAILURE() << "open_memstream failed";
        return std::string();
    }
    node.Print(file, depth);
    std::fclose(file);
    std::string text(data, size);
    std::free(data);
    return text;
}

std::string AttributeNames(const VelkElement& element) {
    std::string names;
    for (const VelkAttribute* a = element.FirstAttribute(); a; a = a->Next()) names += a->Name();
    return names;
}

VelkElement* Add(VelkNode* parent, const char* name) {
    return static_cast<VelkElement*>(parent->LinkEndChild(new VelkElement(name)));
}

TEST(Element, StartsEmpty) {
    VelkElement item("item");
    EXPECT_STREQ(item.Value(), "item");
    EXPECT_EQ(item.Type(), VelkNode::ELEMENT);
    EXPECT_EQ(item.FirstChild(), nullptr);
    EXPECT_EQ(item.FirstAttribute(), nullptr);
    EXPECT_EQ(item.LastAttribute(), nullptr);
    EXPECT_EQ(item.Attribute("a"), nullptr);
}

TEST(Element, SetAttributeKeepsFirstPlaceAndLastValue) {
    VelkElement e("e");
    e.SetAttribute("a", "1");
    e.SetAttribute("b", "2");
    e.SetAttribute("a", "3");
    EXPECT_EQ(AttributeNames(e), "ab");
    EXPECT_STREQ(e.Attribute("a"), "3");
    e.SetAttribute("n", 42);
    EXPECT_STREQ(e.Attribute("n"), "42");
    e.SetAttribute("n", -5);
    EXPECT_STREQ(e.Attribute("n"), "-5");
    EXPECT_EQ(AttributeNames(e), "abn");
}

TEST(Element, RemoveAttributeThenSetAppends) {
    VelkElement e("e");
    e.SetAttribute("a", "1");
    e.SetAttribute("b", "2");
    e.RemoveAttribute("b");
    EXPECT_EQ(AttributeNames(e), "a");
    e.RemoveAttribute("missing");
    EXPECT_EQ(AttributeNames(e), "a");
    e.SetAttribute("c", "3");
    e.RemoveAttribute("a");
    e.SetAttribute("a", "x");
    EXPECT_EQ(AttributeNames(e), "ca");
}

// Attribute(name, int*) against QueryIntAttribute, on the same values.
struct Lookup {
    const char* name;
    const char* expectedText;  // null: no such attribute
    int written;               // what Attribute(name, &i) stores
    int query;                 // what QueryIntAttribute returns
    int queried;               // the out-parameter afterwards; it starts at 99
};

class IntLookup : public ::testing::TestWithParam<Lookup> {};

TEST_P(IntLookup, BothFamilies) {
    VelkElement e("e");
    e.SetAttribute("text", "abc");
    e.SetAttribute("mixed", "12abc");
    e.SetAttribute("number", "42");
    const Lookup& c = GetParam();
    int i = 99;
    const char* text = e.Attribute(c.name, &i);
    if (c.expectedText) {
        EXPECT_STREQ(text, c.expectedText);
    } else {
        EXPECT_EQ(text, nullptr);
    }
    EXPECT_EQ(i, c.written);
    int q = 99;
    EXPECT_EQ(e.QueryIntAttribute(c.name, &q), c.query);
    EXPECT_EQ(q, c.queried);
}

INSTANTIATE_TEST_SUITE_P(Values, IntLookup,
                         ::testing::Values(Lookup{"missing", nullptr, 0, VELK_ATTR_MISSING, 99},
                                           Lookup{"text", "abc", 0, VELK_ATTR_NOT_NUMERIC, 99},
                                           Lookup{"mixed", "12abc", 12, VELK_ATTR_OK, 12},
                                           Lookup{"number", "42", 42, VELK_ATTR_OK, 42}));

TEST(Element, DoubleLookups) {
    VelkElement e("e");
    e.SetAttribute("w", "2.5");
    double d = 7.0;
    EXPECT_EQ(e.QueryDoubleAttribute("w", &d), VELK_ATTR_OK);
    EXPECT_EQ(d, 2.5);
    d = 7.0;
    EXPECT_EQ(e.QueryDoubleAttribute("missing", &d), VELK_ATTR_MISSING);
    EXPECT_EQ(d, 7.0);
    EXPECT_STREQ(e.Attribute("w", &d), "2.5");
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(e.Attribute("missing", &d), nullptr);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(e.Attribute("missing", static_cast<double*>(nullptr)), nullptr);
    EXPECT_EQ(e.Attribute("missing", static_cast<int*>(nullptr)), nullptr);
}

TEST(Element, CloneCopiesTheWholeSubtreeAndSharesNothing) {
    VelkElement source("root");
    int dummy = 0;
    source.SetClientData(&dummy);
    source.SetAttribute("b", "2");
    source.SetAttribute("a", "1");
    VelkElement* child = Add(&source, "child");
    child->SetAttribute("k", "v");
    child->LinkEndChild(new VelkText("t"));
    VelkComment* comment = new VelkComment();
    comment->SetValue("c");
    source.LinkEndChild(comment);
    Add(Add(&source, "x"), "y");

    VelkNode* copy = source.Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Compact(*copy),
              "<root b=\"2\" a=\"1\"><child k=\"v\">t</child><!--c--><x><y /></x></root>");
    EXPECT_EQ(copy->Parent(), nullptr);
    EXPECT_EQ(copy->Location().row, -1);
    EXPECT_EQ(copy->ClientData(), &dummy);
    EXPECT_NE(copy->FirstChild(), child);
    EXPECT_EQ(copy->FirstChild()->Parent(), copy);
    EXPECT_EQ(copy->LastChild()->FirstChild()->Parent(), copy->LastChild());

    copy->ToElement()->SetAttribute("a", "changed");
    copy->FirstChild()->ToElement()->SetAttribute("k", "changed");
    copy->LastChild()->SetValue("z");
    EXPECT_EQ(Compact(source),
              "<root b=\"2\" a=\"1\"><child k=\"v\">t</child><!--c--><x><y /></x></root>");
    delete copy;
}

TEST(Element, AttributeWithEmptyNameAndValueIsCopiedAndWritten) {
    VelkElement e("e");
    e.SetAttribute("a", "1");
    e.SetAttribute("", "");
    e.SetAttribute("b", "2");
    EXPECT_EQ(Compact(e), "<e a=\"1\" =\"\" b=\"2\" />");
    EXPECT_EQ(Printed(e, 0), "<e a=\"1\" =\"\" b=\"2\" />");
    std::ostringstream stream;
    stream << e;
    EXPECT_EQ(stream.str(), "<e a=\"1\" =\"\" b=\"2\" />");
    VelkNode* copy = e.Clone();
    EXPECT_EQ(Compact(*copy), "<e a=\"1\" =\"\" b=\"2\" />");
    delete copy;
}

// A chain of `depth` elements named e, the innermost holding the text t.
VelkElement* Chain(int depth) {
    VelkElement* root = new VelkElement("e");
    VelkNode* node = root;
    for (int i = 1; i < depth; ++i) node = node->LinkEndChild(new VelkElement("e"));
    node->LinkEndChild(new VelkText("t"));
    return root;
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(times));
    for (int i = 0; i < times; ++i) out.append(piece);
    return out;
}

TEST(Element, SmallChainPrintsAndStreams) {
    VelkElement* chain = Chain(3);
    EXPECT_EQ(Compact(*chain), "<e><e><e>t</e></e></e>");
    EXPECT_EQ(Printed(*chain, 0), "<e>\n    <e>\n        <e>t</e>\n    </e>\n</e>");
    delete chain;
}

TEST(Element, AMillionDeepChainClonesPrintsAndStreams) {
    const int depth = 1000000;
    VelkElement* chain = Chain(depth);
    const std::string compact = Repeat("<e>", depth) + "t" + Repeat("</e>", depth);

    VelkNode* copy = chain->Clone();
    ASSERT_NE(copy, nullptr);
    delete chain;
    EXPECT_EQ(Compact(*copy), compact);
    // Printed from far below depth 0, no level is indented.
    EXPECT_EQ(Printed(*copy, -depth),
              Repeat("<e>\n", depth - 1) + "<e>t</e>" + Repeat("\n</e>", depth - 1));
    delete copy;
}

}  // namespace
