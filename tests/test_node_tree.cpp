// Linking, searching, editing and deleting nodes of a tree built by hand.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "Velk/base/velkintern.h"

using namespace TAVARO;

namespace {

// The compact form of a subtree: a readable picture of names and order.
std::string Compact(const VelkNode& node) {
    std::string out;
    out << node;
    return out;
}

VelkElement* Add(VelkNode* parent, const char* name) {
    return static_cast<VelkElement*>(parent->LinkEndChild(new VelkElement(name)));
}

VelkComment* NewComment(const char* text) {
    VelkComment* comment = new VelkComment();
    comment->SetValue(text);
    return comment;
}

// Checks the invariants of a child chain in both directions.
void ExpectConsistentChildren(const VelkNode& parent) {
    std::vector<const VelkNode*> forward;
    for (const VelkNode* c = parent.FirstChild(); c; c = c->NextSibling()) {
        EXPECT_EQ(c->Parent(), &parent);
        forward.push_back(c);
    }
    std::vector<const VelkNode*> backward;
    for (const VelkNode* c = parent.LastChild(); c; c = c->PreviousSibling()) {
        backward.insert(backward.begin(), c);
    }
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(parent.FirstChild() == nullptr, parent.LastChild() == nullptr);
}

// A comment that counts its own deletions.
int deletedNodes = 0;
struct CountedComment : VelkComment {
    ~CountedComment() override { ++deletedNodes; }
};

// r holding a, b, c.
struct ThreeChildren : ::testing::Test {
    ThreeChildren() {
        a = Add(&root, "a");
        b = Add(&root, "b");
        c = Add(&root, "c");
    }
    VelkElement root{"r"};
    VelkElement* a;
    VelkElement* b;
    VelkElement* c;
};

TEST(NodeTree, NewNodesStartUnlinked) {
    VelkElement element("e");
    VelkComment comment;
    VelkText text("t");
    VelkDocument document;
    const VelkNode* nodes[] = {&element, &comment, &text, &document};
    for (const VelkNode* node : nodes) {
        EXPECT_EQ(node->Parent(), nullptr);
        EXPECT_EQ(node->FirstChild(), nullptr);
        EXPECT_EQ(node->LastChild(), nullptr);
        EXPECT_EQ(node->PreviousSibling(), nullptr);
        EXPECT_EQ(node->NextSibling(), nullptr);
        EXPECT_EQ(node->ClientData(), nullptr);
        EXPECT_EQ(node->Location().row, -1);
        EXPECT_EQ(node->Location().col, -1);
    }
    EXPECT_EQ(element.Type(), VelkNode::ELEMENT);
    EXPECT_EQ(comment.Type(), VelkNode::COMMENT);
    EXPECT_EQ(text.Type(), VelkNode::TEXT);
    EXPECT_EQ(document.Type(), VelkNode::DOCUMENT);
}

TEST(NodeTree, LinkEndChildAppendsAndAdopts) {
    VelkElement root("r");
    VelkNode* a = root.LinkEndChild(new VelkElement("a"));
    EXPECT_EQ(root.FirstChild(), a);
    EXPECT_EQ(root.LastChild(), a);
    VelkNode* b = root.LinkEndChild(new VelkElement("b"));
    EXPECT_EQ(a->NextSibling(), b);
    EXPECT_EQ(b->PreviousSibling(), a);
    EXPECT_EQ(root.LastChild(), b);
    EXPECT_EQ(root.LinkEndChild(nullptr), nullptr);
    EXPECT_EQ(Compact(root), "<r><a /><b /></r>");
    ExpectConsistentChildren(root);
}

TEST_F(ThreeChildren, InsertBeforeAndAfterLinkClones) {
    VelkElement x("x");
    VelkNode* first = root.InsertBeforeChild(a, x);
    VelkNode* middle = root.InsertAfterChild(a, x);
    VelkNode* last = root.InsertAfterChild(c, x);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, &x);
    EXPECT_EQ(root.FirstChild(), first);
    EXPECT_EQ(a->NextSibling(), middle);
    EXPECT_EQ(root.LastChild(), last);
    VelkNode* appended = root.InsertEndChild(x);
    EXPECT_EQ(root.LastChild(), appended);
    EXPECT_EQ(Compact(root), "<r><x /><a /><x /><b /><c /><x /><x /></r>");
    EXPECT_EQ(x.Parent(), nullptr);
    ExpectConsistentChildren(root);
}

TEST_F(ThreeChildren, ReferenceThatIsNotAChildChangesNothing) {
    VelkElement grandchild("g");
    VelkNode* g = a->LinkEndChild(new VelkElement("g"));
    EXPECT_EQ(root.InsertBeforeChild(nullptr, grandchild), nullptr);
    EXPECT_EQ(root.InsertAfterChild(nullptr, grandchild), nullptr);
    EXPECT_EQ(root.ReplaceChild(nullptr, grandchild), nullptr);
    EXPECT_EQ(root.InsertBeforeChild(g, grandchild), nullptr);
    EXPECT_EQ(root.InsertAfterChild(g, grandchild), nullptr);
    EXPECT_EQ(root.ReplaceChild(g, grandchild), nullptr);
    EXPECT_EQ(Compact(root), "<r><a><g /></a><b /><c /></r>");
}

