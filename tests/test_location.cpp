// The row and column tracker: each stamp counts on from the last.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace TAVARO;

namespace {

struct Step {
    size_t at;  // offset stamped
    int row, col;
};

TEST(Stamp, CountsRowsAndColumnsForwardOnly) {
    // One case per line; row0, col0: where the tracker starts.
    // clang-format off
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

}  // namespace
