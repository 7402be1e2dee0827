#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "app/ui/FieldText.h"

using namespace korvel;

namespace {

using FieldText::FormatShortest;
using FieldText::ParseDouble;
using FieldText::ParseInt;
using FieldText::ParseUnsigned;

TEST(FieldText, ADoubleFieldTakesOneWholeFiniteNumberWithAPoint) {
    EXPECT_EQ(ParseDouble("2.5"), 2.5);
    EXPECT_EQ(ParseDouble(" \t-40 "), -40.0);
    EXPECT_EQ(ParseDouble("+3"), 3.0);
    EXPECT_EQ(ParseDouble(".5"), 0.5);
    EXPECT_EQ(ParseDouble("1e3"), 1000.0);
    for (const char* text : {"", "  ", "1,5", "abc", "12abc", "1 2", "+-1", "-+1", "++1", "inf",
                             "-inf", "nan", "1e999", "0x10"}) {
        EXPECT_FALSE(ParseDouble(text)) << text;
    }
}

TEST(FieldText, WholeNumberFieldsRejectSignsTheyCannotHoldAndOverflow) {
    EXPECT_EQ(ParseUnsigned(" +7 "), 7u);
    EXPECT_EQ(ParseUnsigned("4294967295"), 4294967295u);
    EXPECT_FALSE(ParseUnsigned("4294967296"));
    EXPECT_FALSE(ParseUnsigned("-1"));
    EXPECT_FALSE(ParseUnsigned("1.0"));
    EXPECT_FALSE(ParseUnsigned(""));
    EXPECT_EQ(ParseInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_FALSE(ParseInt("2147483648"));
    EXPECT_FALSE(ParseInt("+-3"));
}

TEST(FieldText, TheShortestFormReadsBackAsExactlyTheSameDouble) {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> any(-1e6, 1e6);
    for (int i = 0; i < 2000; ++i) {
        const double value = any(random);
        EXPECT_EQ(ParseDouble(FormatShortest(value)), value) << FormatShortest(value);
    }
    EXPECT_EQ(ParseDouble(FormatShortest(1e300)), 1e300);
    EXPECT_EQ(ParseDouble(FormatShortest(5e-324)), 5e-324);
}

}  // namespace
