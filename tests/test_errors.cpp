// The error messages; allocation failures while parsing (each allocation of a
// parse failing in turn), setting an attribute and cloning; a document's error
// state; and the debug checks that stop misuse.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

// Allocation counting and failure injection. Every block from the global
// operator new is counted while it lives (HeapInUse). While armed, the given number of allocations
// succeed and the next one fails. allocationsBeforeFailure counts the
// non-throwing allocations, with which the library takes the slabs that hold
// its nodes and attributes; allocationsBeforeThrow counts every allocation,
// non-throwing ones too (which then give null), and makes the throwing ones
// throw, as a parse's scratch texts and indexes meet it.
namespace {
std::atomic<int> allocationsBeforeFailure{-1};
std::atomic<int> nothrowAllocations{0};
std::atomic<int> allocationsBeforeThrow{-1};
std::atomic<int> allocations{0};
std::atomic<std::size_t> liveBytes{0};

// Whether the allocation counted down by before fails now.
bool FailsNow(std::atomic<int>& before) {
    if (before.load(std::memory_order_relaxed) < 0) return false;
    if (before.fetch_sub(1, std::memory_order_relaxed) != 0) return false;
    before.store(-1, std::memory_order_relaxed);
    return true;
}
}  // namespace

// The replacements take blocks from malloc and give them back with free. They
// are never inlined, so that valgrind, which puts its own in their place,
// replaces every call to them; an optimising compiler that sees them inlined
// would otherwise take free for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

[[gnu::noinline]] void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (FailsNow(allocationsBeforeThrow)) throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    liveBytes.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    return p;
}

[[gnu::noinline]] void operator delete(void* p) noexcept {
    if (!p) return;
    liveBytes.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
    std::free(p);
}

[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    ::operator delete(p);
}

[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    nothrowAllocations.fetch_add(1, std::memory_order_relaxed);
    if (FailsNow(allocationsBeforeFailure)) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept {
    ::operator delete(p);
}

std::size_t velk_test::HeapInUse() {
    return liveBytes.load(std::memory_order_relaxed);
}

namespace {

// Whether the injection above is in force: valgrind replaces operator new
// with its own for the library, and then no allocation can be made to fail.
bool CanInjectAllocationFailures() {
    return !OnValgrind();
}

// Codes 0 to 14 keep their numbers and messages; every later code has a
// message of its own that says it is an error.
TEST(Errors, EachCodeHasItsMessage) {
    // clang-format off
    const char* const kept[] = {"No error", "Error", "Failed to open file",
        "Memory allocation failed.", "Error parsing Element.", "Failed to read Element name",
        "Error reading Element value.", "Error reading Attributes.", "Error: empty tag.",
        "Error reading end tag.", "Error parsing Unknown.", "Error parsing Comment.",
        "Error parsing Declaration.", "Error document empty.",
        "Error: text outside the document element."};
    // clang-format on
    for (int code = 0; code < VELK_ERROR_STRING_COUNT; ++code) {
        const std::string message = VelkBase::errorString[code];
        if (code < int{sizeof kept / sizeof kept[0]}) {
            EXPECT_EQ(message, kept[code]) << "code " << code;
            continue;
        }
        EXPECT_EQ(message.rfind("Error: ", 0), 0u) << "code " << code;
        for (int other = 0; other < code; ++other)
            EXPECT_NE(message, VelkBase::errorString[other]) << "codes " << other << ", " << code;
    }
}

// An attribute whose allocation fails is not added, and error 3 is recorded
// without a position.
TEST(Errors, FailedSetAttributeRecordsErrorThree) {
    if (!CanInjectAllocationFailures()) GTEST_SKIP() << "running under valgrind";
    VelkDocument doc;
    VelkElement* e = AddElement(&doc, "e");
    std::string name;
    allocationsBeforeFailure = 0;
    for (int i = 0; allocationsBeforeFailure == 0 && i < 1000000; ++i) {
        name = "n" + std::to_string(i);
        e->SetAttribute(name.c_str(), "v");
    }
    allocationsBeforeFailure = -1;
    EXPECT_EQ(e->Attribute(name.c_str()), nullptr);
    EXPECT_EQ(Status(doc), "3@-1:-1");
}

// Parses input once for each allocation that its parse makes, with that one
// failing: each time error 3 is recorded, and check(doc, failing) looks at what
// was read before. Every document lives to the end, so that no slab is freed
// and kept for reuse: each parse allocates as the first one did.
template <class Check>
void StarveEachAllocation(const std::string& input, Check check) {
    if (!CanInjectAllocationFailures()) GTEST_SKIP() << "running under valgrind";
    const int before = nothrowAllocations;
    VelkDocument whole;
    whole.Parse(input.c_str(), nullptr);
    ASSERT_FALSE(whole.Error());
    const int count = nothrowAllocations - before;
    ASSERT_GT(count, 2) << "the input fills several slabs";
    std::vector<std::unique_ptr<VelkDocument>> docs;
    for (int failing = 0; failing < count; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing));
        docs.emplace_back(new VelkDocument());
        VelkDocument& doc = *docs.back();
        allocationsBeforeFailure = failing;
        doc.Parse(input.c_str(), nullptr);
        allocationsBeforeFailure = -1;
        EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_ALLOCATION);
        check(doc, failing);
    }
}