TEST_F(ThreeChildren, ReplaceChildPutsACopyInPlace) {
    b->SetAttribute("k", "v");
    // The source may be the very child that is replaced.
    VelkNode* copy = root.ReplaceChild(b, *b);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Compact(root), "<r><a /><b k=\"v\" /><c /></r>");
    EXPECT_EQ(copy->Parent(), &root);
    VelkNode* first = root.ReplaceChild(a, VelkText("t"));
    VelkNode* last = root.ReplaceChild(c, VelkElement("z"));
    EXPECT_EQ(root.FirstChild(), first);
    EXPECT_EQ(root.LastChild(), last);
    EXPECT_EQ(Compact(root), "<r>t<b k=\"v\" /><z /></r>");
    ExpectConsistentChildren(root);
}

TEST(NodeTree, ReplacingTheOnlyChildMakesTheCopyFirstAndLast) {
    VelkElement root("r");
    VelkElement* only = Add(&root, "a");
    VelkNode* copy = root.ReplaceChild(only, VelkElement("b"));
    EXPECT_EQ(root.FirstChild(), copy);
    EXPECT_EQ(root.LastChild(), copy);
    EXPECT_EQ(copy->PreviousSibling(), nullptr);
    EXPECT_EQ(copy->NextSibling(), nullptr);
}

TEST_F(ThreeChildren, RemoveChildKeepsChainsConsistent) {
    EXPECT_TRUE(root.RemoveChild(b));
    EXPECT_EQ(Compact(root), "<r><a /><c /></r>");
    ExpectConsistentChildren(root);
    EXPECT_TRUE(root.RemoveChild(a));
    EXPECT_EQ(Compact(root), "<r><c /></r>");
    ExpectConsistentChildren(root);
    EXPECT_TRUE(root.RemoveChild(c));
    EXPECT_EQ(root.FirstChild(), nullptr);
    EXPECT_EQ(root.LastChild(), nullptr);
}

TEST_F(ThreeChildren, IterateChildrenWalksInOrder) {
    std::string names;
    for (VelkNode* n = root.IterateChildren(nullptr); n; n = root.IterateChildren(n)) {
        names += n->Value();
    }
    EXPECT_EQ(names, "abc");
    EXPECT_EQ(root.IterateChildren(root.LastChild()), nullptr);
    Add(&root, "b");
    int count = 0;
    for (VelkNode* n = root.IterateChildren("b", nullptr); n; n = root.IterateChildren("b", n)) {
        EXPECT_STREQ(n->Value(), "b");
        ++count;
    }
    EXPECT_EQ(count, 2);
}

TEST(NodeTree, SearchesCompareWholeValuesExactly) {
    VelkElement root("r");
    Add(&root, "Item");
    Add(&root, "items");
    VelkElement* first = Add(&root, "item");
    VelkElement* middle = Add(&root, "other");
    VelkElement* last = Add(&root, "item");
    EXPECT_EQ(root.FirstChild("item"), first);
    EXPECT_EQ(root.LastChild("item"), last);
    EXPECT_EQ(first->NextSibling("item"), last);
    EXPECT_EQ(last->PreviousSibling("item"), first);
    EXPECT_EQ(middle->NextSibling("other"), nullptr);
    EXPECT_EQ(middle->PreviousSibling("other"), nullptr);
    EXPECT_EQ(root.FirstChild("ite"), nullptr);
}

TEST(NodeTree, ElementSearchesSkipOtherKindsOfTheSameName) {
    VelkElement root("r");
    root.LinkEndChild(NewComment("x"));
    VelkElement* x = Add(&root, "x");
    root.LinkEndChild(new VelkText("y"));
    VelkElement* y = Add(&root, "y");
    EXPECT_EQ(root.FirstChildElement("x"), x);
    EXPECT_EQ(root.FirstChildElement(), x);
    EXPECT_EQ(x->NextSiblingElement(), y);
    EXPECT_EQ(x->NextSiblingElement("y"), y);
    EXPECT_EQ(y->NextSiblingElement(), nullptr);
    EXPECT_EQ(root.FirstChildElement("z"), nullptr);
}

TEST(NodeTree, CastsFollowTheKind) {
    VelkText text("t");
    VelkElement element("e");
    VelkDocument document;
    EXPECT_EQ(text.ToText(), &text);
    EXPECT_EQ(text.ToElement(), nullptr);
    EXPECT_EQ(text.ToDocument(), nullptr);
    EXPECT_EQ(element.ToElement(), &element);
    EXPECT_EQ(element.ToText(), nullptr);
    EXPECT_EQ(document.ToDocument(), &document);
}

