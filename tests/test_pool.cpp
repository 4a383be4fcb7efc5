// Where nodes and attributes live: objects outlive the document whose parse
// made them and may be deleted by any thread; they sit at the alignment their
// class needs; subclasses are deleted as their class deletes them, whoever
// deletes them; memory goes back (a bounded spare, a library unloaded, a
// forked child); moved documents keep their links; and under AddressSanitizer
// a use after delete or an overflow into a neighbour is still reported.
#include <dlfcn.h>
#include <emmintrin.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Velk/base/velk.h"
#include "test_util.h"

#if defined(__SANITIZE_ADDRESS__)
#define VELK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELK_TEST_ASAN 1
#endif
#endif

using namespace TAVARO;
using velk_test::Compact;
using velk_test::HeapInUse;
using velk_test::OnValgrind;
using velk_test::Streamed;

namespace {

std::string Numbered(int count) {
    std::string text = "<r>";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        text += "<e i=\"" + n + "\">" + n + "</e>";
    }
    return text + "</r>";
}

TEST(Pool, NodesOutliveTheDocumentWhoseParseMadeThem) {
    VelkDocument keeper;
    {
        VelkDocument maker;
        maker.Parse(Numbered(100).c_str(), nullptr);
        keeper.LinkEndChild(maker.Identify("<b/>"));
    }
    VelkNode* b = keeper.FirstChild();
    ASSERT_NE(b, nullptr);
    b->Parse("<b y='2'>t</b>", nullptr);
    EXPECT_EQ(Compact(keeper), "<b y=\"2\">t</b>");
}

TEST(Pool, PartsOfATreeDeletedInAnyOrderLeaveTheRestWhole) {
    const int n = 3000;
    VelkDocument doc;
    doc.Parse(Numbered(n).c_str(), nullptr);
    VelkNode* r = doc.FirstChild();
    int i = 0;
    for (VelkNode* e = r->FirstChild(); e;) {
        VelkNode* next = e->NextSibling();
        if (i++ % 3 != 1) r->RemoveChild(e);
        e = next;
    }
    i = 1;
    for (VelkElement* e = r->FirstChildElement(); e; e = e->NextSiblingElement(), i += 3) {
        EXPECT_STREQ(e->Attribute("i"), std::to_string(i).c_str());
        EXPECT_STREQ(e->FirstChild()->Value(), std::to_string(i).c_str());
    }
    EXPECT_EQ(i, n + 1);
    doc.Clear();
    doc.Parse("<again/>", nullptr);
    EXPECT_EQ(Compact(doc), "<again />");
}

// One thread parses nodes out of a document while two others delete the ones
// parsed so far, so that a slab still being filled loses objects to other
// threads; the same with nodes made by a caller, which live on the heap.
TEST(PoolThreads, NodesMayBeDeletedByAnyThread) {
    const int n = 20000;
    for (bool parsed : {true, false}) {
        SCOPED_TRACE(parsed ? "parsed" : "made with new");
        std::vector<VelkNode*> made(n);
        std::atomic<int> ready{0};
        auto deleteEvery = [&](int first) {
            for (int i = first; i < n; i += 2) {
                while (ready.load(std::memory_order_acquire) <= i) std::this_thread::yield();
                EXPECT_EQ(made[i]->FirstChild()->SValue(), std::to_string(i));
                delete made[i];
            }
        };
        VelkDocument maker;
        std::thread making([&] {
            for (int i = 0; i < n; ++i) {
                const std::string text = "<e>" + std::to_string(i) + "</e>";
                if (parsed) {
                    made[i] = maker.Identify(text.c_str());
                    made[i]->Parse(text.c_str(), nullptr);
                } else {
                    made[i] = new VelkElement("e");
                    made[i]->LinkEndChild(new VelkText(std::to_string(i).c_str()));
                }
                ready.store(i + 1, std::memory_order_release);
            }
        });
        std::thread even(deleteEvery, 0), odd(deleteEvery, 1);
        making.join();
        even.join();
        odd.join();
    }

    VelkDocument* doc = new VelkDocument();
    doc->Parse(Numbered(1000).c_str(), nullptr);
    std::thread([doc] { delete doc; }).join();
}