TEST(Errors, FailedAttributeAllocationKeepsTheAttributesBefore) {
    const int n = 2000;
    std::string input = "<a";
    std::vector<int> gaps;  // where the white space before each attribute begins
    for (int i = 0; i < n; ++i) {
        gaps.push_back(static_cast<int>(input.size()));
        input += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    }
    input += "/>";
    StarveEachAllocation(input, [&](const VelkDocument& doc, int failing) {
        const VelkElement* a = doc.FirstChildElement();
        ASSERT_EQ(a == nullptr, failing == 0) << "only the first slab holds the element";
        if (!a) return;
        int kept = 0;
        for (const VelkAttribute* x = a->FirstAttribute(); x; x = x->Next(), ++kept) {
            EXPECT_EQ(std::string(x->Name()), "a" + std::to_string(kept));
            EXPECT_EQ(std::string(x->Value()), std::to_string(kept));
        }
        ASSERT_LT(kept, n);
        EXPECT_EQ(doc.ErrorCursor().row, 0);
        EXPECT_EQ(doc.ErrorCursor().col, gaps[kept]);
    });
}

TEST(Errors, FailedChildAllocationKeepsTheChildrenBefore) {
    const int n = 2000;
    std::string input = "<r>";
    for (int i = 0; i < n; ++i) input += "t" + std::to_string(i) + "<e/>";
    input += "</r>";
    StarveEachAllocation(input, [&](const VelkDocument& doc, int failing) {
        EXPECT_EQ(doc.ErrorCursor().row, -1);
        EXPECT_EQ(doc.ErrorCursor().col, -1);
        const VelkElement* r = doc.FirstChildElement();
        ASSERT_EQ(r == nullptr, failing == 0) << "only the first slab holds the root";
        if (!r) return;
        int kept = 0;
        for (const VelkNode* child = r->FirstChild(); child; child = child->NextSibling()) {
            const std::string expected = kept % 2 ? "e" : "t" + std::to_string(kept / 2);
            EXPECT_EQ(child->SValue(), expected);
            EXPECT_EQ(child->Type(), kept % 2 ? VelkNode::ELEMENT : VelkNode::TEXT);
            ++kept;
        }
        EXPECT_LT(kept, 2 * n);
    });
}

