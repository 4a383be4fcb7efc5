// The handle: chained navigation that stays empty once a step finds nothing.
#include <memory>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

TEST(Handle, EachStepCountsItsOwnKindOfChild) {
    VelkNode *text, *a1, *comment, *b, *a2;
    std::unique_ptr<VelkNode> root(
        Element("r", {text = Text("a"), a1 = Element("a"), comment = Comment("b"), b = Element("b"),
                      a2 = Element("a")}));
    const VelkHandle h(root.get());
    const struct {
        VelkHandle got;
        VelkNode* expected;
    } cases[] = {
        {h.FirstChild(), text},
        {h.FirstChild("b"), comment},
        {h.FirstChildElement(), a1},
        {h.Child(-3), text},
        {h.Child(2), comment},
        {h.Child(4), a2},
        {h.Child(5), nullptr},
        {h.Child("a", 2), a2},
        {h.Child("a", 3), nullptr},
        {h.ChildElement(1), b},
        {h.ChildElement(3), nullptr},
        {h.ChildElement("a", 1), a2},
        {h.ChildElement("b", 1), nullptr},
        {h.FirstChildElement("b"), b},
        {h.Child("a", 0), text},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cases[i].got.Node(), cases[i].expected) << "case " << i;
    EXPECT_EQ(h.FirstChild().ToText(), text);
    EXPECT_EQ(h.FirstChild().ToElement(), nullptr);
    EXPECT_EQ(h.FirstChildElement().ToElement(), a1);
}

TEST(Handle, AChainThroughAMissingNodeEndsEmpty) {
    VelkNode* text;
    std::unique_ptr<VelkNode> doc(Doc({Element("root", {Element("item", {text = Text("x")})})}));
    const VelkHandle h(doc.get());
    EXPECT_EQ(h.FirstChildElement("root").ChildElement("item", 0).Child(0).ToText(), text);
    EXPECT_EQ(h.FirstChildElement("missing").Child(0).Node(), nullptr);
    EXPECT_EQ(h.FirstChildElement("root").ChildElement("item", 1).FirstChild().Node(), nullptr);
    const VelkHandle empty(nullptr);
    for (const VelkHandle& step :
         {empty.FirstChild(), empty.FirstChild("x"), empty.FirstChildElement(),
          empty.FirstChildElement("x"), empty.Child(0), empty.Child("x", 0), empty.ChildElement(0),
          empty.ChildElement("x", 0)})
        EXPECT_EQ(step.Node(), nullptr);
    EXPECT_EQ(empty.ToText(), nullptr);
}

}  // namespace
