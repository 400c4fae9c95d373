#include "decimal/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace {

std::string g6(double x) { return g6Text(x); }

std::string roundTrip(double x) {
  char buf[maxGeneralLength];
  return std::string(buf, formatRoundTrip(buf, x));
}

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

TEST(FormatG6, SixSignificantDigitsWithTrailingZerosRemoved) {
  EXPECT_EQ(g6(0), "0");
  EXPECT_EQ(g6(-0.0), "-0");
  EXPECT_EQ(g6(100), "100");
  EXPECT_EQ(g6(0.5), "0.5");
  EXPECT_EQ(g6(2.50), "2.5");
  EXPECT_EQ(g6(0.1 + 0.2), "0.3");
  EXPECT_EQ(g6(3.14159265), "3.14159");
  EXPECT_EQ(g6(-9999), "-9999");
  EXPECT_EQ(g6(123456), "123456");
  EXPECT_EQ(g6(123456.5), "123456");   // exact halfway rounds to even
  EXPECT_EQ(g6(1234565), "1.23456e+006");
  EXPECT_EQ(g6(1234567), "1.23457e+006");
}

TEST(FormatG6, FixedOrExponentFormAtTheBoundaries) {
  EXPECT_EQ(g6(0.0001), "0.0001");
  EXPECT_EQ(g6(0.00012345678), "0.000123457");
  EXPECT_EQ(g6(0.00001), "1e-005");
  EXPECT_EQ(g6(0.000099999951), "0.0001");  // rounds up into fixed form
  EXPECT_EQ(g6(999999), "999999");
  EXPECT_EQ(g6(999999.5), "1e+006");         // rounds up into exponent form
  EXPECT_EQ(g6(1e6), "1e+006");
}

TEST(FormatG6, ExponentHasAtLeastThreeDigits) {
  EXPECT_EQ(g6(1e8), "1e+008");
  EXPECT_EQ(g6(1e-6), "1e-006");
  EXPECT_EQ(g6(3.5e6), "3.5e+006");
  EXPECT_EQ(g6(-2.5e-10), "-2.5e-010");
  EXPECT_EQ(g6(1e100), "1e+100");
  EXPECT_EQ(g6(1e-300), "1e-300");
  EXPECT_EQ(g6(std::numeric_limits<double>::max()), "1.79769e+308");
  EXPECT_EQ(g6(std::numeric_limits<double>::denorm_min()), "4.94066e-324");
}

TEST(FormatG6, ValuesThatAreNotFinite) {
  EXPECT_EQ(g6(inf), "inf");
  EXPECT_EQ(g6(-inf), "-inf");
  EXPECT_EQ(g6(nan), "nan");
  EXPECT_EQ(g6(-nan), "nan");
}

// Agrees with the C library's "%lg" wherever that gives a two-digit exponent (glibc).
TEST(FormatG6, MatchesPrintfUpToTheExponentWidth) {
  std::mt19937_64 rng(3);
  for (int i = 0; i < 200000; ++i) {
    double x = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 400) - 250);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%lg", x);
    std::string want = expected;
    std::size_t e = want.find('e');
    if (e != std::string::npos && want.size() - e == 4)
      want = want.substr(0, e + 2) + "0" + want.substr(e + 2);
    ASSERT_EQ(g6(x), want) << expected;
  }
}

// The fast six-digit writer against the general conversion: random values over the whole
// range, short decimals like those of real grids, exact and near halves, and the values
// around every power of ten and every fixed/exponent switch.
TEST(FormatG6, FastPathMatchesTheGeneralConversion) {
  auto check = [](double x) {
    char fast[maxGeneralLength], general[maxGeneralLength];
    std::string a(fast, formatG6(fast, x)), b(general, formatGeneral(general, x, 6));
    if (a != b) ADD_FAILURE() << a << " != " << b << " for " << x;
    return a == b;
  };
  std::mt19937_64 rng(17);
  int failures = 0;
  for (int i = 0; i < 1'000'000 && failures < 10; ++i) {
    failures += !check(std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 200) - 140));
    const double scale[] = {1e-9, 1e-6, 1e-4, 1e-3, 1e-2, 0.1, 1, 10, 1e3, 1e6, 1e9};
    const double shortDecimal = static_cast<double>(rng() % 100000000) * scale[rng() % 11];
    failures += !check(rng() % 2 ? shortDecimal : -shortDecimal);
    const double half = (static_cast<double>(100000 + rng() % 900000) + 0.5) * scale[rng() % 11];
    failures += !check(half);
    failures += !check(std::nextafter(half, 0.0)) + !check(std::nextafter(half, 1e300));
  }
  for (int e = -20; e <= 20 && failures < 10; ++e) {
    for (double base : {1.0, 9.999995, 9.9999949999, 9.99999500001, 1.000005}) {
      double x = base * std::pow(10.0, e);
      double lo = x, hi = x;
      for (int step = 0; step < 50; ++step, lo = std::nextafter(lo, 0.0),
               hi = std::nextafter(hi, 1e300)) {
        failures += !check(lo) + !check(hi) + !check(-lo);
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST(FormatRoundTrip, SixDigitsWhereTheyReadBack) {
  EXPECT_EQ(roundTrip(3500000), "3.5e+006");
  EXPECT_EQ(roundTrip(25), "25");
  EXPECT_EQ(roundTrip(-9999), "-9999");
  EXPECT_EQ(roundTrip(0.1), "0.1");
}

TEST(FormatRoundTrip, MoreDigitsWhereSixWouldMoveTheValue) {
  EXPECT_EQ(roundTrip(5600025), "5600025");
  EXPECT_EQ(roundTrip(3500000.5), "3500000.5");
  EXPECT_EQ(roundTrip(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(roundTrip(123456789012.0), "123456789012");
  EXPECT_EQ(roundTrip(1234567e10), "1.234567e+016");
  EXPECT_EQ(roundTrip(inf), "inf");
  EXPECT_EQ(roundTrip(nan), "nan");
}

TEST(FixedText, SixDecimals) {
  EXPECT_EQ(fixed6Text(1.5), "1.500000");
  EXPECT_EQ(fixed6Text(-9999), "-9999.000000");
  EXPECT_EQ(fixed6Text(0.0000004), "0.000000");
  EXPECT_EQ(fixed6Text(1e20), "100000000000000000000.000000");
  EXPECT_EQ(fixed6Text(-inf), "-inf");
  EXPECT_EQ(fixed6Text(-nan), "nan");
}

TEST(TruncateToInt32, TowardZeroAndClamped) {
  EXPECT_EQ(truncateToInt32(3.9), 3);
  EXPECT_EQ(truncateToInt32(-3.9), -3);
  EXPECT_EQ(truncateToInt32(2147483646.5), 2147483646);
  EXPECT_EQ(truncateToInt32(1e300), 2147483647);
  EXPECT_EQ(truncateToInt32(-1e300), -2147483647 - 1);
  EXPECT_EQ(truncateToInt32(nan), 0);
}

}  // namespace
