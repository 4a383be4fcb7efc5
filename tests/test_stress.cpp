// Limits under stress: very deep nesting as text, file and stream; a deep tree
// built by a caller; very many attributes; large text, a large name, many
// siblings. Each ends in a correct tree or a clean error, never a crash or a
// hang. Sizes here keep the suite fast under the sanitizers; the full-size
// figures (100 MB of text, 10 million siblings, timings) are the DISABLED_
// test at the end.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

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

std::string Compact(const VelkNode& node) {
    std::string text;
    text << node;
    return text;
}

TEST(Stress, MillionDeepAsFileStreamCloneAndPrint) {
    const std::string text = Nested(kDeep, true);
    const std::string path = velkcheck::TempPath("stress_deep.xml");
    ASSERT_TRUE(velkcheck::WriteFile(path, text));
    VelkDocument loaded;
    EXPECT_TRUE(loaded.LoadFile(path.c_str())) << loaded.ErrorMessage();
    std::remove(path.c_str());
    EXPECT_TRUE(Compact(loaded) == text);
    std::unique_ptr<VelkNode> clone(loaded.Clone());
    EXPECT_TRUE(Compact(*clone) == text);
    clone.reset();
    loaded.Clear();

    std::istringstream in(text + "<after/>");
    VelkDocument streamed;
    in >> streamed;
    EXPECT_FALSE(streamed.Error()) << streamed.ErrorMessage();
    EXPECT_TRUE(Compact(streamed) == text);
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, "<after/>");

    // Printed from a depth of minus the nesting, no level is indented, so the
    // output stays linear in size; the printer must not recurse per level.
    const std::string pretty = velkcheck::PrettyText(*streamed.FirstChild(), -kDeep);
    EXPECT_EQ(pretty.compare(0, 8, "<e>\n<e>\n"), 0);
    VelkDocument reread;
    reread.Parse(pretty.c_str(), nullptr);
    EXPECT_TRUE(Compact(reread) == text);
}

TEST(Stress, DeepUnclosedIsACleanError) {
    VelkDocument doc;
    doc.Parse(Nested(kDeep / 10, false).c_str(), nullptr);
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_ELEMENT_VALUE);
    EXPECT_TRUE(Compact(doc) == Nested(kDeep / 10, true));
}

TEST(Stress, CallerBuiltMillionDeepTreeIsDeleted) {
    const auto chain = [](VelkNode* top) {
        for (int i = 1; i < kDeep; ++i) top = top->LinkEndChild(new VelkElement("e"));
        return top;
    };
    VelkDocument doc;
    chain(doc.LinkEndChild(new VelkElement("e")))->LinkEndChild(new VelkText("x"));
    EXPECT_TRUE(Compact(doc) == Nested(kDeep, true));
    doc.Clear();
    EXPECT_EQ(doc.FirstChild(), nullptr);
    VelkElement* alone = new VelkElement("e");
    chain(alone);
    delete alone;
}

std::string ManyAttributes(int count, bool repeatFirst) {
    std::string text = "<e";
    for (int i = 0; i < count; ++i)
        text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return text + (repeatFirst ? " a0='again' />" : " />");
}

// A repeated name is an error at the repeat that keeps every attribute read
// before it, the first taking the repeat's value.
TEST(Stress, RepeatedNameAfterManyAttributes) {
    const std::string text = ManyAttributes(kAttributes, true);
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_ATTRIBUTES);
    EXPECT_EQ(doc.ErrorCursor().col, static_cast<int>(text.rfind("a0=")));
    const VelkElement* e = doc.FirstChildElement();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(velkcheck::CheckLinks(doc), "");
    EXPECT_STREQ(e->Attribute("a0"), "again");
    for (int i : {1, kAttributes / 2, kAttributes - 1})
        EXPECT_EQ(e->Attribute(("a" + std::to_string(i)).c_str()), std::to_string(i));
    EXPECT_EQ(e->LastAttribute()->Name(), "a" + std::to_string(kAttributes - 1));
}

struct Large {
    const char* what;
    std::string text;  // in the compact form, which the tree must write back
    size_t nodes;
};

// Large documents; full is the size of the figures, else one that stays
// quick under the sanitizers.
std::vector<Large> LargeDocuments(bool full) {
    const int attributes = full ? 100000 : kAttributes, siblings = full ? 10000000 : 500000;
    const std::string name(1u << 20, 'n'), text(full ? 100u << 20 : 10u << 20, 'x');
    std::string spread = "<r>", many = "<r>";
    for (int i = 0; i < attributes; ++i)
        spread += "<e a" + std::to_string(i) + "=\"" + std::to_string(i) + "\" />";
    for (int i = 0; i < siblings; ++i) many += "<b />";
    return {
        {"text node", "<t>" + text + "</t>", 2},
        {"siblings", many + "</r>", static_cast<size_t>(siblings) + 1},
        {"attributes on one element", ManyAttributes(attributes, false), 1},
        {"attributes over elements", spread + "</r>", static_cast<size_t>(attributes) + 1},
        {"1 MB name", "<" + name + " " + name + "=\"v\">x</" + name + ">", 2},
        {"1,000,000 deep", Nested(kDeep, true), kDeep + 1},
    };
}

TEST(Stress, LargeDocumentsWriteBackTheirText) {
    for (const Large& large : LargeDocuments(false)) {
        VelkDocument doc;
        doc.Parse(large.text.c_str(), nullptr);
        ASSERT_FALSE(doc.Error()) << large.what;
        size_t nodes = 0;
        EXPECT_EQ(velkcheck::CheckLinks(doc, &nodes), "") << large.what;
        EXPECT_EQ(nodes, large.nodes) << large.what;
        EXPECT_TRUE(Compact(doc) == large.text) << large.what;
    }
}

// The full-size figures: run with --gtest_also_run_disabled_tests
// --gtest_filter='Stress.DISABLED_*' on a Release build. Prints the parse time
// of each document and the peak resident memory of the process so far.
TEST(Stress, DISABLED_FullSizeFigures) {
    for (const Large& large : LargeDocuments(true)) {
        VelkDocument doc;
        const auto start = std::chrono::steady_clock::now();
        doc.Parse(large.text.c_str(), nullptr);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        struct rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%s: parse %.3f s, peak %ld MB\n", large.what, seconds, usage.ru_maxrss / 1024);
        size_t nodes = 0;
        EXPECT_EQ(velkcheck::CheckLinks(doc, &nodes), "");
        EXPECT_EQ(nodes, large.nodes) << large.what;
    }
}

}  // namespace