// Every allocation of a parse fails in turn, whichever allocator makes it: the
// slabs and heap texts (null from the non-throwing form) and the scratch
// texts, attribute index and error message (bad_alloc from the throwing
// form). Each parse records error 3, lets nothing out and, once its document
// is deleted and the spare slabs are given back, holds no memory. Each entry
// point of a parse is tried: a document, a node of a document, a stream.
TEST(Errors, AnAllocationFailingAnywhereInAParseIsErrorThreeAndLeaksNothing) {
    if (!CanInjectAllocationFailures()) GTEST_SKIP() << "running under valgrind";
    std::string input = "<?xml version='1.0' encoding='UTF-8'?><!-- a comment long enough -->";
    input += "<r";
    for (int i = 0; i < 40; ++i)
        input += " attribute" + std::to_string(i) + "='a value long enough &amp; more " +
                 std::to_string(i) + "'";
    input += ">";
    for (int i = 0; i < 300; ++i)
        input += "<e k='" + std::to_string(i) + "'>text &lt;" + std::to_string(i) +
                 "&gt; long enough to leave the node</e><![CDATA[<raw>]]><!DOCTYPE x>";
    input += "</r>";
    // The same for the strict reader, which wants XML: its scratch text grows
    // with references and line ends, and a tag of many attributes indexes them.
    std::string xml = "<?xml version='1.0' encoding='UTF-8'?><!DOCTYPE r><!-- a comment -->";
    xml += input.substr(input.find("<r"), input.find("<e") - input.find("<r"));
    for (int i = 0; i < 1000; ++i) xml += "<element-named-at-length/>";
    for (int i = 0; i < 300; ++i)
        xml += "<element-named-at-length k='" + std::to_string(i) + "&#x41;'>text &lt;" +
               std::to_string(i) +
               "&gt; long enough\r\nto leave the node</element-named-at-length>"
               "<![CDATA[<raw>]]><?pi data?>";
    xml += "</r>";
    // And a DOCTYPE whose entities expand to text and to markup, whose
    // declared attributes are added and normalised, read both ways.
    std::string dtd =
        "<!DOCTYPE r [<!ENTITY t 'an entity text long enough to be kept'>"
        "<!ENTITY m '<b x=\"1\">markup &t;</b> and the text after the markup'>"
        "<!ATTLIST e d CDATA 'a declared default long enough' k NMTOKENS #IMPLIED>]><r>";
    for (int i = 0; i < 100; ++i)
        dtd += "<e k='  token" + std::to_string(i) +
               "   another-token  '>x &t; y &m; then text joined to it</e>";
    dtd += "</r>";
    const auto strict = [](VelkDocument& doc, std::istringstream&) { doc.SetStrict(true); };
    const auto utf8 = [](VelkDocument& doc, std::istringstream&) { doc.SetUtf8(true); };
    const std::string file = TempPath("all_allocations.xml");
    ASSERT_TRUE(WriteFile(file, xml));
    // What is made before the failures are armed, and the parse.
    struct Entry {
        std::function<void(VelkDocument&, std::istringstream&)> setUp, parse;
    };
    const Entry entries[] = {
        {[](VelkDocument&, std::istringstream&) {},
         [&](VelkDocument& doc, std::istringstream&) { doc.Parse(input.c_str(), nullptr); }},
        {[](VelkDocument& doc, std::istringstream&) { doc.LinkEndChild(new VelkElement("r")); },
         [&](VelkDocument& doc, std::istringstream&) {
             doc.FirstChild()->Parse(input.c_str() + input.find("<r"), nullptr);
         }},
        {[&](VelkDocument&, std::istringstream& in) { in.str(input); },
         [](VelkDocument& doc, std::istringstream& in) { in >> doc; }},
        {strict, [&](VelkDocument& doc, std::istringstream&) { doc.Parse(xml.c_str(), nullptr); }},
        {[&](VelkDocument& doc, std::istringstream& in) {
             doc.SetStrict(true);
             in.str(xml);
         },
         [](VelkDocument& doc, std::istringstream& in) { in >> doc; }},
        {strict, [&](VelkDocument& doc, std::istringstream&) { doc.LoadFile(file.c_str()); }},
        {utf8, [&](VelkDocument& doc, std::istringstream&) { doc.Parse(dtd.c_str(), nullptr); }},
        {strict, [&](VelkDocument& doc, std::istringstream&) { doc.Parse(dtd.c_str(), nullptr); }}};
    for (const Entry& entry : entries) {
        VelkBase::ReleaseSpareMemory();
        int count;
        {
            VelkDocument whole;
            std::istringstream in;
            entry.setUp(whole, in);
            const int before = allocations;
            entry.parse(whole, in);
            count = allocations - before;
            ASSERT_FALSE(whole.Error()) << whole.ErrorMessage();
        }
        ASSERT_GT(count, 10);
        for (int failing = 0; failing < count; ++failing) {
            VelkBase::ReleaseSpareMemory();
            const std::size_t heap = HeapInUse();
            {
                VelkDocument doc;
                std::istringstream in;
                entry.setUp(doc, in);
                allocationsBeforeThrow = failing;
                entry.parse(doc, in);
                const bool injected = allocationsBeforeThrow == -1;
                allocationsBeforeThrow = -1;
                EXPECT_TRUE(injected) << "allocation " << failing;
                EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_ALLOCATION) << "allocation " << failing;
            }
            VelkBase::ReleaseSpareMemory();
            EXPECT_EQ(HeapInUse(), heap) << "allocation " << failing;
        }
    }
    std::remove(file.c_str());
}

