// Trees built by hand: linking, editing, searching, copying and deleting nodes,
// a chain too deep for any recursive walk, and the checks that stop misuse.
#include <pthread.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "Velk/base/velkintern.h"
#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

// Checks the invariants of a child chain in both directions.
void ExpectConsistentChildren(const VelkNode& parent) {
    std::vector<const VelkNode*> forward, backward;
    for (const VelkNode* c = parent.FirstChild(); c; c = c->NextSibling()) {
        EXPECT_EQ(c->Parent(), &parent);
        forward.push_back(c);
    }
    for (const VelkNode* c = parent.LastChild(); c; c = c->PreviousSibling())
        backward.insert(backward.begin(), c);
    EXPECT_EQ(forward, backward);
}

using Edit = VelkNode* (VelkNode::*)(VelkNode*, const VelkNode&);
const Edit kBefore = &VelkNode::InsertBeforeChild, kAfter = &VelkNode::InsertAfterChild,
           kReplace = &VelkNode::ReplaceChild, kRemove = nullptr;

TEST(NodeTree, EditsAtFirstMiddleAndLastKeepTheChainConsistent) {
    // r holds a, b, c; the edit is made at child `at`, with x as its source.
    const struct {
        Edit edit;
        int at;
        const char* expected;
    } cases[] = {
        {kBefore, 0, "<r><x /><a /><b /><c /></r>"}, {kBefore, 1, "<r><a /><x /><b /><c /></r>"},
        {kBefore, 2, "<r><a /><b /><x /><c /></r>"}, {kAfter, 0, "<r><a /><x /><b /><c /></r>"},
        {kAfter, 1, "<r><a /><b /><x /><c /></r>"},  {kAfter, 2, "<r><a /><b /><c /><x /></r>"},
        {kReplace, 0, "<r><x /><b /><c /></r>"},     {kReplace, 1, "<r><a /><x /><c /></r>"},
        {kReplace, 2, "<r><a /><b /><x /></r>"},     {kRemove, 0, "<r><b /><c /></r>"},
        {kRemove, 1, "<r><a /><c /></r>"},           {kRemove, 2, "<r><a /><b /></r>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        VelkElement root("r");
        VelkNode* children[] = {AddElement(&root, "a"), AddElement(&root, "b"),
                                AddElement(&root, "c")};
        const VelkElement x("x");
        if (c.edit) {
            VelkNode* made = (root.*c.edit)(children[c.at], x);
            EXPECT_EQ(made, root.FirstChild("x"));
        } else {
            EXPECT_TRUE(root.RemoveChild(children[c.at]));
        }
        EXPECT_EQ(x.Parent(), nullptr);
        EXPECT_EQ(Compact(root), c.expected);
        ExpectConsistentChildren(root);
    }
}

TEST(NodeTree, EditsNextToANodeThatIsNotAChildChangeNothing) {
    VelkElement root("r");
    VelkElement* a = AddElement(&root, "a");
    VelkNode* grandchild = AddElement(a, "g");
    const VelkElement x("x");
    for (VelkNode* at : {static_cast<VelkNode*>(nullptr), grandchild}) {
        EXPECT_EQ(root.InsertBeforeChild(at, x), nullptr);
        EXPECT_EQ(root.InsertAfterChild(at, x), nullptr);
        EXPECT_EQ(root.ReplaceChild(at, x), nullptr);
    }
    EXPECT_EQ(root.LinkEndChild(nullptr), nullptr);
    // The source of a replacement may be the very child it replaces.
    a->SetAttribute("k", "v");
    EXPECT_NE(root.ReplaceChild(a, *a), nullptr);
    EXPECT_EQ(Compact(root), "<r><a k=\"v\"><g /></a></r>");
#ifdef NDEBUG
    VelkElement stranger("s");
    EXPECT_FALSE(root.RemoveChild(&stranger));
    EXPECT_FALSE(root.RemoveChild(root.FirstChild()->FirstChild()));
    EXPECT_FALSE(root.RemoveChild(nullptr));
    EXPECT_EQ(Compact(root), "<r><a k=\"v\"><g /></a></r>");
#endif
}

TEST(NodeTree, IterateChildrenWalksAllOrTheNamedInOrder) {
    std::unique_ptr<VelkNode> root(
        Element("r", {Element("a"), Element("b"), Text("c"), Element("b")}));
    std::string all, named;
    for (VelkNode* n = root->IterateChildren(nullptr); n; n = root->IterateChildren(n))
        all += n->Value();
    for (VelkNode* n = root->IterateChildren("b", nullptr); n; n = root->IterateChildren("b", n))
        named += n->Value();
    EXPECT_EQ(all, "abcb");
    EXPECT_EQ(named, "bb");
}

TEST(NodeTree, SearchesMatchWholeNamesAndElementSearchesSkipOtherKinds) {
    VelkNode *comment, *upper, *first, *middle, *last;
    std::unique_ptr<VelkNode> root(
        Element("r", {comment = Comment("item"), upper = Element("Item"), Element("items"),
                      first = Element("item"), middle = Element("other"), last = Element("item")}));
    EXPECT_EQ(root->FirstChild("item"), comment);
    EXPECT_EQ(root->FirstChildElement("item"), first);
    EXPECT_EQ(root->FirstChildElement(), upper);
    EXPECT_EQ(root->LastChild("item"), last);
    EXPECT_EQ(first->NextSibling("item"), last);
    EXPECT_EQ(first->PreviousSibling("item"), comment);
    EXPECT_EQ(last->PreviousSibling("item"), first);
    EXPECT_EQ(first->NextSiblingElement(), middle);
    EXPECT_EQ(first->NextSiblingElement("item"), last);
    EXPECT_EQ(last->NextSiblingElement(), nullptr);
    EXPECT_EQ(middle->NextSibling("other"), nullptr);
    EXPECT_EQ(root->FirstChild("ite"), nullptr);
}

TEST(NodeTree, GetDocumentClimbsToTheNearestDocument) {
    VelkNode *a, *b;
    VelkDocument* inner;
    std::unique_ptr<VelkNode> outer(Doc({a = Element("a", {inner = Doc({b = Element("b")})})}));
    EXPECT_EQ(a->GetDocument(), outer.get());
    EXPECT_EQ(b->GetDocument(), inner);
    VelkElement detached("d");
    EXPECT_EQ(AddElement(&detached, "e")->GetDocument(), nullptr);
}

int deletedNodes = 0;
struct CountedComment : VelkComment {
    ~CountedComment() override { ++deletedNodes; }
};

TEST(NodeTree, ClearAndDeleteFreeEveryNodeBelow) {
    deletedNodes = 0;
    VelkElement* root = new VelkElement("r");
    VelkNode* parent = root;
    for (int level = 0; level < 50; ++level) {
        parent->LinkEndChild(new CountedComment());
        VelkElement* next = AddElement(parent, "e");
        parent->LinkEndChild(new CountedComment());
        parent = next;
    }
    parent->LinkEndChild(new CountedComment());
    VelkElement* first = root->FirstChildElement();
    first->Clear();
    EXPECT_EQ(deletedNodes, 99);
    AddElement(first, "c");
    EXPECT_EQ(Compact(*first), "<e><c /></e>");
    delete root;
    EXPECT_EQ(deletedNodes, 101);
}

TEST(NodeTree, CloneIsAnUnlinkedDeepCopy) {
    VelkElement* element;
    VelkNode* leafWithChild;
    VelkElement holder("h");
    holder.LinkEndChild(element = Element("root", "b", "2",
                                          {Element("child", "k", "v", {Text("t")}), Comment("c"),
                                           Element("x", {Element("y")})}));
    element->SetAttribute("a", "1");
    holder.LinkEndChild(leafWithChild = Comment(" note "));
    leafWithChild->LinkEndChild(Element("in"));  // not part of the comment's copy
    holder.LinkEndChild(Unknown("!DOCTYPE x"));
    holder.LinkEndChild(Text("hello"));
    holder.LinkEndChild(new VelkDeclaration("1.0", "UTF-8", ""));
    const char* const expected[] = {
        "<root b=\"2\" a=\"1\"><child k=\"v\">t</child><!--c--><x><y /></x></root>",
        "<!-- note -->", "<!DOCTYPE x>", "hello", "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"};
    int data = 0;
    const char* const* want = expected;
    for (VelkNode* node = holder.FirstChild(); node; node = node->NextSibling(), ++want) {
        node->SetClientData(&data);
        std::unique_ptr<VelkNode> copy(node->Clone());
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->Type(), node->Type());
        EXPECT_EQ(Compact(*copy), *want);
        EXPECT_EQ(copy->Parent(), nullptr);
        EXPECT_EQ(copy->ClientData(), &data);
    }
    std::unique_ptr<VelkNode> copy(element->Clone());
    EXPECT_NE(copy->FirstChild(), element->FirstChild());
    EXPECT_EQ(copy->LastChild()->FirstChild()->Parent(), copy->LastChild());
    EXPECT_EQ(std::unique_ptr<VelkNode>(leafWithChild->Clone())->FirstChild(), nullptr);
}

