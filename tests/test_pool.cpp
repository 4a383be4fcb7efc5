// The slab memory of nodes and attributes: objects outlive the document whose
// parse made them, may be deleted by any thread, and under AddressSanitizer a
// use after delete or an overflow into a neighbour is still reported.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
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

namespace {

std::string Numbered(int count) {
    std::string text = "<r>";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        text += "<e i='" + n + "'>" + n + "</e>";
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

// One thread makes nodes while two others delete the ones made so far, so
// that a slab still being filled loses objects to other threads.
TEST(Pool, NodesMayBeDeletedByAnyThread) {
    const int n = 20000;
    std::vector<VelkNode*> made(n);
    std::atomic<int> ready{0};
    auto deleteEvery = [&](int first) {
        for (int i = first; i < n; i += 2) {
            while (ready.load(std::memory_order_acquire) <= i) std::this_thread::yield();
            EXPECT_EQ(made[i]->SValue(), std::to_string(i));
            delete made[i];
        }
    };
    std::thread maker([&] {
        for (int i = 0; i < n; ++i) {
            made[i] = new VelkText(std::to_string(i).c_str());
            ready.store(i + 1, std::memory_order_release);
        }
    });
    std::thread even(deleteEvery, 0), odd(deleteEvery, 1);
    maker.join();
    even.join();
    odd.join();

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
#endif
}

}  // namespace
