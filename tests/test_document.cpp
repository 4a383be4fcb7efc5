// The document: the first-error-wins error state, and copies.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

TEST(Document, TheFirstErrorStaysUntilCleared) {
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

TEST(Document, AnErrorGetsAPositionOnlyWithBothPositionAndTracker) {
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

// A clone has the name, the top-level nodes and the error flag and message,
// but code 0, the cursor (0, 0) and the default tab size.
TEST(Document, CloneCopiesTreeNameAndErrorFlagButNotCodeCursorOrTabSize) {
    VelkDocument doc("source.xml");
    EXPECT_EQ(Status(*std::unique_ptr<VelkNode>(doc.Clone())->ToDocument()), "ok");
    doc.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    doc.LinkEndChild(Comment("c"));
    doc.LinkEndChild(Element("root", "a", "1", {Element("child")}));
    doc.LinkEndChild(Element("second"));
    doc.SetTabSize(8);
    doc.SetError(VELK_ERROR_OPEN_FILE, nullptr, nullptr);
    std::unique_ptr<VelkNode> node(doc.Clone());
    const VelkDocument* copy = node->ToDocument();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Status(*copy), "0@0:0 Failed to open file");
    EXPECT_EQ(copy->TabSize(), 4);
    EXPECT_STREQ(copy->Value(), "source.xml");
    EXPECT_EQ(PrettyText(*copy), PrettyText(doc));
    EXPECT_EQ(CheckLinks(*copy), "");
}

}  // namespace