// Memory running out in a text that holds a NUL byte stays error 3: the NUL
// is reported only when the parse failed because of it.
TEST(Errors, AnAllocationFailingBeforeANulIsStillErrorThree) {
    if (!CanInjectAllocationFailures()) GTEST_SKIP() << "running under valgrind";
    const std::string text =
        std::string("<r a='&amp;") + std::string(40, 'v') + "'>x</r>" + '\0' + "<s/>";
    for (bool strict : {false, true}) {
        VelkDocument doc;
        doc.SetStrict(strict);
        doc.Parse(text.data(), text.size(), nullptr);
        EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_CHARACTER);
        allocationsBeforeThrow = 0;
        doc.Parse(text.data(), text.size(), nullptr);
        allocationsBeforeThrow = -1;
        EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_ALLOCATION) << "strict: " << strict;
    }
}

// A copy that cannot be completed is dropped whole: Clone gives null and frees
// what it had made (the leak checks of the sanitizer and valgrind runs find
// anything left over).
TEST(Errors, CloneGivesNullWhenAnAllocationFails) {
    if (!CanInjectAllocationFailures()) GTEST_SKIP() << "running under valgrind";
    VelkDocument doc;
    doc.Parse("<?xml version='1.0'?><!--c--><r a='1' b='2'><e x='1'>t</e><!--d--><e/></r><s/>",
              nullptr);
    ASSERT_EQ(Status(doc), "ok");
    int failed = 0;
    for (int succeeding = 0; succeeding < 100; ++succeeding) {
        // A new thread starts with no memory of its own, so that the clone allocates.
        std::unique_ptr<VelkNode> copy;
        allocationsBeforeFailure = succeeding;
        std::thread([&] { copy.reset(doc.Clone()); }).join();
        const bool injected = allocationsBeforeFailure == -1;
        allocationsBeforeFailure = -1;
        if (!injected) {
            ASSERT_NE(copy, nullptr);
            EXPECT_EQ(PrettyText(*copy), PrettyText(doc));
            break;
        }
        EXPECT_EQ(copy, nullptr) << "with allocation " << succeeding << " failing";
        ++failed;
    }
    EXPECT_GT(failed, 0) << "no allocation was made to fail";
}

TEST(ErrorState, TheFirstErrorStaysUntilCleared) {
    VelkDocument doc;
    EXPECT_EQ(Status(doc), "ok");
    doc.SetError(VELK_ERROR_OPEN_FILE, nullptr, nullptr);
    doc.SetError(VELK_ERROR_DOCUMENT_EMPTY, nullptr, nullptr);
    EXPECT_EQ(Status(doc), "2@-1:-1");
    doc.ClearError();
    EXPECT_EQ(Status(doc), "ok");
    EXPECT_EQ(doc.ErrorCursor().row, 0);
    EXPECT_EQ(doc.ErrorCursor().col, 0);
#ifdef NDEBUG
    // Without the debug check, a code outside the message table is not recorded.
    for (int code : {-1, 0, int{VELK_ERROR_STRING_COUNT}}) {
        VelkDocument outside;
        outside.SetError(code, nullptr, nullptr);
        EXPECT_EQ(Status(outside), "ok");
    }
#endif
}

