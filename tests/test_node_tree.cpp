// Trees built by hand: linking, editing, searching (by node and by handle),
// copying nodes and documents, and deleting nodes.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

// The values of node's children, one after the other.
std::string Children(const VelkNode& node) {
    std::string values;
    for (const VelkNode* c = node.FirstChild(); c; c = c->NextSibling()) values += c->Value();
    return values;
}

// The edit that kind names (b before, a after, r replace, e end, d delete) at
// child `at`, with x as its source; what it returns, or null for a deletion.
VelkNode* Edit(char kind, VelkNode& root, VelkNode* at, const VelkNode& x) {
    if (kind == 'b') return root.InsertBeforeChild(at, x);
    if (kind == 'a') return root.InsertAfterChild(at, x);
    if (kind == 'r') return root.ReplaceChild(at, x);
    if (kind == 'e') return root.InsertEndChild(x);
    EXPECT_TRUE(root.RemoveChild(at));
    return nullptr;
}

TEST(NodeTree, EditsAtFirstMiddleAndLastKeepTheChainConsistent) {
    // One case per line; r holds a, b, c and the edit is made at child `at`.
    // clang-format off
    const struct { char kind; int at; const char* children; } cases[] = {
        {'b', 0, "xabc"}, {'b', 1, "axbc"}, {'b', 2, "abxc"}, {'a', 0, "axbc"}, {'a', 1, "abxc"},
        {'a', 2, "abcx"}, {'r', 0, "xbc"}, {'r', 1, "axc"}, {'r', 2, "abx"}, {'d', 0, "bc"},
        {'d', 1, "ac"}, {'d', 2, "ab"}, {'e', 0, "abcx"}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.kind) + std::to_string(c.at));
        VelkElement root("r");
        VelkNode* children[] = {AddElement(&root, "a"), AddElement(&root, "b"),
                                AddElement(&root, "c")};
        const VelkElement x("x");
        VelkNode* made = Edit(c.kind, root, children[c.at], x);
        EXPECT_EQ(made, c.kind == 'd' ? nullptr : root.FirstChild("x"));
        EXPECT_EQ(x.Parent(), nullptr);
        EXPECT_EQ(Children(root), c.children);
        EXPECT_EQ(CheckLinks(root), "");
    }
}

