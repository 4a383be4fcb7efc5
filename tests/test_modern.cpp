// The C++ forms beside the classic calls: ranges, std::string and string_view
// arguments, Parse with a length, unique_ptr ownership, pretty output to
// strings and streams, typed attributes and per-document condensing.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

// A const node hands out const items; a mutable one mutable items.
static_assert(std::is_same<decltype(*std::declval<const VelkNode&>().Children().begin()),
                           const VelkNode&>::value,
              "children of a const node are const");
static_assert(
    std::is_same<decltype(*std::declval<VelkNode&>().ChildElements().begin()), VelkElement&>::value,
    "child elements of a node are elements");
static_assert(std::is_same<decltype(*std::declval<const VelkElement&>().Attributes().begin()),
                           const VelkAttribute&>::value,
              "attributes of a const element are const");

// The bytes of a literal, NUL bytes among them included.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// The values a range yields, joined by commas.
template <class Range>
std::string Values(const Range& range) {
    std::string out;
    for (const auto& item : range) out += (out.empty() ? "" : ",") + std::string(item.Value());
    return out;
}

TEST(Ranges, YieldTheChildrenElementsAndAttributesInOrder) {
    VelkDocument doc;
    doc.Parse("<r a='1' b='2' c='3'>t<e/><!--c--><f/><e>x</e><ee/></r>");
    ASSERT_EQ(Status(doc), "ok");
    const VelkElement& root = *doc.FirstChildElement();
    const std::string names = "eeXX";  // views of its first one and two bytes
    // One case per line: what the range covers, and its values.
    // clang-format off
    const struct { std::string range, expected; } cases[] = {
        {Values(root.Children()), "t,e,c,f,e,ee"},
        {Values(root.ChildElements()), "e,f,e,ee"},
        {Values(root.ChildElements("e")), "e,e"},
        {Values(root.ChildElements(std::string_view(names).substr(0, 1))), "e,e"},
        {Values(root.ChildElements(std::string_view(names).substr(0, 2))), "ee"},
        {Values(root.ChildElements("none")), ""},
        {Values(root.Attributes()), "1,2,3"},
        {Values(doc.Children()), "r"},
        {Values(root.FirstChild()->Children()), ""},
        {Values(VelkElement("x").Attributes()), ""}};
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(c.range, c.expected);

    EXPECT_EQ(std::distance(root.Children().begin(), root.Children().end()), 6);
    EXPECT_TRUE(root.ChildElements("none").empty());
    const auto named = root.ChildElements("e");
    EXPECT_EQ(
        std::count_if(named.begin(), named.end(), [](const VelkElement& e) { return e.Text(); }),
        1);
}

TEST(Ranges, EditThroughMutableItems) {
    VelkDocument doc;
    doc.Parse("<r a='1' b='2'><e/><f/><e/></r>");
    VelkElement& root = *doc.FirstChildElement();
    for (VelkElement& e : root.ChildElements("e")) e.SetAttribute("seen", true);
    for (VelkAttribute& a : root.Attributes()) a.SetValue(std::string(a.Value()) + "!");
    EXPECT_EQ(Compact(doc), "<r a=\"1!\" b=\"2!\"><e seen=\"true\" /><f /><e seen=\"true\" /></r>");
}

