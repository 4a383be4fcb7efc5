// Limits under stress: very deep nesting as text, file and stream; a deep tree
// built by a caller; very many attributes; large text, a large name, many
// siblings. Each ends in a correct tree or a clean error, never a crash or a
// hang. Sizes here keep the file fast under the sanitizers; the full-size
// figures (100 MB of text, 10 million siblings, timings) are the DISABLED_
// tests at the end, run with --gtest_also_run_disabled_tests.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "Velk/base/velk.h"
#include "velk_check.h"

using namespace TAVARO;

namespace {

constexpr int kDeep = 1000000;

// Debug builds check every attribute added to a set against the whole list
// (an assertion that walks it), so many attributes on one element take
// quadratic time there; the full count runs where assertions are off.
#ifdef NDEBUG
constexpr int kAttributes = 100000;
#else
constexpr int kAttributes = 5000;
#endif

std::string Nested(int depth, bool closed) {
    std::string text;
    text.reserve(static_cast<size_t>(depth) * 7);
    for (int i = 0; i < depth; ++i) text += "<e>";
    text += "x";
    if (closed)
        for (int i = 0; i < depth; ++i) text += "</e>";
    return text;
}

// Walks down the first children; returns the number of elements passed and
// checks the text at the bottom.
int DepthOf(const VelkNode& doc) {
    int depth = 0;
    const VelkNode* node = doc.FirstChild();
    while (node && node->ToElement()) {
        ++depth;
        if (node->FirstChild() != node->LastChild()) return -1;
        node = node->FirstChild();
    }
    return node && node->ToText() && node->SValue() == "x" ? depth : -1;
}

std::string TempPath(const char* name) {
    return std::string(VELK_TEST_TMPDIR) + "/" + name;
}

void WriteFile(const std::string& path, const std::string& text) {
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
}

TEST(Stress, MillionDeepAsText) {
    const std::string text = Nested(kDeep, true);
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
    EXPECT_EQ(DepthOf(doc), kDeep);
    EXPECT_EQ(velkcheck::CheckLinks(doc), "");

    std::string compact;
    compact << doc;
    EXPECT_EQ(compact, text);
    VelkNode* clone = doc.Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(DepthOf(*clone), kDeep);
    delete clone;
}

TEST(Stress, DeepUnclosedIsACleanError) {
    const std::string text = Nested(kDeep / 10, false);
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_ELEMENT_VALUE);
    EXPECT_EQ(DepthOf(doc), kDeep / 10);
}

TEST(Stress, MillionDeepAsFile) {
    const std::string path = TempPath("stress_deep.xml");
    WriteFile(path, Nested(kDeep, true));
    VelkDocument doc;
    ASSERT_TRUE(doc.LoadFile(path.c_str())) << doc.ErrorMessage();
    EXPECT_EQ(DepthOf(doc), kDeep);
    std::remove(path.c_str());
}

TEST(Stress, MillionDeepAsStream) {
    std::istringstream in(Nested(kDeep, true) + "<after/>");
    VelkDocument doc;
    in >> doc;
    ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
    EXPECT_EQ(DepthOf(doc), kDeep);
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, "<after/>");
}

TEST(Stress, MillionDeepPrinted) {
    // Printed from a depth of minus the nesting, no level is indented, so the
    // output stays linear in size; the printer must not recurse per level.
    VelkDocument doc;
    doc.Parse(Nested(kDeep, true).c_str(), nullptr);
    ASSERT_FALSE(doc.Error());
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    ASSERT_NE(out, nullptr);
    doc.FirstChild()->Print(out, -kDeep);
    std::fclose(out);
    const std::string pretty(buffer, size);
    std::free(buffer);
    EXPECT_EQ(pretty.compare(0, 8, "<e>\n<e>\n"), 0);
    VelkDocument reread;
    reread.Parse(pretty.c_str(), nullptr);
    ASSERT_FALSE(reread.Error()) << reread.ErrorMessage();
    EXPECT_EQ(DepthOf(reread), kDeep);
}

TEST(Stress, CallerBuiltMillionDeepTreeIsDeleted) {
    VelkElement* root = new VelkElement("e");
    VelkNode* node = root;
    for (int i = 1; i < kDeep; ++i) node = node->LinkEndChild(new VelkElement("e"));
    node->LinkEndChild(new VelkText("x"));
    VelkDocument doc;
    doc.LinkEndChild(root);
    EXPECT_EQ(DepthOf(doc), kDeep);
    doc.Clear();
    EXPECT_EQ(doc.FirstChild(), nullptr);

    VelkElement* alone = new VelkElement("e");
    node = alone;
    for (int i = 1; i < kDeep; ++i) node = node->LinkEndChild(new VelkElement("e"));
    delete alone;
}

std::string ManyAttributes(int count, bool repeatLast) {
    std::string text = "<e";
    for (int i = 0; i < count; ++i)
        text += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    if (repeatLast) text += " a0='again'";
    return text + "/>";
}

TEST(Stress, HundredThousandAttributesOnOneElement) {
    const int count = kAttributes;
    VelkDocument doc;
    doc.Parse(ManyAttributes(count, false).c_str(), nullptr);
    ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
    const VelkElement* e = doc.FirstChildElement();
    ASSERT_NE(e, nullptr);
    int seen = 0;
    for (const VelkAttribute* a = e->FirstAttribute(); a; a = a->Next(), ++seen)
        ASSERT_EQ(std::string(a->Name()), "a" + std::to_string(seen));
    EXPECT_EQ(seen, count);
    const std::string last = std::to_string(count - 1), middle = std::to_string(count / 2);
    EXPECT_EQ(e->Attribute(("a" + last).c_str()), last);
    EXPECT_EQ(e->Attribute(("a" + middle).c_str()), middle);
    EXPECT_EQ(e->Attribute(("a" + std::to_string(count)).c_str()), nullptr);
}

