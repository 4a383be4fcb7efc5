// The document: the first-error-wins error state, and copies.
#include <memory>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

// The recorded state; a clone may hold the flag and message with code 0.
void ExpectError(const VelkDocument& doc, int code, const char* message, int row, int col) {
    EXPECT_EQ(doc.Error(), *message != '\0');
    EXPECT_EQ(doc.ErrorCode(), code);
    EXPECT_STREQ(doc.ErrorMessage(), message);
    EXPECT_EQ(doc.ErrorCursor().row, row);
    EXPECT_EQ(doc.ErrorCursor().col, col);
}

TEST(Document, TheFirstErrorStaysUntilCleared) {
    VelkDocument doc;
    ExpectError(doc, 0, "", 0, 0);
    doc.SetError(VELK_ERROR_OPEN_FILE, nullptr, nullptr);
    doc.SetError(VELK_ERROR_DOCUMENT_EMPTY, nullptr, nullptr);
    ExpectError(doc, 2, "Failed to open file", -1, -1);
    doc.ClearError();
    ExpectError(doc, 0, "", 0, 0);
    doc.SetError(VELK_ERROR_DOCUMENT_EMPTY, nullptr, nullptr);
    ExpectError(doc, 13, "Error document empty.", -1, -1);
    for (int code = 1; code < VELK_ERROR_STRING_COUNT; ++code) {
        VelkDocument each;
        each.SetError(code, nullptr, nullptr);
        ExpectError(each, code, VelkBase::errorString[code], -1, -1);
    }
}

#ifdef NDEBUG
// Without the debug check, a code outside the message table is not recorded.
TEST(Document, ACodeOutsideTheTableRecordsNothing) {
    for (int code : {-1, 0, int{VELK_ERROR_STRING_COUNT}}) {
        VelkDocument doc;
        doc.SetError(code, nullptr, nullptr);
        ExpectError(doc, 0, "", 0, 0);
    }
}
#endif

TEST(Document, AnErrorGetsAPositionOnlyWithBothPositionAndTracker) {
    const char text[] = "ab\ncd";
    VelkParsingData data(text, 4, 0, 0);
    VelkDocument positionOnly, trackerOnly, both;
    positionOnly.SetError(VELK_ERROR_PARSE_ELEMENT, text + 4, nullptr);
    ExpectError(positionOnly, 4, "Error parsing Element.", -1, -1);
    trackerOnly.SetError(VELK_ERROR_PARSE_ELEMENT, nullptr, &data);
    ExpectError(trackerOnly, 4, "Error parsing Element.", -1, -1);
    both.SetError(VELK_ERROR_END_TAG, text + 4, &data);
    ExpectError(both, 9, "Error reading end tag.", 1, 1);
}

TEST(Document, CloneCopiesTreeNameAndErrorFlagButNotCodeCursorOrTabSize) {
    VelkDocument doc("source.xml");
    ExpectError(*std::unique_ptr<VelkNode>(doc.Clone())->ToDocument(), 0, "", 0, 0);
    VelkNode* root;
    doc.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    doc.LinkEndChild(Comment("c"));
    doc.LinkEndChild(root = Element("root", "a", "1", {Element("child")}));
    doc.LinkEndChild(Element("second"));
    doc.SetTabSize(8);
    doc.SetError(VELK_ERROR_OPEN_FILE, nullptr, nullptr);

    std::unique_ptr<VelkNode> node(doc.Clone());
    const VelkDocument* copy = node->ToDocument();
    ASSERT_NE(copy, nullptr);
    ExpectError(*copy, 0, "Failed to open file", 0, 0);
    EXPECT_EQ(copy->TabSize(), 4);
    EXPECT_STREQ(copy->Value(), "source.xml");
    EXPECT_EQ(Compact(*copy), "<?xml version=\"1.0\" ?><!--c--><root a=\"1\"><child /></root>");
    EXPECT_NE(copy->FirstChildElement(), root);
    EXPECT_EQ(copy->FirstChild()->Parent(), copy);
    EXPECT_STREQ(copy->LastChild()->Value(), "second");
}

}  // namespace