// Every lookup by name takes a std::string or a view, and compares the name's
// bytes, not a C string that might run on past a view's end.
TEST(StringArguments, FindWhatTheCStringFormsFind) {
    VelkDocument doc;
    doc.Parse("<r k='v' kk='w'><a>1</a><ab>2</ab><a>3</a><!--a--></r>");
    VelkElement* r = doc.FirstChildElement();
    const std::string ab = "ab", a = "a";
    const std::string_view aView = std::string_view(ab).substr(0, 1);
    // The children: a1, ab, a3, and a comment valued "a".
    VelkNode* a1 = r->FirstChild();
    VelkNode* abNode = a1->NextSibling();
    VelkNode* a3 = abNode->NextSibling();
    VelkNode* comment = r->LastChild();
    // clang-format off
    const struct { const void* got; const void* expected; } cases[] = {
        {r->FirstChild(aView), a1},                 {r->FirstChild(ab), abNode},
        {r->LastChild(aView), comment},             {r->LastChild(a), comment},
        {r->FirstChildElement(aView), a1},          {a1->NextSibling(aView), a3},
        {a1->NextSiblingElement(a), a3},            {comment->PreviousSibling(ab), abNode},
        {a3->NextSiblingElement(a), nullptr},       {r->FirstChild(std::string("zz")), nullptr},
        {r->Attribute(std::string_view("kkk").substr(0, 1)), r->FirstAttribute()->Value()},
        {r->Attribute(std::string("kk")), r->LastAttribute()->Value()},
        {VelkHandle(r).FirstChildElement(ab).Node(), abNode},
        {VelkHandle(r).ChildElement(aView, 1).Node(), a3},
        {VelkHandle(r).Child(a, 2).Node(), comment},
        {r->IterateChildren(aView, a1), a3},       {r->IterateChildren(ab, nullptr), abNode}};
    // clang-format on
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cases[i].got, cases[i].expected) << "case " << i;

    r->SetAttribute(std::string("k"), std::string_view("new"));
    r->SetAttribute(aView, std::string("x"));
    r->RemoveAttribute(std::string_view("kk"));
    r->SetValue(std::string_view("root"));
    EXPECT_EQ(Shape(r), "root[k=new,a=x](a('1'),ab('2'),a('3'),<!--a-->)");

    int i = 0;
    double d = 0;
    EXPECT_EQ(VelkElement(std::string("e")).QueryIntAttribute(std::string("n"), &i),
              VELK_ATTR_MISSING);
    r->SetAttribute("n", "12.5");
    EXPECT_STREQ(r->Attribute(std::string_view("n"), &i), "12.5");
    EXPECT_STREQ(r->Attribute(std::string("n"), &d), "12.5");
    EXPECT_EQ(i, 12);
    EXPECT_EQ(d, 12.5);
    EXPECT_EQ(r->QueryDoubleAttribute(std::string_view("n"), &d), VELK_ATTR_OK);
}

TEST(StringArguments, ViewsAndLengthsOfStoredText) {
    VelkElement e(std::string_view("name"));
    e.SetAttribute("k", Bytes("a\0b"));
    const VelkAttribute& a = *e.FirstAttribute();
    EXPECT_EQ(e.ValueView(), "name");
    EXPECT_EQ(e.ValueLength(), 4u);
    EXPECT_EQ(a.NameView(), "k");
    EXPECT_EQ(a.ValueView(), std::string_view("a\0b", 3));
    EXPECT_EQ(a.ValueLength(), 3u);
    const std::string longName(100, 'n');
    VelkText text(longName);
    EXPECT_EQ(text.ValueView(), longName);
    EXPECT_EQ(static_cast<const void*>(text.ValueView().data()),
              static_cast<const void*>(text.Value()));
}

// Text with its length: nothing is read past it, and a NUL among its bytes is
// an error at the NUL's position unless an earlier one was found.
TEST(ParseLength, StopsAtTheLengthAndRefusesNulBytes) {
    // One case per line; error: code, row, col; end: the offset returned, -1 for null
    // (as a parse that reads to the end returns).
    // clang-format off
    const struct { std::string bytes; int error, row, col; long end; std::string tree; } cases[] = {
        {"<a/><b/>",                 0, 0, 0, -1, "a,b"},
        {"<a x='1'/>",               0, 0, 0, -1, "a[x=1]"},
        {Bytes("<a>x\0</a>"), VELK_ERROR_CHARACTER, 0, 4, 4, "a('x')"},
        {Bytes("\0<a/>"),    VELK_ERROR_CHARACTER, 0, 0, 0, ""},
        {Bytes("<a/>\0"),    VELK_ERROR_CHARACTER, 0, 4, 4, "a"},
        {Bytes("\n\t<a>\0"), VELK_ERROR_CHARACTER, 1, 7, 5, "a"},
        {Bytes("<a></b>\0"), VELK_ERROR_END_TAG, 0, 3, -1, "a"},
        {Bytes("<a x='1\0'/>"), VELK_ERROR_CHARACTER, 0, 7, 7, "a"},
        {Bytes("<a><!--x\0--></a>"), VELK_ERROR_CHARACTER, 0, 8, 8, "a(<!---->)"},
        {Bytes("<a>\n <b \0/></a>"), VELK_ERROR_CHARACTER, 1, 4, 8, "a(b)"},
        {"",                          VELK_ERROR_DOCUMENT_EMPTY, -1, -1, -1, ""}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(Printable(c.bytes));
        // Exactly the bytes, in memory of their own: reading past them is an error under ASan.
        std::unique_ptr<char[]> exact(new char[c.bytes.size()]);
        std::copy(c.bytes.begin(), c.bytes.end(), exact.get());
        for (int form = 0; form < 3; ++form) {
            VelkDocument doc;
            const char* base = form == 1 ? c.bytes.c_str() : exact.get();
            const char* end = form == 0 ? doc.Parse(exact.get(), c.bytes.size(), nullptr)
                              : form == 1
                                  ? doc.Parse(c.bytes)
                                  : doc.Parse(std::string_view(exact.get(), c.bytes.size()));
            EXPECT_EQ(doc.ErrorCode(), c.error) << "form " << form;
            if (c.error) {
                EXPECT_EQ(doc.ErrorCursor().row, c.row) << "form " << form;
                EXPECT_EQ(doc.ErrorCursor().col, c.col) << "form " << form;
            }
            EXPECT_EQ(Offset(base, end), c.end) << "form " << form;
            std::string tree;
            for (const VelkNode& n : doc.Children()) tree += (tree.empty() ? "" : ",") + Shape(&n);
            EXPECT_EQ(tree, c.tree) << "form " << form;
        }
    }
    VelkDocument prefix;
    prefix.Parse("<a/><b/>", 4, nullptr);
    EXPECT_EQ(Shape(&prefix), "a");
}