TEST(Stress, RepeatedNameAfterHundredThousandAttributes) {
    const std::string text = ManyAttributes(kAttributes, true);
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_ATTRIBUTES);
    EXPECT_EQ(doc.ErrorCursor().col, static_cast<int>(text.rfind("a0=")));
    const VelkElement* e = doc.FirstChildElement();
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->FirstAttribute()->Value(), "again");
    EXPECT_EQ(e->LastAttribute()->Name(), "a" + std::to_string(kAttributes - 1));
}

TEST(Stress, LargeTextNode) {
    const size_t size = 10u << 20;
    std::string text = "<t>";
    text.append(size, 'x');
    text += "</t>";
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    ASSERT_FALSE(doc.Error());
    const VelkNode* t = doc.FirstChild()->FirstChild();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->SValue().size(), size);
}

TEST(Stress, MegabyteName) {
    const std::string name(1u << 20, 'n');
    const std::string text = "<" + name + " " + name + "='v'>x</" + name + ">";
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
    const VelkElement* e = doc.FirstChildElement();
    EXPECT_EQ(e->SValue(), name);
    EXPECT_STREQ(e->Attribute(name.c_str()), "v");
    std::string compact;
    compact << doc;
    EXPECT_EQ(compact, "<" + name + " " + name + "=\"v\">x</" + name + ">");
}

std::string Siblings(int count) {
    std::string text = "<r>";
    text.reserve(static_cast<size_t>(count) * 4 + 8);
    for (int i = 0; i < count; ++i) text += "<b/>";
    return text + "</r>";
}

TEST(Stress, ManySiblings) {
    const int count = 500000;
    VelkDocument doc;
    doc.Parse(Siblings(count).c_str(), nullptr);
    ASSERT_FALSE(doc.Error());
    size_t nodes = 0;
    EXPECT_EQ(velkcheck::CheckLinks(doc, &nodes), "");
    EXPECT_EQ(nodes, static_cast<size_t>(count) + 1);
}

// Full-size figures: run with --gtest_also_run_disabled_tests
// --gtest_filter='Stress.DISABLED_*' on a Release build. Each prints its time
// and the peak resident memory of the process so far.

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakMegabytes() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

TEST(Stress, DISABLED_HundredMegabyteTextNode) {
    const size_t size = 100u << 20;
    std::string text = "<t>";
    text.append(size, 'x');
    text += "</t>";
    auto start = std::chrono::steady_clock::now();
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    std::printf("100 MB text node: parse %.3f s, peak %ld MB\n", Seconds(start), PeakMegabytes());
    ASSERT_FALSE(doc.Error());
    EXPECT_EQ(doc.FirstChild()->FirstChild()->SValue().size(), size);
}

TEST(Stress, DISABLED_TenMillionSiblings) {
    const int count = 10000000;
    const std::string text = Siblings(count);
    auto start = std::chrono::steady_clock::now();
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    std::printf("10 million siblings: parse %.3f s, peak %ld MB\n", Seconds(start),
                PeakMegabytes());
    ASSERT_FALSE(doc.Error());
    size_t nodes = 0;
    EXPECT_EQ(velkcheck::CheckLinks(doc, &nodes), "");
    EXPECT_EQ(nodes, static_cast<size_t>(count) + 1);
    start = std::chrono::steady_clock::now();
    doc.Clear();
    std::printf("10 million siblings: delete %.3f s\n", Seconds(start));
}

TEST(Stress, DISABLED_AttributesOnOneElementVersusSpread) {
    const int count = 100000;
    const std::string one = ManyAttributes(count, false);
    std::string spread = "<r>";
    for (int i = 0; i < count; ++i)
        spread += "<e a" + std::to_string(i) + "='" + std::to_string(i) + "'/>";
    spread += "</r>";
    double best[2] = {1e9, 1e9};
    for (int round = 0; round < 3; ++round) {
        for (int which = 0; which < 2; ++which) {
            auto start = std::chrono::steady_clock::now();
            VelkDocument doc;
            doc.Parse((which ? spread : one).c_str(), nullptr);
            ASSERT_FALSE(doc.Error());
            best[which] = std::min(best[which], Seconds(start));
        }
    }
    std::printf(
        "100k attributes: on one element %.4f s, spread over elements %.4f s (ratio %.2f)\n",
        best[0], best[1], best[0] / best[1]);
}

TEST(Stress, DISABLED_NestingTimeIsLinear) {
    double seconds[2];
    const int depths[2] = {250000, 1000000};
    for (int i = 0; i < 2; ++i) {
        const std::string text = Nested(depths[i], true);
        auto start = std::chrono::steady_clock::now();
        VelkDocument doc;
        doc.Parse(text.c_str(), nullptr);
        seconds[i] = Seconds(start);
        ASSERT_FALSE(doc.Error());
    }
    std::printf(
        "nesting: 250k deep %.3f s, 1M deep %.3f s (ratio %.2f for 4x the size), peak %ld MB\n",
        seconds[0], seconds[1], seconds[1] / seconds[0], PeakMegabytes());
}

}  // namespace