TEST(NodeTree, OnlyAsciiWhiteSpaceTextIsBlank) {
    const struct {
        const char* text;
        bool blank;
    } cases[] = {
        {"", true}, {" \t\n\r\v\f", true}, {" a ", false}, {"\xA0", false}, {" \x85 ", false}};
    for (const auto& c : cases) EXPECT_EQ(VelkText(c.text).Blank(), c.blank) << c.text;
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(times));
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Builds a million-deep chain, then clones, writes, deletes and clears it.
void* WalkAMillionDeepChain(void*) {
    const int depth = 1000000;
    VelkElement root("e");
    VelkNode* node = &root;
    for (int i = 1; i < depth; ++i) node = AddElement(node, "e");
    node->LinkEndChild(Text("t"));
    std::unique_ptr<VelkNode> copy(root.Clone());
    const std::string compact = Repeat("<e>", depth) + "t" + Repeat("</e>", depth);
    EXPECT_EQ(Compact(*copy), compact);
    EXPECT_EQ(Streamed(*copy), compact);
    // Printed from far below depth 0, no level is indented.
    EXPECT_EQ(Printed(*copy, -depth),
              Repeat("<e>\n", depth - 1) + "<e>t</e>" + Repeat("\n</e>", depth - 1));
    copy.reset();
    root.Clear();
    EXPECT_EQ(root.FirstChild(), nullptr);
    return nullptr;
}