// The unique_ptr forms adopt the node itself, and leave it with the caller
// when the place is wrong.
TEST(UniquePointers, LinkTheNodeItselfOrLeaveItWithTheCaller) {
    // One case per line; kind: e end, b before, a after, r replace; at: the child index.
    // clang-format off
    const struct { char kind; int at; bool linked; std::string tree; } cases[] = {
        {'e', 0, true, "r(x,y,n)"}, {'b', 0, true, "r(n,x,y)"}, {'b', 1, true, "r(x,n,y)"},
        {'a', 0, true, "r(x,n,y)"}, {'a', 1, true, "r(x,y,n)"}, {'r', 0, true, "r(n,y)"},
        {'r', 1, true, "r(x,n)"},   {'b', -1, false, "r(x,y)"}, {'r', -1, false, "r(x,y)"}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.kind) + std::to_string(c.at));
        VelkDocument doc;
        doc.Parse("<r><x/><y/></r><o/>");
        VelkElement* r = doc.FirstChildElement();
        VelkNode* at = c.at < 0 ? doc.LastChild() : r->FirstChild();
        if (c.at == 1) at = at->NextSibling();
        std::unique_ptr<VelkElement> n(new VelkElement("n"));
        VelkElement* raw = n.get();
        VelkElement* got = c.kind == 'e'   ? r->LinkEndChild(std::move(n))
                           : c.kind == 'b' ? r->InsertBeforeChild(at, std::move(n))
                           : c.kind == 'a' ? r->InsertAfterChild(at, std::move(n))
                                           : r->ReplaceChild(at, std::move(n));
        EXPECT_EQ(got, c.linked ? raw : nullptr);
        EXPECT_EQ(n.get(), c.linked ? nullptr : raw);
        EXPECT_EQ(Shape(r), c.tree);
        EXPECT_EQ(CheckLinks(doc), "");
    }
    VelkElement e("e");
    EXPECT_EQ(e.LinkEndChild(std::unique_ptr<VelkNode>()), nullptr);
    std::unique_ptr<VelkNode> copy = e.CloneUnique();
    ASSERT_TRUE(copy);
    EXPECT_EQ(Shape(copy.get()), "e");
}