TEST(Pool, AnObjectLargerThanASlabGetsOneOfItsOwn) {
    struct Large : VelkText {
        Large() : VelkText("large") {}
        char bytes[1 << 17] = {};
    };
    VelkElement root("r");
    Large* large = new Large();
    ASSERT_NE(large, nullptr);
    large->bytes[sizeof large->bytes - 1] = 1;
    root.LinkEndChild(large);
    root.LinkEndChild(new VelkText("small"));
    EXPECT_EQ(Compact(root), "<r>largesmall</r>");
}

// Names, values and texts up to fifteen bytes are kept inside their objects,
// longer ones in the document's slabs (parsed) or on the heap (set): every
// length around that limit reads back as written, after a parse, a value set
// from the string itself, a clone, and a value changed between the two kinds.
TEST(Pool, TextsOfEveryLengthAroundTheInsideLimitReadBackWhole) {
    for (size_t n : {1, 3, 4, 7, 8, 9, 14, 15, 16, 17, 31, 200}) {
        SCOPED_TRACE("length " + std::to_string(n));
        std::string name(n, 'n'), value;
        for (size_t i = 0; i < n; ++i) value += static_cast<char>('a' + i % 26);
        const std::string markup =
            "<" + name + " " + name + "=\"" + value + "\">" + value + "</" + name + ">";
        VelkDocument doc;
        doc.Parse(markup.c_str(), nullptr);
        ASSERT_FALSE(doc.Error());
        VelkElement* e = doc.FirstChildElement();
        EXPECT_EQ(e->SValue(), name);
        EXPECT_EQ(std::string(e->FirstAttribute()->Name()), name);
        EXPECT_EQ(std::string(e->Attribute(name.c_str())), value);
        EXPECT_EQ(e->FirstChild()->SValue(), value);

        e->SetValue(e->Value());
        e->FirstAttribute()->SetValue(e->FirstAttribute()->Value());
        e->FirstChild()->SetValue(e->FirstChild()->Value());
        EXPECT_EQ(Compact(doc), markup);
        VelkNode* copy = e->Clone();
        EXPECT_EQ(Compact(*copy), markup);
        delete copy;

        const std::string other = n > 15 ? "short" : std::string(40, 'x');
        e->FirstChild()->SetValue(other.c_str());
        EXPECT_EQ(e->FirstChild()->SValue(), other);
        e->FirstChild()->SetValue(value.c_str());
        EXPECT_EQ(Compact(doc), markup);
    }
}

// Subclasses whose members need 16 and 32 bytes: every one made with new sits
// at its alignment, and an aligned SSE store into it works. A parse places
// its nodes and attributes at the alignment of std::max_align_t.
struct WithVector : VelkText {
    WithVector() : VelkText("v") {}
    __m128i lanes;
    long double wide = 1.0L;
};
struct WithAligned32 : VelkElement {
    WithAligned32() : VelkElement("a") {}
    alignas(32) unsigned char block[32];
};

bool AlignedTo(const void* p, std::size_t alignment) {
    return reinterpret_cast<std::uintptr_t>(p) % alignment == 0;
}

TEST(Pool, ObjectsSitAtTheAlignmentTheirClassNeeds) {
    VelkElement root("r");
    for (int i = 0; i < 64; ++i) {
        WithVector* v = new WithVector();
        WithAligned32* a = new WithAligned32();
        ASSERT_TRUE(AlignedTo(&v->lanes, 16)) << i;
        ASSERT_TRUE(AlignedTo(&v->wide, alignof(long double))) << i;
        ASSERT_TRUE(AlignedTo(a->block, 32)) << i;
        _mm_store_si128(&v->lanes, _mm_set1_epi32(i));
        root.LinkEndChild(v);
        root.LinkEndChild(a);
        root.LinkEndChild(new VelkComment());  // a third size between them
    }
    VelkDocument doc;
    doc.Parse(Numbered(300).c_str(), nullptr);
    for (VelkElement* e = doc.FirstChildElement()->FirstChildElement(); e;
         e = e->NextSiblingElement()) {
        ASSERT_TRUE(AlignedTo(e, alignof(std::max_align_t)));
        ASSERT_TRUE(AlignedTo(e->FirstAttribute(), alignof(std::max_align_t)));
        ASSERT_TRUE(AlignedTo(e->FirstChild(), alignof(std::max_align_t)));
    }
}

// Records what a subclass's destructor sees, and how the subclass was given back.
struct Seen {
    int destroyed = 0, children = -1, attributes = -1, ownDeletes = 0;
};
Seen seen;