// The walks run on a thread whose stack would not hold a frame per level.
TEST(NodeTree, AMillionDeepChainIsWalkedWithoutRecursion) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, WalkAMillionDeepChain, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

#ifndef NDEBUG
// Each misuse stops with the unit, line, operation and the expression that failed.
TEST(DebugChecksDeathTest, MisuseStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    VelkElement root("r"), stranger("s"), orphan("o");
    VelkNode* grandchild = AddElement(AddElement(&root, "a"), "g");
    VelkAccess::Parent(orphan) = &root;  // claims root as parent but sits in no chain
    VelkAttributeSet set;
    VelkAttribute first("a", "1"), second("a", "2");
    set.Add(&first);
    const std::string velk = "Velk/base/velk:[0-9]+: ";
    const std::string parser = "Velk/base/velkparser:[0-9]+: ";
    const std::string range = "SetError: Assertion 'err > 0 && err < VELK_ERROR_STRING_COUNT'";
    EXPECT_DEATH(root.RemoveChild(&stranger), velk + "RemoveChild: Assertion '0' failed\\.");
    EXPECT_DEATH(root.IterateChildren(grandchild),
                 velk + "IterateChildren: Assertion 'previous->parent == this' failed\\.");
    EXPECT_DEATH(root.InsertBeforeChild(&orphan, VelkElement("x")),
                 velk + "InsertBeforeChild: Assertion 'firstChild == beforeThis' failed\\.");
    EXPECT_DEATH(root.InsertAfterChild(&orphan, VelkElement("x")),
                 velk + "InsertAfterChild: Assertion 'lastChild == afterThis' failed\\.");
    EXPECT_DEATH(set.Add(&second),
                 velk + "Add: Assertion '!Find\\( addMe->Name\\(\\) \\)' failed\\.");
    EXPECT_DEATH(set.Remove(&second), velk + "Remove: Assertion '0' failed\\.");
    EXPECT_DEATH({ VelkAttributeSet().Add(&second); },
                 velk + "~VelkAttributeSet: Assertion '!first && !last' failed\\.");
    EXPECT_DEATH(VelkDocument().SetError(VELK_ERROR_STRING_COUNT, nullptr, nullptr),
                 parser + range);
    set.Remove(&first);
    VelkAccess::Parent(orphan) = nullptr;
}
#endif

}  // namespace
