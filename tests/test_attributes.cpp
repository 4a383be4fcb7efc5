// Attributes: numeric values read and written, and an element's ordered
// attribute set.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using velk_test::Compact;

namespace {

// Every numeric reading of a value, from the element and from the attribute:
// Attribute(name, &out) always stores (0 when it finds no number), a query
// stores only a number, the plain getters give 0 for no number.
TEST(Attribute, NumericValuesReadLikeScanf) {
    // One case per line; text null: no such attribute.
    // clang-format off
    const struct { const char* text; int result, asInt; double asDouble; } cases[] = {
        {"42", VELK_ATTR_OK, 42, 42.0},       {" -7", VELK_ATTR_OK, -7, -7.0},
        {"12abc", VELK_ATTR_OK, 12, 12.0},    {"3.9", VELK_ATTR_OK, 3, 3.9},
        {"1e3", VELK_ATTR_OK, 1, 1000.0},     {"abc", VELK_ATTR_NOT_NUMERIC, 0, 0.0},
        {"", VELK_ATTR_NOT_NUMERIC, 0, 0.0},  {nullptr, VELK_ATTR_MISSING, 0, 0.0}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "missing");
        VelkElement e("e");
        if (c.text) e.SetAttribute("n", c.text);
        const bool numeric = c.result == VELK_ATTR_OK;
        int i = 99;
        double d = 9.5;
        EXPECT_STREQ(e.Attribute("n", &i), c.text);
        EXPECT_STREQ(e.Attribute("n", &d), c.text);
        EXPECT_EQ(i, c.asInt);
        EXPECT_EQ(d, c.asDouble);
        EXPECT_STREQ(e.Attribute("n", static_cast<int*>(nullptr)), c.text);
        i = 99;
        d = 9.5;
        EXPECT_EQ(e.QueryIntAttribute("n", &i), c.result);
        EXPECT_EQ(e.QueryDoubleAttribute("n", &d), c.result);
        EXPECT_EQ(i, numeric ? c.asInt : 99);
        EXPECT_EQ(d, numeric ? c.asDouble : 9.5);
        const VelkAttribute* a = e.FirstAttribute();
        if (!a) continue;
        i = 99;
        d = 9.5;
        EXPECT_EQ(a->QueryIntValue(&i), c.result);
        EXPECT_EQ(a->QueryDoubleValue(&d), c.result);
        EXPECT_EQ(i, numeric ? c.asInt : 99);
        EXPECT_EQ(d, numeric ? c.asDouble : 9.5);
        EXPECT_EQ(a->IntValue(), c.asInt);
        EXPECT_EQ(a->DoubleValue(), c.asDouble);
    }
}

TEST(Attribute, SettersFormatNumbersAndKeepHugeDoublesWhole) {
    VelkAttribute attribute("n", "");
    attribute.SetIntValue(INT_MIN);
    EXPECT_STREQ(attribute.Value(), "-2147483648");
    attribute.SetDoubleValue(-0.1);
    EXPECT_STREQ(attribute.Value(), "-0.100000");
    attribute.SetDoubleValue(1e300);
    const std::string value = attribute.Value();
    // 301 integer digits, a point and six decimals; no exponent.
    EXPECT_EQ(value.size(), 308u);
    EXPECT_EQ(value.substr(0, 20), "10000000000000000525");
    EXPECT_EQ(value.substr(301), ".000000");
    EXPECT_EQ(attribute.DoubleValue(), 1e300);
    attribute.SetDoubleValue(-1e300);
    EXPECT_EQ(std::string(attribute.Value()).size(), 309u);
}

// The attributes as written, then their names walking back from the last.
std::string Walk(const VelkElement& e) {
    std::string names = Compact(e) + " /";
    for (const VelkAttribute* a = e.LastAttribute(); a; a = a->Previous())
        names += std::string(" ") + a->Name();
    return names;
}

TEST(ElementAttributes, KeepOrderMatchWholeNamesAndRelinkOnRemove) {
    VelkElement e("e");
    e.SetAttribute("ID", "1");
    e.SetAttribute("idx", "2");
    EXPECT_EQ(e.Attribute("id"), nullptr);
    EXPECT_EQ(e.Attribute(""), nullptr);
    e.SetAttribute("", "");
    e.SetAttribute("id", "3");
    e.SetAttribute("ID", "4");  // a new value keeps the first place
    e.SetAttribute("n", -5);
    EXPECT_STREQ(e.Attribute("id"), "3");
    EXPECT_STREQ(e.Attribute(""), "");
    EXPECT_EQ(Walk(e), "<e ID=\"4\" idx=\"2\" =\"\" id=\"3\" n=\"-5\" /> / n id  idx ID");
    e.RemoveAttribute("missing");
    e.RemoveAttribute("ID");
    e.RemoveAttribute("");
    e.RemoveAttribute("n");
    EXPECT_EQ(Walk(e), "<e idx=\"2\" id=\"3\" /> / id idx");
    e.SetAttribute("ID", "x");  // once removed, a name is appended again
    EXPECT_EQ(Walk(e), "<e idx=\"2\" id=\"3\" ID=\"x\" /> / ID id idx");
}

}  // namespace