void See(const VelkElement& e) {
    ++seen.destroyed;
    seen.children = 0;
    for (const VelkNode* c = e.FirstChild(); c; c = c->NextSibling()) ++seen.children;
    seen.attributes = 0;
    for (const VelkAttribute* a = e.FirstAttribute(); a; a = a->Next()) ++seen.attributes;
}

// A second base in front of the element, so that the element's address is
// not the object's.
struct Mixin {
    virtual ~Mixin() {}
    long tag = 42;
};
struct Tagged : Mixin, VelkElement {
    Tagged() : VelkElement("tagged") {}
    ~Tagged() override { See(*this); }
};

// An element with its own allocation, from malloc.
struct OwnAllocated : VelkElement {
    OwnAllocated() : VelkElement("own") {}
    ~OwnAllocated() override { See(*this); }
    static void* operator new(std::size_t size) { return std::malloc(size); }
    static void operator delete(void* p) {
        ++seen.ownDeletes;
        std::free(p);
    }
};

// Each subclass, each way of deleting it: its destructor runs once, sees its
// two children and its attribute, and its own operator delete gives it back.
TEST(Pool, SubclassesAreDeletedAsTheirClassDeletesThemWhoeverDeletesThem) {
    const std::function<VelkElement*()> makers[] = {[] { return new Tagged(); },
                                                    [] { return new OwnAllocated(); }};
    // One case per way: what holds the subclass, and how it goes.
    const struct {
        const char* how;
        std::function<void(VelkDocument*, VelkNode* parent, VelkNode* child)> remove;
    } ways[] = {
        {"RemoveChild",
         [](VelkDocument*, VelkNode* parent, VelkNode* c) { parent->RemoveChild(c); }},
        {"ReplaceChild", [](VelkDocument*, VelkNode* parent,
                            VelkNode* c) { parent->ReplaceChild(c, VelkText("x")); }},
        {"Clear", [](VelkDocument*, VelkNode* parent, VelkNode*) { parent->Clear(); }},
        {"the parent deleted",
         [](VelkDocument*, VelkNode* parent, VelkNode*) { parent->Parent()->RemoveChild(parent); }},
        {"the document deleted", [](VelkDocument* doc, VelkNode*, VelkNode*) { delete doc; }},
    };
    for (const auto& make : makers) {
        for (const auto& way : ways) {
            SCOPED_TRACE(way.how);
            VelkDocument* doc = new VelkDocument();
            doc->Parse("<r><before/></r>", nullptr);
            VelkNode* parent = doc->FirstChild();
            VelkElement* sub = make();
            sub->SetAttribute("a", "1");
            sub->LinkEndChild(new VelkText("one"));
            sub->LinkEndChild(new VelkElement("two"));
            parent->LinkEndChild(sub);
            const bool own = sub->Value() == std::string("own");
            seen = Seen();
            way.remove(doc, parent, sub);
            EXPECT_EQ(seen.destroyed, 1);
            EXPECT_EQ(seen.children, 2);
            EXPECT_EQ(seen.attributes, 1);
            EXPECT_EQ(seen.ownDeletes, own ? 1 : 0);
            if (std::string(way.how) != "the document deleted") delete doc;
        }
    }
}

// With callers' nodes on the general heap, a few kept among many deleted hold
// about their own size, not the slabs around them; a deleted document leaves
// at most the spare limit behind, which a caller can lower or flush.
TEST(Pool, MemoryGoesBackWhenItsObjectsAreDeleted) {
    if (OnValgrind()) GTEST_SKIP() << "valgrind's allocator keeps no count to read";
    VelkBase::ReleaseSpareMemory();
    std::size_t before = HeapInUse();
    std::vector<VelkElement*> kept;
    for (int i = 0; i < 60000; ++i) {
        VelkElement* e = new VelkElement("made");
        if (i % 600 == 0) {
            kept.push_back(e);
        } else {
            delete e;
        }
    }
    EXPECT_LT(HeapInUse() - before, 100 * 4 * sizeof(VelkElement) + kept.capacity() * 8);
    for (VelkElement* e : kept) delete e;

    EXPECT_EQ(VelkBase::SpareMemoryLimit(), std::size_t{4} << 20);
    const std::string text = Numbered(100000);
    before = HeapInUse();
    {
        VelkDocument doc;
        doc.Parse(text.c_str(), nullptr);
        EXPECT_GT(HeapInUse() - before, std::size_t{16} << 20) << "the tree outgrows the spare";
    }
    // The spare slabs, each with its allocator's header.
    EXPECT_LE(HeapInUse() - before, VelkBase::SpareMemoryLimit() + 64 * 64);
    EXPECT_EQ(VelkBase::SpareMemory(), VelkBase::SpareMemoryLimit());

    VelkBase::SetSpareMemoryLimit(1 << 20);
    EXPECT_EQ(VelkBase::SpareMemory(), std::size_t{1} << 20);
    VelkBase::ReleaseSpareMemory();
    EXPECT_EQ(VelkBase::SpareMemory(), 0u);
    EXPECT_EQ(HeapInUse(), before);
    VelkBase::SetSpareMemoryLimit(std::size_t{4} << 20);
}