TEST(NodeTree, EditsNextToANodeThatIsNotAChildChangeNothing) {
    VelkElement root("r");
    VelkElement* a = AddElement(&root, "a");
    VelkNode* grandchild = AddElement(a, "g");
    const VelkElement x("x");
    for (VelkNode* at : {static_cast<VelkNode*>(nullptr), grandchild})
        for (char kind : {'b', 'a', 'r'}) EXPECT_EQ(Edit(kind, root, at, x), nullptr);
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

// Searches match whole values and element searches skip other kinds; a handle
// counts each kind of child its own way and stays empty once a step finds nothing.
TEST(NodeTree, SearchesAndHandleSteps) {
    VelkNode *comment, *upper, *plural, *first, *text, *middle, *last;
    std::unique_ptr<VelkNode> doc(
        Doc({Element("r", {comment = Comment("item"), upper = Element("Item"),
                           plural = Element("items"), first = Element("item"), text = Text("hi"),
                           middle = Element("other"), last = Element("item")})}));
    const VelkNode* root = doc->FirstChild();
    const VelkHandle h(doc.get()), r = h.FirstChildElement("r"), none(nullptr);
    // One case per line.
    // clang-format off
    const struct { VelkNode *found, *expected; } cases[] = {
        {root->FirstChild("item"), comment}, {root->FirstChildElement("item"), first},
        {root->FirstChildElement(), upper}, {root->LastChild("item"), last},
        {first->NextSibling("item"), last}, {first->PreviousSibling("item"), comment},
        {last->PreviousSibling("item"), first}, {first->NextSiblingElement(), middle},
        {first->NextSiblingElement("item"), last}, {last->NextSiblingElement(), nullptr},
        {middle->NextSibling("other"), nullptr}, {root->FirstChild("ite"), nullptr},
        {root->LastChild("it"), nullptr}, {first->PreviousSibling("items "), nullptr},
        {root->IterateChildren(plural), first}, {root->IterateChildren("item", comment), first},
        {root->IterateChildren("item", last), nullptr}, {root->IterateChildren(nullptr), comment},
        {r.FirstChild().Node(), comment}, {r.FirstChild("item").Node(), comment},
        {r.FirstChildElement().Node(), upper}, {r.FirstChildElement("item").Node(), first},
        {r.Child(-3).Node(), comment}, {r.Child(4).Node(), text}, {r.Child(6).Node(), last},
        {r.Child(7).Node(), nullptr}, {r.Child("item", 2).Node(), last},
        {r.Child("item", 3).Node(), nullptr}, {r.ChildElement(1).Node(), plural},
        {r.ChildElement(5).Node(), nullptr}, {r.ChildElement("item", 1).Node(), last},
        {r.ChildElement("other", 1).Node(), nullptr}, {r.Child(4).ToText(), text},
        {r.Child(4).ToElement(), nullptr}, {r.Child(3).ToElement(), first},
        {h.FirstChildElement("x").Child(0).ChildElement(0).Node(), nullptr},
        {none.FirstChild().Node(), nullptr}, {none.FirstChild("x").Node(), nullptr},
        {none.FirstChildElement().Node(), nullptr}, {none.FirstChildElement("x").Node(), nullptr},
        {none.Child(0).Node(), nullptr}, {none.Child("x", 0).Node(), nullptr},
        {none.ChildElement(0).Node(), nullptr}, {none.ChildElement("x", 0).ToText(), nullptr}};
    // clang-format on
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cases[i].found, cases[i].expected) << "case " << i;
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

int deleted = 0;
struct Counted : VelkComment {
    ~Counted() override { ++deleted; }
};

TEST(NodeTree, ClearAndDeleteFreeEveryNodeBelow) {
    deleted = 0;
    VelkElement* root =
        Element("r", {Element("a", {new Counted, Element("b", {new Counted})}), new Counted});
    root->FirstChild()->Clear();
    EXPECT_EQ(deleted, 2);
    AddElement(root->FirstChild(), "n");
    EXPECT_EQ(Compact(*root), "<r><a><n /></a><!----></r>");
    delete root;
    EXPECT_EQ(deleted, 3);
}

// A copy of each kind: the whole subtree of an element, the fields of a leaf
// (not children linked under it), the client data; linked nowhere.
TEST(NodeTree, CloneIsAnUnlinkedDeepCopy) {
    VelkNode* leafWithChild;
    VelkElement holder("h");
    holder.LinkEndChild(
        Element("root", "b", "2", {Element("c", "k", "v", {Text("t")}), Comment("c")}));
    holder.LinkEndChild(leafWithChild = Comment(" note "));
    leafWithChild->LinkEndChild(Element("in"));
    holder.LinkEndChild(Node('u', "!DOCTYPE x"));
    holder.LinkEndChild(Text("hello"));
    holder.LinkEndChild(new VelkDeclaration("1.0", "UTF-8", ""));
    const char* const expected[] = {"<root b=\"2\"><c k=\"v\">t</c><!--c--></root>",
                                    "<!-- note -->", "<!DOCTYPE x>", "hello",
                                    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"};
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
        EXPECT_EQ(CheckLinks(*copy), "");
        EXPECT_EQ(copy->FirstChild() != nullptr, node->ToElement() != nullptr);
    }
}

TEST(NodeTree, OnlyAsciiWhiteSpaceTextIsBlank) {
    const struct {
        const char* text;
        bool blank;
    } cases[] = {
        {"", true}, {" \t\n\r\v\f", true}, {" a ", false}, {"\xA0", false}, {" \x85 ", false}};
    for (const auto& c : cases) EXPECT_EQ(VelkText(c.text).Blank(), c.blank) << c.text;
}

// A clone has the name, the top-level nodes and the error flag and message,
// but code 0, the cursor (0, 0) and the default tab size.
TEST(NodeTree, DocumentCloneCopiesTreeNameAndErrorFlagButNotCodeCursorOrTabSize) {
    VelkDocument doc("source.xml");
    EXPECT_EQ(Status(*std::unique_ptr<VelkNode>(doc.Clone())->ToDocument()), "ok");
    doc.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    doc.LinkEndChild(Comment("c"));
    doc.LinkEndChild(Element("root", "a", "1", {Element("child")}));
    doc.LinkEndChild(Element("second"));
    doc.SetTabSize(8);
    doc.SetError(VELK_ERROR_OPEN_FILE, nullptr, nullptr);
    std::unique_ptr<VelkNode> node(doc.Clone());
    const VelkDocument* copy = node->ToDocument();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Status(*copy), "0@0:0 Failed to open file");
    EXPECT_EQ(copy->TabSize(), 4);
    EXPECT_STREQ(copy->Value(), "source.xml");
    EXPECT_EQ(PrettyText(*copy), PrettyText(doc));
    EXPECT_EQ(CheckLinks(*copy), "");
}

}  // namespace
