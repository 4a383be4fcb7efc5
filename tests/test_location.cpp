// The row and column tracker, and the locations a parse gives its nodes and
// attributes.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

namespace {

struct Step {
    size_t at;  // offset stamped
    int row, col;
};

TEST(Stamp, CountsRowsAndColumnsForwardOnly) {
    // clang-format off
    // row0, col0: where the tracker starts
    const struct { const char* text; int tabSize, row0, col0; std::vector<Step> steps; } cases[] = {
        {"ab\ncd\tef", 4, 0, 0, {{0, 0, 0}, {2, 0, 2}, {5, 1, 2}, {7, 1, 5}}},
        {"abcd\tx", 4, 0, 0, {{5, 0, 8}}},            // a tab at a stop goes a whole stop
        {"abc\tx", 4, 0, 0, {{4, 0, 4}}},
        {"a\t\tb", 3, 0, 0, {{3, 0, 6}}},
        {"\xC3\xA9x", 4, 0, 0, {{3, 0, 3}}},          // one column per byte
        {"a\r\nb", 4, 0, 0, {{2, 1, 0}, {3, 1, 0}, {4, 1, 1}}},  // a pair is one line end
        {"a\n\rb", 4, 0, 0, {{4, 1, 1}}},
        {"a\n\nb", 4, 0, 0, {{4, 2, 1}}},
        {"a\r\rb", 4, 0, 0, {{4, 2, 1}}},
        {"\n\r\n\rx", 4, 0, 0, {{4, 2, 0}}},
        {"abcdef", 4, 0, 0, {{5, 0, 5}, {2, 0, 5}, {6, 0, 6}}},  // never backwards
        {"ab\ncd\0xy", 4, 0, 0, {{4, 1, 1}, {8, 1, 1}, {5, 1, 2}}},  // nothing past a NUL
        {"ab\ncd", 4, 3, 7, {{0, 3, 7}, {2, 3, 9}, {4, 4, 1}}},
        {"ab\ncd", 0, 0, 0, {{4, 0, 0}}},             // tab size 0 or less: no tracking
        {"ab\ncd", -2, 0, 0, {{4, 0, 0}}}};
    // clang-format on
    for (const auto& c : cases) {
        VelkParsingData data(c.text, c.tabSize, c.row0, c.col0);
        for (const Step& s : c.steps) {
            data.Stamp(c.text + s.at);
            EXPECT_EQ(data.Cursor().row, s.row) << c.text << " at " << s.at;
            EXPECT_EQ(data.Cursor().col, s.col) << c.text << " at " << s.at;
        }
    }
}

// Every location below node in document order, attributes after their element.
std::string Locations(const VelkBase* item) {
    std::string out =
        std::to_string(item->Location().row) + ":" + std::to_string(item->Location().col);
    const VelkNode* node = dynamic_cast<const VelkNode*>(item);
    if (!node) return out;
    if (node->ToElement())
        for (auto* a = node->ToElement()->FirstAttribute(); a; a = a->Next())
            out += " " + Locations(a);
    for (const VelkNode* c = node->FirstChild(); c; c = c->NextSibling()) out += " " + Locations(c);
    return out;
}

TEST(ParseLocations, EveryNodeAndAttribute) {
    // clang-format off
    const struct { const char* text; int tabSize; const char* locations; } cases[] = {
        {"<a>\n  <b c='1'/></a>", 4, "0:0 0:0 1:2 1:5"},
        // declaration, comment, unknown after a tab, element, its text and child
        {" <?xml version='1.0'?>\n<!-- c -->\t<!X>\r\n<r>\n\t  text <e/></r>", 4,
         "0:0 0:1 1:0 1:12 2:0 3:6 3:11"},
        {"\t<a/>", 8, "0:0 0:8"},
        {"\n\n  <a/>", 4, "0:0 2:2"}};  // the document starts before the white space
    // clang-format on
    for (const auto& c : cases) {
        VelkDocument doc;
        doc.SetTabSize(c.tabSize);
        doc.Parse(c.text, nullptr);
        EXPECT_FALSE(doc.Error()) << c.text;
        EXPECT_EQ(Locations(&doc), c.locations) << c.text;
    }
}

TEST(ParseLocations, FromAGivenTrackerOrNone) {
    const char* text = "<a b='1'/>";
    VelkParsingData earlier(text, 4, 10, 5);
    VelkDocument doc;
    doc.Parse(text, &earlier);
    EXPECT_EQ(Locations(&doc), "10:5 10:5 10:8");

    // Without a tracker nothing is located; without a document the element's
    // error is recorded nowhere, and the tree is still built.
    VelkElement e("e");
    EXPECT_EQ(e.Parse("<a b='1'><c></d></a>", nullptr), nullptr);
    EXPECT_EQ(Locations(&e), "-1:-1 -1:-1 -1:-1");
}

}  // namespace