// A node that outlives the document whose parse made it keeps no pointer to
// it: its attributes still write in that document's character model.
TEST(Pool, AnElementOutlivesItsDocumentAttributesIncluded) {
    const char text[] = "<e a='caf\xC3\xA9'/>";
    VelkDocument keeper;
    VelkDocument* maker = new VelkDocument();
    maker->SetUtf8(true);
    VelkNode* e = maker->Identify(text);
    ASSERT_NE(e, nullptr);
    e->Parse(text, nullptr);
    keeper.LinkEndChild(e);
    delete maker;
    EXPECT_EQ(Streamed(*e->ToElement()->FirstAttribute()), "a=\"caf\xC3\xA9\"");
    VelkAttribute free("b", "\xC3\xA9");
    EXPECT_EQ(Streamed(free), "b=\"&#xC3;&#xA9;\"");
    free.SetDocument(&keeper);
    EXPECT_EQ(Streamed(free), "b=\"&#xC3;&#xA9;\"");
    keeper.SetUtf8(true);
    free.SetDocument(&keeper);
    EXPECT_EQ(Streamed(free), "b=\"\xC3\xA9\"");
}

TEST(Pool, EveryParseOfNullInputGivesNull) {
    VelkDocument doc;
    VelkElement element("e");
    VelkComment comment;
    VelkText text("t");
    VelkDeclaration declaration;
    VelkUnknown unknown;
    VelkAttribute attribute;
    for (VelkBase* item : std::initializer_list<VelkBase*>{&element, &comment, &text, &declaration,
                                                           &unknown, &attribute}) {
        EXPECT_EQ(item->Parse(nullptr, nullptr), nullptr);
    }
    EXPECT_EQ(doc.Parse(nullptr, nullptr), nullptr);
}

// Slabs filled to every last few bytes by objects and texts of every size
// near the end: each comes back as it was written, and the guard at the end
// of each slab is checked as the slab goes back (an object placed past the
// end stops the program there).
TEST(Pool, ObjectsNeverReachPastTheEndOfTheirSlab) {
    for (std::size_t n = 16; n < 80; ++n) {
        std::string text = "<r>", longText(n, 'x');
        for (int i = 0; i < 200; ++i) {
            longText[i % n] = static_cast<char>('a' + i % 26);
            text += "<e a='" + longText + "'>" + longText + "</e>";
        }
        text += "</r>";
        VelkDocument doc;
        doc.Parse(text.c_str(), nullptr);
        ASSERT_FALSE(doc.Error());
        std::string read = "<r>";
        for (VelkElement* e = doc.FirstChildElement()->FirstChildElement(); e;
             e = e->NextSiblingElement())
            read += "<e a='" + std::string(e->Attribute("a")) + "'>" + e->FirstChild()->SValue() +
                    "</e>";
        ASSERT_EQ(read + "</r>", text) << n;
    }
}

// Documents move: the nodes follow, every link right, the one moved from is
// empty and usable, and documents can be returned and kept in a vector.
VelkDocument Parsed(const std::string& text) {
    VelkDocument doc("named.xml");
    doc.Parse(text.c_str(), nullptr);
    return doc;
}