TEST(NodeTree, GetDocumentClimbsToTheNearestDocument) {
    VelkDocument outer;
    VelkElement* a = Add(&outer, "a");
    VelkNode* inner = a->LinkEndChild(new VelkDocument());
    VelkElement* b = Add(inner, "b");
    EXPECT_EQ(outer.GetDocument(), &outer);
    EXPECT_EQ(a->GetDocument(), &outer);
    EXPECT_EQ(b->GetDocument(), inner);
    VelkElement detached("d");
    EXPECT_EQ(Add(&detached, "e")->GetDocument(), nullptr);
}

TEST(NodeTree, ClearDeletesChildrenAndKeepsTheNode) {
    VelkElement root("r");
    int dummy = 0;
    root.SetClientData(&dummy);
    Add(Add(&root, "a"), "b");
    root.Clear();
    EXPECT_EQ(root.FirstChild(), nullptr);
    EXPECT_EQ(root.LastChild(), nullptr);
    EXPECT_STREQ(root.Value(), "r");
    EXPECT_EQ(root.ClientData(), &dummy);
    Add(&root, "c");
    EXPECT_EQ(Compact(root), "<r><c /></r>");
}

TEST(NodeTree, DeletingARootDeletesEveryNodeBelowIt) {
    deletedNodes = 0;
    VelkElement* root = new VelkElement("r");
    int made = 0;
    VelkNode* parent = root;
    for (int level = 0; level < 50; ++level) {
        for (int i = 0; i < 3; ++i, ++made) parent->LinkEndChild(new CountedComment());
        VelkElement* next = Add(parent, "e");
        next->SetAttribute("k", "v");
        parent->LinkEndChild(new CountedComment());
        ++made;
        parent = next;
    }
    delete root;
    EXPECT_EQ(deletedNodes, made);

    deletedNodes = 0;
    VelkElement cleared("c");
    Add(&cleared, "a")->LinkEndChild(new CountedComment());
    cleared.LinkEndChild(new CountedComment());
    cleared.Clear();
    EXPECT_EQ(deletedNodes, 2);
}

TEST(NodeTree, CopyToCloneCopiesValueAndClientDataOnly) {
    VelkElement source("s");
    int dummy = 0;
    source.SetClientData(&dummy);
    Add(&source, "child");
    VelkComment target;
    source.CopyToClone(&target);
    EXPECT_STREQ(target.Value(), "s");
    EXPECT_EQ(target.ClientData(), &dummy);
    EXPECT_EQ(target.FirstChild(), nullptr);
    EXPECT_EQ(target.Type(), VelkNode::COMMENT);
}

TEST(NodeTree, ClearEmptiesAMillionDeepChainWithoutRecursion) {
    VelkElement root("e");
    VelkNode* leaf = &root;
    for (int i = 1; i < 1000000; ++i) leaf = leaf->LinkEndChild(new VelkText("t"));
    root.Clear();
    EXPECT_EQ(root.FirstChild(), nullptr);
}

#ifndef NDEBUG
using NodeTreeDeathTest = ThreeChildren;

TEST_F(NodeTreeDeathTest, RemovingANodeThatIsNotAChildStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    VelkElement stranger("s");
    EXPECT_DEATH(root.RemoveChild(&stranger),
                 "Velk/base/velk:[0-9]+: RemoveChild: Assertion '0' failed\\.");
}

TEST_F(NodeTreeDeathTest, IteratingFromAStrangerStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    VelkNode* grandchild = Add(a, "g");
    EXPECT_DEATH(root.IterateChildren(grandchild),
                 "Velk/base/velk:[0-9]+: IterateChildren: Assertion "
                 "'previous->parent == this' failed\\.");
    EXPECT_DEATH(root.IterateChildren("g", grandchild),
                 "Velk/base/velk:[0-9]+: IterateChildren: Assertion "
                 "'previous->parent == this' failed\\.");
}

TEST_F(NodeTreeDeathTest, InsertingNextToACorruptedChainStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    // A node that claims root as parent but sits in no chain.
    VelkElement orphan("o");
    VelkAccess::Parent(orphan) = &root;
    EXPECT_DEATH(root.InsertBeforeChild(&orphan, VelkElement("x")),
                 "Velk/base/velk:[0-9]+: InsertBeforeChild: Assertion "
                 "'firstChild == beforeThis' failed\\.");
    EXPECT_DEATH(root.InsertAfterChild(&orphan, VelkElement("x")),
                 "Velk/base/velk:[0-9]+: InsertAfterChild: Assertion "
                 "'lastChild == afterThis' failed\\.");
    VelkAccess::Parent(orphan) = nullptr;
}
#else
TEST_F(ThreeChildren, RemovingANodeThatIsNotAChildReturnsFalse) {
    VelkElement stranger("s");
    VelkNode* grandchild = Add(a, "g");
    EXPECT_FALSE(root.RemoveChild(&stranger));
    EXPECT_FALSE(root.RemoveChild(grandchild));
    EXPECT_FALSE(root.RemoveChild(nullptr));
    EXPECT_EQ(Compact(root), "<r><a><g /></a><b /><c /></r>");
}
#endif

}  // namespace
