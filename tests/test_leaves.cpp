// Comments, texts, declarations and unknown markup: content, copies, blankness.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

namespace {

struct BlankCase {
    const char* text;
    bool blank;
};

class TextBlank : public ::testing::TestWithParam<BlankCase> {};

TEST_P(TextBlank, OnlyAsciiWhiteSpaceIsBlank) {
    EXPECT_EQ(VelkText(GetParam().text).Blank(), GetParam().blank);
}

INSTANTIATE_TEST_SUITE_P(Values, TextBlank,
                         ::testing::Values(BlankCase{"", true}, BlankCase{" \t\n\r\v\f", true},
                                           BlankCase{" a ", false}, BlankCase{"\xA0", false},
                                           BlankCase{" \x85 ", false}));

TEST(Leaves, TextCloneIsANewUnlinkedCopy) {
    VelkElement parent("p");
    VelkNode* text = parent.LinkEndChild(new VelkText("hello"));
    int dummy = 0;
    text->SetClientData(&dummy);
    VelkNode* copy = text->Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, text);
    EXPECT_EQ(copy->Type(), VelkNode::TEXT);
    EXPECT_STREQ(copy->Value(), "hello");
    EXPECT_EQ(copy->Parent(), nullptr);
    EXPECT_EQ(copy->Location().row, -1);
    EXPECT_EQ(copy->Location().col, -1);
    EXPECT_EQ(copy->ClientData(), &dummy);
    delete copy;
}

TEST(Leaves, CommentAndUnknownCloneTheirValue) {
    VelkComment comment;
    VelkUnknown unknown;
    EXPECT_STREQ(comment.Value(), "");
    EXPECT_STREQ(unknown.Value(), "");
    comment.SetValue(" note ");
    unknown.SetValue("!DOCTYPE x");
    VelkNode* commentCopy = comment.Clone();
    VelkNode* unknownCopy = unknown.Clone();
    EXPECT_EQ(commentCopy->Type(), VelkNode::COMMENT);
    EXPECT_STREQ(commentCopy->Value(), " note ");
    EXPECT_EQ(unknownCopy->Type(), VelkNode::UNKNOWN);
    EXPECT_STREQ(unknownCopy->Value(), "!DOCTYPE x");
    delete commentCopy;
    delete unknownCopy;
}

TEST(Leaves, DeclarationKeepsAndClonesItsStrings) {
    VelkDeclaration declaration("1.0", "UTF-8", "");
    EXPECT_EQ(declaration.Type(), VelkNode::DECLARATION);
    EXPECT_STREQ(declaration.Version(), "1.0");
    EXPECT_STREQ(declaration.Encoding(), "UTF-8");
    EXPECT_STREQ(declaration.Standalone(), "");
    VelkNode* copy = declaration.Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Type(), VelkNode::DECLARATION);
    const VelkDeclaration* d = static_cast<const VelkDeclaration*>(copy);
    EXPECT_STREQ(d->Version(), "1.0");
    EXPECT_STREQ(d->Encoding(), "UTF-8");
    EXPECT_STREQ(d->Standalone(), "");
    delete copy;

    VelkDeclaration empty;
    EXPECT_STREQ(empty.Version(), "");
    EXPECT_STREQ(empty.Encoding(), "");
    EXPECT_STREQ(empty.Standalone(), "");
}

TEST(Leaves, ChildrenLinkedUnderALeafAreNotCloned) {
    VelkComment comment;
    comment.SetValue("c");
    comment.LinkEndChild(new VelkElement("inside"));
    VelkNode* copy = comment.Clone();
    EXPECT_EQ(copy->FirstChild(), nullptr);
    EXPECT_NE(comment.FirstChild(), nullptr);
    delete copy;
}

// The compact form of each leaf kind as the string operator and a stream write it.
TEST(Leaves, CompactFormsAgreeAcrossStringAndStream) {
    VelkComment comment;
    comment.SetValue("a<b");
    VelkUnknown unknown;
    unknown.SetValue("!DOCTYPE <x>");
    VelkText text("x & \"y\"\n");
    VelkDeclaration declaration("1.0", "<e>", "yes");
    const struct {
        const VelkNode* node;
        const char* expected;
    } cases[] = {
        {&comment, "<!--a&lt;b-->"},
        {&unknown, "<!DOCTYPE <x>>"},
        {&text, "x &amp; &quot;y&quot;&#x0A;"},
        {&declaration, "<?xml version=\"1.0\" encoding=\"&lt;e&gt;\" standalone=\"yes\" ?>"},
    };
    for (const auto& c : cases) {
        std::string appended = "abc";
        appended << *c.node;
        EXPECT_EQ(appended, std::string("abc") + c.expected);
        std::ostringstream stream;
        stream << *c.node;
        EXPECT_EQ(stream.str(), c.expected);
    }
}

}  // namespace