void ExpectLinksTo(const VelkDocument& doc) {
    for (const VelkNode* top = doc.FirstChild(); top; top = top->NextSibling()) {
        EXPECT_EQ(top->Parent(), &doc);
        EXPECT_EQ(top->GetDocument(), &doc);
    }
    const VelkElement* r = doc.FirstChildElement();
    ASSERT_NE(r, nullptr);
    for (const VelkElement* e = r->FirstChildElement(); e; e = e->NextSiblingElement())
        EXPECT_EQ(e->FirstChild()->GetDocument(), &doc);
}

TEST(Pool, DocumentsMoveWithTheirNodes) {
    std::vector<VelkDocument> docs;
    for (int i = 0; i < 20; ++i) docs.push_back(Parsed("<!--c-->" + Numbered(i + 1)));
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(docs[i].Value(), "named.xml");
        EXPECT_EQ(Compact(docs[i]), "<!--c-->" + Numbered(i + 1));
        ExpectLinksTo(docs[i]);
    }

    VelkDocument moved(std::move(docs[3]));
    EXPECT_EQ(docs[3].FirstChild(), nullptr);
    EXPECT_STREQ(docs[3].Value(), "");
    docs[3].Parse("<again/>", nullptr);
    EXPECT_EQ(Compact(docs[3]), "<again />");
    ExpectLinksTo(moved);
    moved.FirstChildElement()->SetAttribute("added", "later");
    moved.FirstChildElement()->LinkEndChild(moved.Identify("<late/>"))->Parse("<late/>", nullptr);
    EXPECT_EQ(Compact(moved),
              "<!--c--><r added=\"later\"><e i=\"0\">0</e><e i=\"1\">1</e>"
              "<e i=\"2\">2</e><e i=\"3\">3</e><late /></r>");

    VelkDocument failed;
    failed.SetUtf8(true);
    failed.Parse("<a></b>", nullptr);
    moved = std::move(failed);
    EXPECT_EQ(moved.ErrorCode(), VELK_ERROR_END_TAG);
    EXPECT_TRUE(moved.Utf8());
    EXPECT_EQ(Compact(moved), "<a />");
    EXPECT_FALSE(failed.Error());
    VelkDocument& self = moved;
    moved = std::move(self);
    EXPECT_EQ(Compact(moved), "<a />");

    // The reading chosen goes along, by either kind of move.
    velkcheck::Condensing global(true);
    VelkDocument chosen;
    chosen.SetStrict(true);
    chosen.SetCondenseWhiteSpace(false);
    VelkDocument constructed(std::move(chosen));
    EXPECT_TRUE(constructed.Strict());
    EXPECT_FALSE(constructed.CondenseWhiteSpace());
    moved = std::move(constructed);
    EXPECT_TRUE(moved.Strict());
    EXPECT_FALSE(moved.CondenseWhiteSpace());
    moved.Parse("<a> x  y </a><b/>");
    EXPECT_EQ(moved.ErrorCode(), VELK_ERROR_MULTIPLE_ROOTS);
    EXPECT_STREQ(moved.FirstChildElement()->Text(), " x  y ");
}

