// The styles numbers are written in: shortest, fixed, fixed or a dash, SVG
// coordinates, a float's fewest digits, hex words, padded numbers, positions.
#include "sim/base/number_format.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NumberFormat, ShortestShowsTheValueWithoutNoise) {
  struct Case {
    double value;
    const char* text;
  };
  for (const Case& c :
       {Case{static_cast<double>(30.7F), "30.7"}, Case{0.0, "0"}, Case{-2.5, "-2.5"},
        Case{1e6, "1e+06"}, Case{100000.0, "100000"}, Case{static_cast<double>(0.2F), "0.2"}}) {
    EXPECT_EQ(sim::FormatNumber(c.value), c.text) << c.value;
  }
}

TEST(NumberFormat, FixedDecimalsAndWhatEachStyleMakesOfNaNAndInfinity) {
  struct Case {
    double value;
    int decimals;
    const char* fixed;  // null: as the C library writes NaN and infinity
    const char* orDash;
    const char* svg;
  };
  for (const Case& c : {
           Case{1.26, 1, "1.3", "1.3", "1.3"},
           Case{-7.04, 1, "-7.0", "-7.0", "-7.0"},
           Case{3.14159, 2, "3.14", "3.14", "3.14"},
           Case{99.6, 0, "100", "100", "100"},
           Case{kNaN, 1, nullptr, "—", "0.0"},
           Case{kInf, 2, nullptr, "—", "0.00"},
           Case{-kInf, 0, nullptr, "—", "0"},
       }) {
    if (c.fixed != nullptr) {
      EXPECT_EQ(sim::FixedNumber(c.value, c.decimals), c.fixed) << c.value;
    }
    EXPECT_EQ(sim::FixedOrDash(c.value, c.decimals), c.orDash) << c.value;
    EXPECT_EQ(sim::SvgNumber(c.value, c.decimals), c.svg) << c.value;
  }
}

TEST(NumberFormat, FixedWritesTheLargestDoubleWhole) {
  const std::string text = sim::FixedNumber(std::numeric_limits<double>::max(), 1);
  EXPECT_EQ(text.size(), 311U);  // 309 digits, the point and one decimal
  EXPECT_EQ(text.substr(0, 6), "179769");
  EXPECT_EQ(text.substr(text.size() - 2), ".0");
}

TEST(NumberFormat, FloatDigitsAreTheFewestThatReadBackAsTheSameFloat) {
  struct Case {
    double value;
    const char* text;
  };
  for (const Case& c :
       {Case{static_cast<double>(0.923F), "0.923"}, Case{static_cast<double>(0.1F), "0.1"},
        // Six and seven digits land on the float's neighbours.
        Case{1.0 / 3.0, "0.33333333"}, Case{-1024.0, "-1024"}}) {
    EXPECT_EQ(sim::FloatDigits(c.value), c.text) << c.value;
  }
}

TEST(NumberFormat, HexWordsAndPaddedNumbers) {
  EXPECT_EQ(sim::HexHash(0x1234), "0x0000000000001234");
  EXPECT_EQ(sim::HexHash(0xFEDCBA9876543210ULL), "0xFEDCBA9876543210");
  EXPECT_EQ(sim::HexWord(0xABCDEF01U), "0xABCDEF01");
  EXPECT_EQ(sim::HexWord(7), "0x00000007");
  EXPECT_EQ(sim::ZeroPadded(42, 5), "00042");
  EXPECT_EQ(sim::ZeroPadded(123456, 5), "123456");
  EXPECT_EQ(sim::ZeroPadded(-3, 5), "-0003");
}

TEST(NumberFormat, Positions) {
  EXPECT_EQ(sim::FormatPosition(sim::Vec3{1.5F, -2.0F, 0.0F}), "(1.5, -2, 0)");
  EXPECT_EQ(sim::FixedPosition(1.0, -2.26, 30.0, 1), "(1.0, -2.3, 30.0)");
  EXPECT_EQ(sim::FixedPosition(0.04, -0.4, 5.55, 0), "(0, -0, 6)");
}

}  // namespace
