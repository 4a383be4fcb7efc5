// The document: construction, the first-error-wins error state, and copies.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

namespace {

std::string Compact(const VelkNode& node) {
    std::string out;
    out << node;
    return out;
}

// The recorded state; a clone may hold the flag and message with code 0.
void ExpectError(const VelkDocument& doc, int code, const char* message, int row, int col) {
    EXPECT_EQ(doc.Error(), *message != '\0');
    EXPECT_EQ(doc.ErrorCode(), code);
    EXPECT_STREQ(doc.ErrorMessage(), message);
    EXPECT_EQ(doc.ErrorCursor().row, row);
    EXPECT_EQ(doc.ErrorCursor().col, col);
}

TEST(Document, StartsClear) {
    VelkDocument doc;
    ExpectError(doc, 0, "", 0, 0);
    EXPECT_EQ(doc.TabSize(), 4);
    EXPECT_EQ(doc.Type(), VelkNode::DOCUMENT);
    EXPECT_STREQ(doc.Value(), "");
    EXPECT_STREQ(VelkDocument("file.xml").Value(), "file.xml");
}

TEST(Document, FirstErrorStaysUntilCleared) {
    VelkDocument doc;
    doc.SetError(VELK_ERROR_OPEN_FILE, nullptr, nullptr);
    ExpectError(doc, 2, "Failed to open file", -1, -1);
    doc.SetError(VELK_ERROR_DOCUMENT_EMPTY, nullptr, nullptr);
    ExpectError(doc, 2, "Failed to open file", -1, -1);
    doc.ClearError();
    ExpectError(doc, 0, "", 0, 0);
    doc.SetError(VELK_ERROR_DOCUMENT_EMPTY, nullptr, nullptr);
    ExpectError(doc, 13, "Error document empty.", -1, -1);
}

TEST(Document, ErrorGetsAPositionOnlyWithPositionAndTracker) {
    const char text[] = "ab\ncd";
    VelkParsingData data(text, 4, 0, 0);

    VelkDocument positionOnly;
    positionOnly.SetError(VELK_ERROR_PARSE_ELEMENT, text + 4, nullptr);
    ExpectError(positionOnly, 4, "Error parsing Element.", -1, -1);

    VelkDocument trackerOnly;
    trackerOnly.SetError(VELK_ERROR_PARSE_ELEMENT, nullptr, &data);
    ExpectError(trackerOnly, 4, "Error parsing Element.", -1, -1);

    VelkDocument both;
    both.SetError(VELK_ERROR_END_TAG, text + 4, &data);
    ExpectError(both, 9, "Error reading end tag.", 1, 1);
}

TEST(Document, EveryCodeRecordsItsMessage) {
    for (int code = 1; code < VELK_ERROR_STRING_COUNT; ++code) {
        VelkDocument doc;
        doc.SetError(code, nullptr, nullptr);
        ExpectError(doc, code, VelkBase::errorString[code], -1, -1);
    }
}

TEST(Document, CloneCopiesTreeNameAndErrorFlagButNotCodeCursorOrTabSize) {
    VelkDocument doc("source.xml");
    doc.SetTabSize(8);
    doc.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    VelkComment* comment = new VelkComment();
    comment->SetValue("c");
    doc.LinkEndChild(comment);
    VelkElement* root = new VelkElement("root");
    root->SetAttribute("a", "1");
    root->LinkEndChild(new VelkElement("child"));
    doc.LinkEndChild(root);
    doc.LinkEndChild(new VelkElement("second"));
    doc.SetError(VELK_ERROR_OPEN_FILE, nullptr, nullptr);

    VelkNode* node = doc.Clone();
    ASSERT_NE(node, nullptr);
    VelkDocument* copy = node->ToDocument();
    ASSERT_NE(copy, nullptr);
    ExpectError(*copy, 0, "Failed to open file", 0, 0);
    EXPECT_EQ(copy->TabSize(), 4);
    EXPECT_STREQ(copy->Value(), "source.xml");

    std::string names;
    for (const VelkNode* n = copy->FirstChild(); n; n = n->NextSibling()) {
        EXPECT_EQ(n->Parent(), copy);
        names += std::to_string(n->Type());
    }
    EXPECT_EQ(names, "5211");
    EXPECT_EQ(Compact(*copy), "<?xml version=\"1.0\" ?><!--c--><root a=\"1\"><child /></root>");
    EXPECT_NE(copy->FirstChildElement(), root);
    EXPECT_STREQ(copy->LastChild()->Value(), "second");
    delete copy;
}

TEST(Document, CloneOfACleanDocumentIsClean) {
    VelkDocument doc;
    VelkNode* copy = doc.Clone();
    ExpectError(*copy->ToDocument(), 0, "", 0, 0);
    EXPECT_EQ(copy->FirstChild(), nullptr);
    delete copy;
}

TEST(Document, CompactFormStopsAfterTheFirstElement) {
    VelkDocument doc;
    VelkComment* comment = new VelkComment();
    comment->SetValue("c");
    doc.LinkEndChild(comment);
    doc.LinkEndChild(new VelkElement("a"));
    doc.LinkEndChild(new VelkElement("b"));
    std::ostringstream stream;
    stream << doc;
    EXPECT_EQ(stream.str(), "<!--c--><a />");
    EXPECT_EQ(Compact(doc), "<!--c--><a />");
    // Inside an element, a document still stops after its own first element.
    VelkElement outer("o");
    VelkNode* inner = outer.LinkEndChild(new VelkDocument());
    inner->LinkEndChild(new VelkElement("x"));
    inner->LinkEndChild(new VelkElement("y"));
    outer.LinkEndChild(new VelkElement("z"));
    EXPECT_EQ(Compact(outer), "<o><x /><z /></o>");
}

#ifndef NDEBUG
TEST(DocumentDeathTest, SetErrorRefusesCodesOutsideTheTable) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    VelkDocument doc;
    const char* expected =
        "Velk/base/velkparser:[0-9]+: SetError: Assertion "
        "'err > 0 && err < VELK_ERROR_STRING_COUNT' failed\\.";
    EXPECT_DEATH(doc.SetError(0, nullptr, nullptr), expected);
    EXPECT_DEATH(doc.SetError(VELK_ERROR_STRING_COUNT, nullptr, nullptr), expected);
}
#endif

}  // namespace
