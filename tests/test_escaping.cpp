// The escaper shared by every output form, and the owned buffer copy.
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using TAVARO::VelkBase;

namespace {

std::string Escape(const std::string& input) {
    std::string out;
    VelkBase::PutString(input, &out);
    return out;
}

std::string EscapeToStream(const std::string& input) {
    std::ostringstream stream;
    VelkBase::PutString(input, &stream);
    return stream.str();
}

struct EscapeCase {
    const char* name;
    std::string input;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const EscapeCase& c) {
    return os << c.name;
}

class EscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, StringFormAppendsTheEscapedText) {
    EXPECT_EQ(Escape(GetParam().input), GetParam().expected);
}

TEST_P(EscapeTest, StreamFormWritesTheSameBytes) {
    EXPECT_EQ(EscapeToStream(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Markup, EscapeTest,
    testing::Values(
        EscapeCase{"Empty", "", ""}, EscapeCase{"PlainWords", "hello world", "hello world"},
        EscapeCase{"AllFiveMarkupCharacters", "a<b & 'c'", "a&lt;b &amp; &apos;c&apos;"},
        EscapeCase{"GreaterAndQuote", "x>\"y\"", "x&gt;&quot;y&quot;"},
        EscapeCase{"EntityIsEscapedAgain", "&amp;", "&amp;amp;"},
        EscapeCase{"LoneAmpersand", "&", "&amp;"}, EscapeCase{"AmpersandHashAtEnd", "&#", "&amp;#"},
        EscapeCase{"DecimalReference", "&#65;", "&amp;#65;"},
        EscapeCase{"UpperCaseX", "&#X41;", "&amp;#X41;"}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

// "&#x" passes through only as a complete hexadecimal reference: digits, then ';'.
INSTANTIATE_TEST_SUITE_P(
    HexReference, EscapeTest,
    testing::Values(EscapeCase{"PassesThrough", "&#xA9;", "&#xA9;"},
                    EscapeCase{"OneDigitAtTheEnd", "&#xA;", "&#xA;"},
                    EscapeCase{"MixedCaseDigits", "&#xaBc0;", "&#xaBc0;"},
                    EscapeCase{"MarkupAfterTheSemicolon", "x&#x41;<", "x&#x41;&lt;"},
                    EscapeCase{"TwoInARow", "&#x41;&#x42;", "&#x41;&#x42;"},
                    EscapeCase{"SecondSemicolonIsText", "&#x41;;", "&#x41;;"},
                    EscapeCase{"AfterALoneAmpersand", "&&#x41;", "&amp;&#x41;"},
                    EscapeCase{"NoSemicolon", "&#x41<b", "&amp;#x41&lt;b"},
                    EscapeCase{"OpenerOnly", "&#x", "&amp;#x"},
                    EscapeCase{"DigitWithoutSemicolonAtTheEnd", "&#xA", "&amp;#xA"},
                    EscapeCase{"NoDigits", "&#x;", "&amp;#x;"},
                    EscapeCase{"NotHexDigit", "&#xG1;", "&amp;#xG1;"},
                    EscapeCase{"BlankBeforeSemicolon", "&#x41 ;", "&amp;#x41 ;"},
                    EscapeCase{"HighByteInside", "&#x4\xE9;", "&amp;#x4&#xE9;;"},
                    EscapeCase{"MarkupInside", "&#x4<1;", "&amp;#x4&lt;1;"}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Bytes, EscapeTest,
    testing::Values(EscapeCase{"LineFeed", "one\ntwo", "one&#x0A;two"},
                    EscapeCase{"Tab", "\t", "&#x09;"}, EscapeCase{"CarriageReturn", "\r", "&#x0D;"},
                    EscapeCase{"NulInsideTheString", std::string("a\0b", 3), "a&#x00;b"},
                    EscapeCase{"Delete", "\x7F", "&#x7F;"},
                    EscapeCase{"TildeAndSpace", "~ ~", "~ ~"},
                    EscapeCase{"Utf8BytesSeparately", "\xC3\xA9", "&#xC3;&#xA9;"},
                    EscapeCase{"ByteFF", "\xFF", "&#xFF;"}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

TEST(Escape, PrintableAsciiOtherThanMarkupPassesUnchanged) {
    for (int c = 32; c <= 126; ++c) {
        if (std::strchr("&<>\"'", c) != nullptr) continue;
        const std::string input(1, static_cast<char>(c));
        EXPECT_EQ(Escape(input), input) << "byte " << c;
    }
}

TEST(Escape, EveryOtherByteBecomesTwoUpperCaseHexDigits) {
    for (int c = 0; c <= 255; ++c) {
        if (c >= 32 && c <= 126) continue;
        char expected[8];
        std::snprintf(expected, sizeof expected, "&#x%02X;", c);
        EXPECT_EQ(Escape(std::string(1, static_cast<char>(c))), expected) << "byte " << c;
    }
}

TEST(Escape, StringFormAppendsToWhatIsThere) {
    std::string out = "x";
    VelkBase::PutString("<", &out);
    EXPECT_EQ(out, "x&lt;");
}

TEST(Escape, StreamFormWritesNothingElse) {
    std::ostringstream stream;
    stream << "[";
    VelkBase::PutString("a&b", &stream);
    stream << "]";
    VelkBase::PutString("", &stream);
    EXPECT_EQ(stream.str(), "[a&amp;b]");
}

TEST(Escape, LongCleanRunsAroundMarkup) {
    const std::string run(100000, 'a');
    EXPECT_EQ(Escape(run + "<" + run + "\n" + run), run + "&lt;" + run + "&#x0A;" + run);
}

TEST(StringToBuffer, CopiesTheText) {
    VelkBase::StringToBuffer copy(std::string("file.xml"));
    ASSERT_NE(copy.buffer, nullptr);
    EXPECT_STREQ(copy.buffer, "file.xml");
}

TEST(StringToBuffer, EmptyStringGivesOnlyTheTerminator) {
    VelkBase::StringToBuffer copy{std::string()};
    ASSERT_NE(copy.buffer, nullptr);
    EXPECT_EQ(copy.buffer[0], '\0');
}

TEST(StringToBuffer, CopyEndsAtTheFirstNul) {
    VelkBase::StringToBuffer copy(std::string("ab\0cd", 5));
    ASSERT_NE(copy.buffer, nullptr);
    EXPECT_STREQ(copy.buffer, "ab");
}

TEST(StringToBuffer, IsAnIndependentCopy) {
    std::string source = "abc";
    VelkBase::StringToBuffer copy(source);
    source[0] = 'x';
    ASSERT_NE(copy.buffer, nullptr);
    EXPECT_STREQ(copy.buffer, "abc");
    EXPECT_NE(static_cast<const void*>(copy.buffer), static_cast<const void*>(source.c_str()));
}

}  // namespace
