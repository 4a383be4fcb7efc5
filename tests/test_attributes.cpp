// Attributes: numeric conversions in and out, and the ordered attribute set.
#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

namespace {

// Names of the attributes met walking from first along Next().
std::string WalkForward(const VelkAttributeSet& set) {
    std::string names;
    for (const VelkAttribute* a = set.First(); a; a = a->Next())
        names += std::string("[") + a->Name() + "]";
    return names;
}

std::string WalkBackward(const VelkAttributeSet& set) {
    std::string names;
    for (const VelkAttribute* a = set.Last(); a; a = a->Previous())
        names += std::string("[") + a->Name() + "]";
    return names;
}

struct IntQuery {
    const char* value;
    int result;
    int expected;  // what the out-parameter holds afterwards; it starts at 99
};

class QueryIntValue : public ::testing::TestWithParam<IntQuery> {};

TEST_P(QueryIntValue, ConvertsLikeScanf) {
    VelkAttribute attribute("n", GetParam().value);
    int out = 99;
    EXPECT_EQ(attribute.QueryIntValue(&out), GetParam().result);
    EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, QueryIntValue,
                         ::testing::Values(IntQuery{"42", VELK_ATTR_OK, 42},
                                           IntQuery{" -7", VELK_ATTR_OK, -7},
                                           IntQuery{"12abc", VELK_ATTR_OK, 12},
                                           IntQuery{"3.9", VELK_ATTR_OK, 3},
                                           IntQuery{"abc", VELK_ATTR_NOT_NUMERIC, 99},
                                           IntQuery{"", VELK_ATTR_NOT_NUMERIC, 99}));

TEST(Attribute, QueryDoubleValue) {
    double out = 9.5;
    EXPECT_EQ(VelkAttribute("d", "1e3").QueryDoubleValue(&out), VELK_ATTR_OK);
    EXPECT_EQ(out, 1000.0);
    EXPECT_EQ(VelkAttribute("d", "x1").QueryDoubleValue(&out), VELK_ATTR_NOT_NUMERIC);
    EXPECT_EQ(out, 1000.0);
}

TEST(Attribute, PlainGettersGiveZeroForText) {
    EXPECT_EQ(VelkAttribute("n", "abc").IntValue(), 0);
    EXPECT_EQ(VelkAttribute("n", "12abc").IntValue(), 12);
    EXPECT_EQ(VelkAttribute("n", "").DoubleValue(), 0.0);
    EXPECT_EQ(VelkAttribute("n", "2.5x").DoubleValue(), 2.5);
}

TEST(Attribute, SettersFormatNumbers) {
    VelkAttribute attribute("n", "");
    attribute.SetIntValue(-17);
    EXPECT_STREQ(attribute.Value(), "-17");
    attribute.SetIntValue(INT_MIN);
    EXPECT_STREQ(attribute.Value(), "-2147483648");
    attribute.SetDoubleValue(-17);
    EXPECT_STREQ(attribute.Value(), "-17.000000");
    attribute.SetDoubleValue(2.5);
    EXPECT_STREQ(attribute.Value(), "2.500000");
    attribute.SetDoubleValue(0.1);
    EXPECT_STREQ(attribute.Value(), "0.100000");
}

TEST(Attribute, HugeDoublesAreStoredWhole) {
    VelkAttribute attribute("n", "");
    attribute.SetDoubleValue(1e300);
    const std::string value = attribute.Value();
    // 301 integer digits, a point and six decimals; no exponent.
    EXPECT_EQ(value.size(), 308u);
    EXPECT_EQ(value.substr(0, 20), "10000000000000000525");
    EXPECT_EQ(value.substr(301), ".000000");
    EXPECT_EQ(attribute.DoubleValue(), 1e300);

    attribute.SetDoubleValue(-1e300);
    EXPECT_EQ(std::string(attribute.Value()).size(), 309u);
    EXPECT_EQ(attribute.DoubleValue(), -1e300);
}

TEST(Attribute, FreeAttributeHasNoNeighbours) {
    VelkAttribute attribute("a", "1");
    EXPECT_EQ(attribute.Next(), nullptr);
    EXPECT_EQ(attribute.Previous(), nullptr);
    EXPECT_EQ(attribute.Location().row, -1);
}

TEST(AttributeSet, NewSetIsEmpty) {
    VelkAttributeSet set;
    EXPECT_EQ(set.First(), nullptr);
    EXPECT_EQ(set.Last(), nullptr);
    EXPECT_EQ(set.Find(""), nullptr);
    EXPECT_EQ(set.Find("id"), nullptr);
}

TEST(AttributeSet, KeepsInsertionOrderAndRelinksOnRemove) {
    VelkAttributeSet set;
    VelkAttribute a("a", "1");
    VelkAttribute b("b", "2");
    set.Add(&a);
    set.Add(&b);
    EXPECT_EQ(set.First(), &a);
    EXPECT_EQ(set.Last(), &b);
    EXPECT_EQ(a.Next(), &b);
    EXPECT_EQ(b.Next(), nullptr);
    EXPECT_EQ(b.Previous(), &a);
    EXPECT_EQ(a.Previous(), nullptr);

    set.Remove(&a);
    EXPECT_EQ(set.First(), &b);
    EXPECT_EQ(b.Previous(), nullptr);
    EXPECT_EQ(b.Next(), nullptr);
    EXPECT_EQ(a.Next(), nullptr);
    EXPECT_EQ(a.Previous(), nullptr);

    set.Add(&a);
    EXPECT_EQ(WalkForward(set), "[b][a]");
    set.Remove(&a);
    set.Remove(&b);
    EXPECT_EQ(set.First(), nullptr);
}

TEST(AttributeSet, FindMatchesTheWholeNameExactly) {
    VelkAttributeSet set;
    VelkAttribute upper("ID", "1");
    VelkAttribute longer("idx", "2");
    VelkAttribute exact("id", "3");
    set.Add(&upper);
    set.Add(&longer);
    EXPECT_EQ(set.Find("id"), nullptr);
    set.Add(&exact);
    EXPECT_EQ(set.Find("id"), &exact);
    set.Remove(&upper);
    set.Remove(&longer);
    set.Remove(&exact);
}

TEST(AttributeSet, EmptyNameAndValueIsOrdinaryContent) {
    VelkAttributeSet set;
    VelkAttribute a("a", "1");
    VelkAttribute blank("", "");
    VelkAttribute b("b", "2");
    set.Add(&a);
    set.Add(&blank);
    set.Add(&b);
    EXPECT_EQ(WalkForward(set), "[a][][b]");
    EXPECT_EQ(WalkBackward(set), "[b][][a]");
    EXPECT_EQ(set.Find(""), &blank);
    set.Remove(&a);
    set.Remove(&blank);
    set.Remove(&b);
}

#ifndef NDEBUG
TEST(AttributeSetDeathTest, AddingARepeatedNameStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    VelkAttributeSet set;
    VelkAttribute first("a", "1");
    VelkAttribute second("a", "2");
    set.Add(&first);
    EXPECT_DEATH(set.Add(&second),
                 "Velk/base/velk:[0-9]+: Add: Assertion '!Find\\( addMe->Name\\(\\) \\)' "
                 "failed\\.");
    set.Remove(&first);
}

TEST(AttributeSetDeathTest, RemovingAStrangerStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    VelkAttributeSet set;
    VelkAttribute stranger("a", "1");
    EXPECT_DEATH(set.Remove(&stranger), "Velk/base/velk:[0-9]+: Remove: Assertion '0' failed\\.");
}

TEST(AttributeSetDeathTest, DestroyingANonEmptySetStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_DEATH(
        {
            VelkAttribute a("a", "1");
            VelkAttributeSet set;
            set.Add(&a);
        },
        "Velk/base/velk:[0-9]+: ~VelkAttributeSet: Assertion 'sentinel.next == &sentinel' "
        "failed\\.");
}
#endif

}  // namespace
