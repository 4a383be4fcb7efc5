// A document a million elements deep, through every operation that walks a
// tree: each ends in the right tree or a clean error, never in a stack
// overflow. Time and memory on large documents are measured in bench/.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

constexpr int kDeep = 1000000;

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(times));
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// How many single-child <e> levels hang below node; -1 when the chain differs.
int Depth(const VelkNode& node) {
    int depth = 0;
    for (auto* e = node.FirstChildElement(); e; e = e->FirstChildElement(), ++depth)
        if (e->SValue() != "e" || e->FirstChild() != e->LastChild()) return -1;
    return depth;
}

// A chain of kDeep <e> around "t", read every way, whole and broken; cloned,
// written in both forms and read back; cleared; built by a caller and deleted.
void WalkAMillionLevels() {
    const std::string text = Repeat("<e>", kDeep) + "t" + Repeat("</e>", kDeep);
    std::string mismatch = text;
    mismatch[kDeep * 3 + 3] = 'x';  // the innermost end tag becomes </x>
    const std::string path = TempPath("deep.xml");
    ASSERT_TRUE(WriteFile(path, text));
    // how: p parsed, s read from a stream, f loaded from the file of text.
    const struct {
        char how;
        std::string text;
        const char* status;
    } cases[] = {{'p', text, "ok"},
                 {'s', text + "<after/>", "ok"},
                 {'f', "", "ok"},
                 {'p', text.substr(0, text.size() - 4), "6@-1:-1"},
                 {'p', mismatch, "9@0:3000001"},
                 {'s', text.substr(0, kDeep * 3 + 1), "6@-1:-1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.how) + " " + c.status);
        VelkDocument doc;
        std::istringstream in(c.text);
        if (c.how == 'p') doc.Parse(c.text.c_str(), nullptr);
        if (c.how == 's') in >> doc;
        if (c.how == 'f') doc.LoadFile(path.c_str());
        EXPECT_EQ(Status(doc), c.status);
        EXPECT_EQ(Depth(doc), kDeep);
        if (doc.Error()) continue;
        EXPECT_TRUE(Compact(doc) == text);
        if (c.how == 's') {
            EXPECT_EQ(Rest(in), "<after/>");
        }
    }
    std::remove(path.c_str());

    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    EXPECT_TRUE(Compact(*std::unique_ptr<VelkNode>(doc.Clone())) == text);
    // Printed from far below depth 0, no level is indented.
    const std::string pretty = PrettyText(*doc.FirstChild(), -kDeep);
    EXPECT_TRUE(pretty == Repeat("<e>\n", kDeep - 1) + "<e>t</e>" + Repeat("\n</e>", kDeep - 1));
    doc.Clear();
    doc.Parse(pretty.c_str(), nullptr);
    EXPECT_TRUE(Compact(doc) == text);

    VelkElement* built = new VelkElement("e");
    VelkNode* chain = built;
    for (int i = 1; i < kDeep; ++i) chain = AddElement(chain, "e");
    EXPECT_EQ(Depth(*built), kDeep - 1);
    delete built;
}

// On a thread whose stack would not hold a frame per level, so that a walk
// that recurses per level crashes.
TEST(Stress, AMillionLevelsWithoutRecursion) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    const auto run = [](void*) -> void* {
        WalkAMillionLevels();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

}  // namespace
