// Stream input: the stream scanners, how far each node kind reads, and
// operator>> with the parse that follows the read.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

TEST(StreamScanners, MoveWhatTheyConsumeAndFailOnlyOnAStreamGoneBad) {
    std::istringstream in(" \t\r\n\v\fx <c"), blank("  ");
    std::string tag, spaces;
    EXPECT_TRUE(VelkBase::StreamWhiteSpace(&in, &tag));
    EXPECT_EQ(in.peek(), 'x');
    EXPECT_TRUE(VelkBase::StreamTo(&in, '<', &tag));
    EXPECT_EQ(tag, " \t\r\n\v\fx ");
    EXPECT_EQ(Rest(in), "<c");
    EXPECT_FALSE(VelkBase::StreamTo(&blank, '<', &spaces));  // the stream ends first
    EXPECT_FALSE(VelkBase::StreamWhiteSpace(&blank, &spaces));
    EXPECT_EQ(spaces, "  ");
    std::istringstream end("  ");  // reaching the end while looking is no failure
    EXPECT_TRUE(VelkBase::StreamWhiteSpace(&end, &spaces));
}

// Each case is read twice: by StreamIn alone, which moves what it reads to the
// tag, and by operator>>, which then parses the tag; either leaves the rest.
TEST(StreamIn, ReadsExactlyOneNode) {
    // One case per line. kind: as Linked takes it; read: the document's status
    // after StreamIn; shape and parsed: the node and the document's status
    // after operator>>.
    // clang-format off
    const struct { char kind; const char *input, *rest, *read, *shape, *parsed; } cases[] = {
        {'t', "a &lt; b<c", "<c", "ok", "'a < b'", "ok"},
        {'u', "<!DOCTYPE x [y]>z", "z", "ok", "<!DOCTYPE x [y]>", "ok"},
        {'c', "<!-- a > b -- > -->z", "z", "ok", "<!-- a > b -- > -->", "ok"},
        {'d', "<?xml version='1.0' encoding='a>b'?>z", "z", "ok", "<?xml 1.0|a>b|?>", "ok"},
        {'e', "<a>hi</a>tail", "tail", "ok", "a('hi')", "ok"},
        {'e', "  <a/>tail", "tail", "ok", "a", "ok"},
        {'e', "<a> <b c='1'> <c></c> </b>\n</a> x", " x", "ok", "a(b[c=1](c))", "ok"},
        // Markup that is not a child's start or end tag does not count in the depth.
        {'e', "<a><!-- <b> --><?xml v?><!X><<b/></a>x", "x", "ok",
         "a(<!-- <b> -->,<?xml ||?>,<!X>,<<b/>)", "ok"},
        {'e', "<a></ a>< \n/a>x", "< \n/a>x", "ok", "a", "9@-1:-1"},
        {'e', "<a></b>x", "x", "ok", "a", "9@-1:-1"},
        {'e', "<a><b", "", "ok", "a(b)", "5@-1:-1"},
        {'D', "<?xml version='1.0'?>\n<!-- c -->\n<r a=\"1\"><b/>text</r><s/>", "<s/>", "ok",
         "<?xml 1.0||?>,<!-- c -->,r[a=1](b,'text')", "ok"},
        {'D', "", "", "8@-1:-1", "", "13@-1:-1"},
        // No element came: the parse of what was read finds nothing wrong, and
        // the stream's error stays.
        {'D', "<?xml version=\"1.0\"?>", "", "1@-1:-1", "<?xml 1.0||?>", "1@-1:-1"},
        // The parse finds an error of its own: that one is reported.
        {'D', "<a b='1'", "", "1@-1:-1", "a", "4@0:3"},
        {'D', "<a>\n</b>", "", "ok", "a", "9@1:0"},
        {'D', "<a><b>text", "", "ok", "a(b('text'))", "6@-1:-1"}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        VelkDocument doc;
        std::istringstream in(c.input);
        std::string tag;
        Linked(c.kind, &doc)->StreamIn(&in, &tag);
        const std::string rest = Rest(in);
        EXPECT_EQ(rest, c.rest);
        EXPECT_EQ(tag + rest, c.input);  // what was read went to tag, in order
        EXPECT_EQ(Status(doc), c.read);

        VelkDocument parsed;
        VelkNode* node = Linked(c.kind, &parsed);
        std::istringstream again(c.input);
        again >> *node;
        EXPECT_EQ(Shape(node), c.shape);
        EXPECT_EQ(Rest(again), c.rest);
        EXPECT_EQ(Status(parsed), c.parsed);
    }
}

// A read reports only its own error: one that the document held before, from
// a parse or an earlier read, is cleared as Parse clears it.
TEST(StreamIn, AReadReplacesAnEarlierError) {
    // One case per line; streamed: the earlier error comes from a read, else
    // from a parse.
    // clang-format off
    const struct { bool streamed; const char *earlier, *input, *status; } cases[] = {
        {false, "<x></y>", "<a/>", "ok"},
        {true, "<?xml version=\"1.0\"?>", "<?xml version='1.0'?>\n<r/>", "ok"},
        {false, "<x></y>", "<?xml version='1.0'?>", "1@-1:-1"},
        {false, "", "<a></b>", "9@0:3"}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.earlier) + " then " + c.input);
        VelkDocument doc;
        std::istringstream earlier(c.earlier), in(c.input);
        if (c.streamed)
            earlier >> doc;
        else
            doc.Parse(c.earlier, nullptr);
        ASSERT_TRUE(doc.Error());
        in >> doc;
        EXPECT_EQ(Status(doc), c.status);
    }
}

}  // namespace