// Print to a string (appending) or a stream writes what Print writes to a FILE.
TEST(PrettyOutput, StringsAndStreamsGetTheFileBytes) {
    // One case per line: a document; the node printed (d the document, e its
    // first element, l its last child, f the element's first child) and the depth.
    // clang-format off
    const struct { const char* xml; char node; int depth; bool utf8; } cases[] = {
        {"<?xml version='1.0'?><!--c--><r a='1'><b>t</b><c/><!--d--><!x y>text &amp; more</r>", 'd', 0, false},
        {"<r><b>t</b><c><d/></c></r>", 'e', 2, false},
        {"<r>caf\xC3\xA9 &#x263A;</r>", 'd', 0, true},
        {"<r>caf\xC3\xA9</r>", 'd', 1, false},
        {"<r><![CDATA[a<b]]></r>", 'f', 1, false},
        {"<r/><!--last-->", 'l', 3, false}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        VelkDocument doc;
        doc.SetUtf8(c.utf8);
        doc.Parse(c.xml);
        ASSERT_EQ(Status(doc), "ok");
        const VelkNode* node = c.node == 'd'   ? static_cast<const VelkNode*>(&doc)
                               : c.node == 'e' ? doc.FirstChildElement()
                               : c.node == 'l' ? doc.LastChild()
                                               : doc.FirstChildElement()->FirstChild();
        const std::string expected = PrettyText(*node, c.depth);
        ASSERT_FALSE(expected.empty());
        std::string appended = "[";
        node->Print(&appended, c.depth);
        std::ostringstream streamed;
        node->Print(streamed, c.depth);
        EXPECT_EQ(appended, "[" + expected);
        EXPECT_EQ(streamed.str(), expected);
    }
    VelkAttribute a("k", "say \"hi\"");
    std::string attribute;
    a.Print(&attribute);
    EXPECT_EQ(attribute, PrettyText(a));
}

TEST(ElementText, IsTheFirstTextChild) {
    // One case per line; text null: no text child.
    // clang-format off
    const struct { const char* xml; const char* text; } cases[] = {
        {"<a>hi</a>", "hi"}, {"<a/>", nullptr}, {"<a><!--c-->x<b/>y</a>", "x"},
        {"<a><b>y</b></a>", nullptr}, {"<a><b>y</b>z</a>", "z"}, {"<a><![CDATA[<c>]]></a>", "<c>"}};
    // clang-format on
    for (const auto& c : cases) {
        VelkDocument doc;
        doc.Parse(c.xml);
        EXPECT_STREQ(doc.FirstChildElement()->Text(), c.text) << c.xml;
    }
}

// Each typed setter stores the text that reads back as the same value.
TEST(TypedAttributes, SettersWriteTheValue) {
    VelkElement e("e");
    const std::string name = "n";
    // clang-format off
    const struct { void (*set)(VelkElement&); const char* text; } cases[] = {
        {[](VelkElement& x) { x.SetAttribute("n", 1.5); }, "1.5"},
        {[](VelkElement& x) { x.SetAttribute("n", 0.1); }, "0.1"},
        {[](VelkElement& x) { x.SetAttribute("n", 1e20); }, "1e+20"},
        {[](VelkElement& x) { x.SetAttribute("n", -2.0); }, "-2"},
        {[](VelkElement& x) { x.SetAttribute("n", 0.1f); }, "0.1"},
        {[](VelkElement& x) { x.SetAttribute("n", true); }, "true"},
        {[](VelkElement& x) { x.SetAttribute(std::string("n"), false); }, "false"},
        {[](VelkElement& x) { x.SetAttribute("n", 7); }, "7"},
        {[](VelkElement& x) { x.SetAttribute("n", 7u); }, "7"},
        {[](VelkElement& x) { x.SetAttribute("n", std::numeric_limits<std::int64_t>::min()); }, "-9223372036854775808"},
        {[](VelkElement& x) { x.SetAttribute(std::string_view("n"), std::numeric_limits<std::uint64_t>::max()); }, "18446744073709551615"},
        {[](VelkElement& x) { x.SetAttribute("n", static_cast<short>(-3)); }, "-3"}};
    // clang-format on
    for (const auto& c : cases) {
        c.set(e);
        EXPECT_STREQ(e.Attribute(name), c.text);
        EXPECT_EQ(e.FirstAttribute(), e.LastAttribute());
    }
}

