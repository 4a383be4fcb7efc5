// The handle: chained navigation that stays empty once a step finds nothing.
#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

namespace {

// r holding: the text "a", an element a, a comment "b", an element b, an element a.
struct Children : ::testing::Test {
    Children() {
        text = root.LinkEndChild(new VelkText("a"));
        a1 = root.LinkEndChild(new VelkElement("a"));
        VelkComment* c = new VelkComment();
        c->SetValue("b");
        comment = root.LinkEndChild(c);
        b = root.LinkEndChild(new VelkElement("b"));
        a2 = root.LinkEndChild(new VelkElement("a"));
    }
    VelkElement root{"r"};
    VelkNode* text;
    VelkNode* a1;
    VelkNode* comment;
    VelkNode* b;
    VelkNode* a2;
};

TEST_F(Children, IndexedSteps) {
    VelkHandle h(&root);
    const struct {
        VelkHandle got;
        VelkNode* expected;
    } cases[] = {
        {h.Child(0), text},
        {h.Child(-3), text},
        {h.Child(1), a1},
        {h.Child(2), comment},
        {h.Child(4), a2},
        {h.Child(5), nullptr},
        {h.Child("a", 0), text},
        {h.Child("a", 1), a1},
        {h.Child("a", 2), a2},
        {h.Child("a", 3), nullptr},
        {h.Child("b", 0), comment},
        {h.ChildElement(0), a1},
        {h.ChildElement(1), b},
        {h.ChildElement(2), a2},
        {h.ChildElement(3), nullptr},
        {h.ChildElement("a", 0), a1},
        {h.ChildElement("a", 1), a2},
        {h.ChildElement("b", 0), b},
        {h.ChildElement("b", 1), nullptr},
        {h.ChildElement("c", 0), nullptr},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_EQ(cases[i].got.Node(), cases[i].expected) << "case " << i;
    }
}

TEST_F(Children, FirstChildSteps) {
    VelkHandle h(&root);
    EXPECT_EQ(h.FirstChild().Node(), text);
    EXPECT_EQ(h.FirstChild("b").Node(), comment);
    EXPECT_EQ(h.FirstChildElement().Node(), a1);
    EXPECT_EQ(h.FirstChildElement("b").Node(), b);
    EXPECT_EQ(h.FirstChild().ToText(), text);
    EXPECT_EQ(h.FirstChild().ToElement(), nullptr);
    EXPECT_EQ(h.FirstChildElement().ToElement(), a1);
}

TEST(Handle, EmptyHandleStaysEmpty) {
    VelkHandle empty(nullptr);
    EXPECT_EQ(empty.Node(), nullptr);
    EXPECT_EQ(empty.ToElement(), nullptr);
    EXPECT_EQ(empty.ToText(), nullptr);
    const VelkHandle steps[] = {
        empty.FirstChild(),
        empty.FirstChild("x"),
        empty.FirstChildElement(),
        empty.FirstChildElement("x"),
        empty.Child(0),
        empty.Child("x", 0),
        empty.ChildElement(0),
        empty.ChildElement("x", 0),
    };
    for (const VelkHandle& step : steps) EXPECT_EQ(step.Node(), nullptr);
}

TEST(Handle, ChainThroughAMissingElementEndsEmpty) {
    VelkDocument doc;
    VelkNode* root = doc.LinkEndChild(new VelkElement("root"));
    VelkNode* item = root->LinkEndChild(new VelkElement("item"));
    VelkNode* text = item->LinkEndChild(new VelkText("x"));
    VelkHandle h(&doc);
    EXPECT_EQ(h.FirstChildElement("root").ChildElement("item", 0).Child(0).ToText(), text);
    EXPECT_EQ(h.FirstChildElement("missing").Child(0).Node(), nullptr);
    EXPECT_EQ(h.FirstChildElement("root").ChildElement("item", 1).FirstChild().Node(), nullptr);
}

}  // namespace