TEST(ErrorState, AnErrorGetsAPositionOnlyWithBothPositionAndTracker) {
    const char text[] = "ab\ncd";
    VelkParsingData data(text, 4, 0, 0);
    VelkDocument positionOnly, trackerOnly, both;
    positionOnly.SetError(VELK_ERROR_PARSE_ELEMENT, text + 4, nullptr);
    trackerOnly.SetError(VELK_ERROR_PARSE_ELEMENT, nullptr, &data);
    both.SetError(VELK_ERROR_END_TAG, text + 4, &data);
    EXPECT_EQ(Status(positionOnly), "4@-1:-1");
    EXPECT_EQ(Status(trackerOnly), "4@-1:-1");
    EXPECT_EQ(Status(both), "9@1:1");
}

#ifndef NDEBUG
// Misuse stops a debug build with the unit, line, operation and the expression
// that failed.
TEST(DebugChecksDeathTest, MisuseStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    VelkElement root("r"), stranger("s");
    VelkNode* grandchild = AddElement(AddElement(&root, "a"), "g");
    VelkAttributeSet set;
    VelkAttribute first("a", "1"), second("a", "2");
    set.Add(&first);
    std::string name;
    char value;
    VelkParsingData data("a", 4, 0, 0);
    // One case per line.
    // clang-format off
    const std::string onStack = ": Assertion 'node on the stack: a tree deletes the nodes linked "
                                "into it, so link only nodes made with new'";
    const struct { std::function<void()> call; const char* unit; std::string message; } cases[] = {
        {[&] { root.RemoveChild(&stranger); }, "velk", "RemoveChild: Assertion '0'"},
        {[&] { root.LinkEndChild(&stranger); }, "velk", "LinkEndChild" + onStack},
        {[&] { root.InsertBeforeChild(root.FirstChild(), std::unique_ptr<VelkElement>(&stranger)); },
         "velk", "LinkBefore" + onStack},
        {[&] { root.InsertAfterChild(root.FirstChild(), std::unique_ptr<VelkElement>(&stranger)); },
         "velk", "LinkAfter" + onStack},
        {[&] { root.ReplaceChild(root.FirstChild(), std::unique_ptr<VelkElement>(&stranger)); },
         "velk", "LinkInPlaceOf" + onStack},
        {[&] { root.IterateChildren(grandchild); }, "velk",
         "IterateChildren: Assertion 'previous->parent == this'"},
        {[&] { set.Add(&second); }, "velk", "Add: Assertion '!Find\\( addMe->Name\\(\\) \\)'"},
        {[&] { set.Remove(&second); }, "velk", "Remove: Assertion '0'"},
        {[&] { VelkAttributeSet().Add(&second); }, "velk",
         "~VelkAttributeSet: Assertion '!first && !last'"},
        {[] { VelkDocument().SetError(VELK_ERROR_STRING_COUNT, nullptr, nullptr); }, "velkparser",
         "SetError: Assertion 'err > 0 && err < VELK_ERROR_STRING_COUNT'"},
        {[&] { VelkBase::ReadName(nullptr, &name); }, "velkparser", "ReadName: Assertion 'p'"},
        {[&] { VelkBase::GetChar(nullptr, &value); }, "velkparser", "GetChar: Assertion 'p'"},
        {[] { VelkBase::StringEqual(nullptr, "a", true); }, "velkparser", "StringEqual: Assertion 'p'"},
        {[] { VelkParsingData(nullptr, 4, 0, 0); }, "velkparser", "VelkParsingData: Assertion 'start'"},
        {[&] { data.Stamp(nullptr); }, "velkparser", "Stamp: Assertion 'now'"}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_DEATH(c.call(),
                     std::string("Velk/base/") + c.unit + ":[0-9]+: " + c.message + " failed\\.");
    set.Remove(&first);
}
#endif

}  // namespace