// The typed getters read the whole value (white space around it aside) or give the default.
TEST(TypedAttributes, GettersReadWholeValuesOrGiveTheDefault) {
    constexpr int kNo = 77;  // the default, for every type
    // One case per line; text null: no such attribute.
    // clang-format off
    const struct { const char* text; int i; std::int64_t i64; std::uint64_t u64; double d; int b; } cases[] = {
        {"12",  12, 12, 12, 12.0, kNo},          {" 12\n", 12, 12, 12, 12.0, kNo},
        {"-1",  -1, -1, kNo, -1.0, kNo},         {"+5", 5, 5, 5, 5.0, kNo},
        {"12abc", kNo, kNo, kNo, kNo, kNo},      {"", kNo, kNo, kNo, kNo, kNo},
        {"1.5", kNo, kNo, kNo, 1.5, kNo},        {"1e3", kNo, kNo, kNo, 1000.0, kNo},
        {"4294967296", kNo, 4294967296LL, 4294967296ULL, 4294967296.0, kNo},
        {"18446744073709551615", kNo, kNo, 18446744073709551615ULL, 18446744073709551615.0, kNo},
        {"1",   1, 1, 1, 1.0, 1},                {"0", 0, 0, 0, 0.0, 0},
        {"true", kNo, kNo, kNo, kNo, 1},         {" false ", kNo, kNo, kNo, kNo, 0},
        {"TRUE", kNo, kNo, kNo, kNo, kNo},       {"+-1", kNo, kNo, kNo, kNo, kNo},
        {nullptr, kNo, kNo, kNo, kNo, kNo}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "missing");
        VelkElement e("e");
        if (c.text) e.SetAttribute("n", c.text);
        EXPECT_EQ(e.IntAttribute("n", kNo), c.i);
        EXPECT_EQ(e.Int64Attribute(std::string("n"), kNo), c.i64);
        EXPECT_EQ(e.Uint64Attribute("n", kNo), c.u64);
        EXPECT_EQ(e.DoubleAttribute("n", kNo), c.d);
        EXPECT_EQ(e.BoolAttribute("n", true), c.b == kNo ? true : c.b == 1);
        EXPECT_EQ(e.BoolAttribute("n", false), c.b == kNo ? false : c.b == 1);
    }
}

// A document condenses as it chose, or as the global switch stands when its
// parse starts if it chose nothing; a clone keeps the choice.
TEST(Condensing, ChosenPerDocumentOrByTheGlobalSwitch) {
    // One case per line; choice: -1 none, 0 off, 1 on.
    // clang-format off
    const struct { bool global; int choice; const char* text; } cases[] = {
        {true, -1, "a b"}, {false, -1, " a \n b "}, {true, 0, " a \n b "},
        {false, 1, "a b"}, {true, 1, "a b"},        {false, 0, " a \n b "}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.global) + std::to_string(c.choice));
        Condensing global(c.global);
        VelkDocument doc;
        if (c.choice >= 0) doc.SetCondenseWhiteSpace(c.choice == 1);
        EXPECT_EQ(doc.CondenseWhiteSpace(), c.choice < 0 ? c.global : c.choice == 1);
        std::unique_ptr<VelkNode> copy = doc.CloneUnique();
        VelkDocument& clone = *copy->ToDocument();
        VelkBase::condenseWhiteSpace = !c.global;  // only a document that chose nothing follows
        EXPECT_EQ(clone.CondenseWhiteSpace(), c.choice < 0 ? !c.global : c.choice == 1);
        VelkBase::condenseWhiteSpace = c.global;
        doc.Parse("<r> a \n b </r>");
        EXPECT_STREQ(doc.FirstChildElement()->Text(), c.text);
        VelkDocument strict;  // the strict reader condenses as the document chose too
        strict.SetStrict(true);
        if (c.choice >= 0) strict.SetCondenseWhiteSpace(c.choice == 1);
        strict.Parse("<r> a \n b </r>");
        EXPECT_STREQ(strict.FirstChildElement()->Text(), c.text);
    }
}

// A document that chose never reads the global switch, so another thread may
// change it meanwhile (ThreadSanitizer checks that no parse reads it).
TEST(Condensing, ADocumentsChoiceHoldsWhileAnotherThreadFlipsTheGlobal) {
    Condensing restore(true);
    std::atomic<bool> done{false};
    std::thread flipper([&] {
        for (bool on = false; !done.load(std::memory_order_relaxed); on = !on)
            VelkBase::condenseWhiteSpace = on;
    });
    int wrong = 0;
    for (int i = 0; i < 2000; ++i) {
        VelkDocument kept, condensed;
        kept.SetCondenseWhiteSpace(false);
        condensed.SetCondenseWhiteSpace(true);
        kept.Parse("<r> a  b <e/>  c </r>");
        condensed.Parse("<r> a  b <e/>  c </r>");
        wrong += Compact(kept) != "<r> a  b <e />  c </r>";
        wrong += Compact(condensed) != "<r>a b<e />c</r>";
    }
    done = true;
    flipper.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