// The spare slabs go back when the library is unloaded: a plugin that carries
// its own copy of the library parses a document in each of five loads, and the
// heap in use does not grow from one load to the next.
TEST(Pool, UnloadingTheLibraryGivesItsSpareSlabsBack) {
    if (OnValgrind()) GTEST_SKIP() << "valgrind's allocator keeps no count to read";
    std::size_t first = 0;
    for (int load = 0; load < 5; ++load) {
        void* plugin = dlopen(VELK_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(plugin, nullptr) << dlerror();
        auto parse = reinterpret_cast<int (*)(int)>(dlsym(plugin, "velk_plugin_parse"));
        ASSERT_NE(parse, nullptr);
        EXPECT_EQ(parse(100000), 100000);
        ASSERT_EQ(dlclose(plugin), 0);
        if (load == 0) first = HeapInUse();
    }
    EXPECT_LT(HeapInUse(), first + (std::size_t{1} << 20));
}

// A caller's thread_local that is destroyed after everything else in its
// thread may still make and delete nodes, and nothing is lost.
struct LateMaker {
    ~LateMaker() {
        VelkDocument doc;
        doc.Parse(Numbered(50).c_str(), nullptr);
        delete new VelkElement("late");
    }
};

TEST(PoolThreads, NodesMadeInAThreadLocalDestructorAreGivenBack) {
    if (OnValgrind()) GTEST_SKIP() << "valgrind's allocator keeps no count to read";
    auto run = [] {
        thread_local LateMaker late;
        static_cast<void>(&late);
        delete new VelkText("early");
        VelkDocument doc;
        doc.Parse(Numbered(10).c_str(), nullptr);
    };
    std::thread(run).join();
    VelkBase::ReleaseSpareMemory();
    const std::size_t before = HeapInUse();
    for (int i = 0; i < 100; ++i) std::thread(run).join();
    VelkBase::ReleaseSpareMemory();
    EXPECT_LT(HeapInUse(), before + 16 * 1024);
}

// Threads parse, delete and share the spare slabs at once; the trees stay whole.
TEST(PoolThreads, ParallelParsesShareTheSpareSlabs) {
    const std::string text = Numbered(3000);
    VelkDocument first;
    first.Parse(text.c_str(), nullptr);
    const std::string expected = Compact(first);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 10; ++round) {
                VelkDocument doc;
                doc.Parse(text.c_str(), nullptr);
                if (Compact(doc) != expected) ++wrong;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

// A child forked while other threads take and give back slabs can always
// allocate: no lock of the library's is held across the fork.
TEST(PoolThreads, AForkedChildCanAlwaysAllocate) {
#ifdef VELK_TEST_ASAN
    // The sanitizer's allocator takes a lock of its own that a fork can leave
    // held in the child (seen with GCC 12): the Release and ThreadSanitizer
    // runs check this one.
    GTEST_SKIP() << "AddressSanitizer's allocator is not fork-safe";
#endif
    if (OnValgrind())
        GTEST_SKIP() << "valgrind runs one thread at a time: slow, and checks nothing more";
    const std::string text = Numbered(2000);
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int t = 0; t < 2; ++t) {
        busy.emplace_back([&] {
            std::vector<VelkNode*> made(2000);
            while (!stop) {
                VelkDocument doc;
                doc.Parse(text.c_str(), nullptr);
                for (VelkNode*& node : made) node = new VelkText("made by a caller");
                for (VelkNode* node : made) delete node;
            }
        });
    }
    int hung = 0, failed = 0;
    for (int i = 0; i < 100; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            VelkDocument doc;
            doc.Parse(text.c_str(), nullptr);
            _exit(doc.Error() ? 1 : 0);
        }
        ASSERT_GT(child, 0);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                ++hung;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
    }
    stop = true;
    for (std::thread& t : busy) t.join();
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(failed, 0);
}

// Misuses that AddressSanitizer reports when every object has its own
// allocation, and must still report with objects side by side in slabs.
TEST(PoolDeathTest, UseAfterDeleteAndOverflowAreReported) {
#ifndef VELK_TEST_ASAN
    GTEST_SKIP() << "needs a build with AddressSanitizer";
#else
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    VelkDocument doc;
    doc.Parse("<r><a x='1'>one</a><b>two</b></r>", nullptr);
    VelkElement* a = doc.FirstChildElement()->FirstChildElement();
    // A parsed node read after RemoveChild, a node made with new (on the
    // heap) read after delete, a write one byte past a parsed node, a long parsed text (kept in
    // a slot of its own) read after its node is deleted.
    EXPECT_DEATH(
        {
            doc.FirstChild()->RemoveChild(a);
            std::printf("%s\n", a->Value());
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            VelkElement* e = new VelkElement("e");
            delete e;
            std::printf("%s\n", e->Value());
        },
        "heap-use-after-free");
    EXPECT_DEATH(reinterpret_cast<volatile char*>(a)[sizeof(VelkElement)] = 0, "use-after-poison");
    EXPECT_DEATH(
        {
            VelkDocument texts;
            texts.Parse("<r>a text too long to be kept inside its node</r>", nullptr);
            VelkNode* r = texts.FirstChild();
            const char* text = r->FirstChild()->Value();
            r->RemoveChild(r->FirstChild());
            std::printf("%s\n", text);
        },
        "use-after-poison");
    // A node read after its document is deleted, its slab kept as a spare.
    EXPECT_DEATH(
        {
            VelkDocument* big = new VelkDocument();
            big->Parse(Numbered(2000).c_str(), nullptr);
            VelkNode* last = big->FirstChild()->LastChild();
            delete big;
            if (VelkBase::SpareMemory() == 0) std::abort();
            std::printf("%s\n", last->Value());
        },
        "use-after-poison");
#endif
}

}  // namespace
