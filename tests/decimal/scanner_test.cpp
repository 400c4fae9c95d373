#include "decimal/scanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>  // strtod
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "decimal/conversion.h"
#include "decimal/kernels.h"
#include "grid/text_grid.h"
#include "support/scanned_text.h"

#ifndef _WIN32
#include <unistd.h>  // pipe, write, close

#include <chrono>
#include <thread>
#endif

namespace {

// Reads numbers from `text` until one fails or the input ends; `rest` is what stays unread.
struct Scan {
  std::vector<double> values;
  bool failed = false;
  std::string rest;
};

Scan scanAll(const std::string& text, std::size_t capacity = defaultScanBuffer) {
  ScannedText t(text, capacity);
  Scan result;
  double v = 0;
  while (readNumber(t.scanner, v)) result.values.push_back(v);
  result.failed = !t.scanner.atEof || t.scanner.pos < t.scanner.end;
  result.rest = t.rest();
  return result;
}

using V = std::vector<double>;
const double inf = std::numeric_limits<double>::infinity();

TEST(TextScanner, SignsAndDecimalPoints) {
  Scan s = scanAll("+5 -5 -0 5. .5 -.5 1.2.3 007");
  EXPECT_EQ(s.values, (V{5, -5, 0, 5, 0.5, -0.5, 1.2, 0.3, 7}));
  EXPECT_TRUE(std::signbit(s.values[2]));
  EXPECT_FALSE(s.failed);
}

TEST(TextScanner, ExponentsWithAndWithoutDigits) {
  Scan s = scanAll("1e5 1E+5 2e-3 -4.5e1 1e 1e+ 3 7e-");
  EXPECT_EQ(s.values, (V{1e5, 1e5, 2e-3, -45, 1, 1, 3, 7}));
  EXPECT_FALSE(s.failed);
}

TEST(TextScanner, ExponentMarkerWithoutDigitsIsConsumed) {
  Scan s = scanAll("1e+x");
  EXPECT_EQ(s.values, V{1});
  EXPECT_TRUE(s.failed);
  EXPECT_EQ(s.rest, "x");
}

TEST(TextScanner, FailedNumberLosesSignAndPointKeepsTheRest) {
  for (auto [text, rest] : std::vector<std::pair<std::string, std::string>>{
           {"+x", "x"}, {"-.e5", "e5"}, {"inf", "inf"}, {"nan 1", "nan 1"}, {"-", ""},
           {"e5", "e5"}, {"x 1", "x 1"}}) {
    Scan s = scanAll(text);
    EXPECT_TRUE(s.values.empty()) << text;
    EXPECT_EQ(s.rest, rest) << text;
  }
}

// Numbers far from the end of the bytes at hand take the scanner's quick path, numbers near
// it the refilling one: both end and fail at the same bytes. A '\0' in the text stops a number
// like any other byte that cannot continue it, wherever it lies. Each text is followed by
// white space and an "x", so every scan ends in a failure; far from the end, the white space
// is 6000 blanks. (The first number of an input is always read near the end: nothing has been
// read before it, so each text comes after a "0".)
TEST(TextScanner, SameResultFarFromAndNearTheEndOfTheInput) {
  const std::string farTail = std::string(6000, ' ') + "x";
  for (const std::string& text : std::vector<std::string>{
           "1 2.5 -3 +4", "+x", "-.e5", "inf", "nan 1", "-", "e5", "x 1", "1e+x 2", "0x10",
           "12.5e-3 .5 5. 1e 2E+ 7e-", "1.2.3", "--1", "+-1", "..5", std::string("1\0 2", 4),
           std::string("\0", 1), "123456789012345678901234 1e-30 0.1234567890123456789"}) {
    Scan near = scanAll("0 " + text + " x");
    Scan far = scanAll("0 " + text + farTail);
    EXPECT_EQ(far.values, near.values) << text;
    EXPECT_TRUE(far.failed && near.failed) << text;
    std::string rest = far.rest;
    if (rest.size() >= farTail.size() && rest.ends_with(farTail))
      rest.replace(rest.size() - farTail.size(), farTail.size(), " x");
    EXPECT_EQ(rest, near.rest) << text;
  }
}

TEST(TextScanner, HexadecimalReadsAsZeroThenStops) {
  Scan s = scanAll("0x10");
  EXPECT_EQ(s.values, V{0});
  EXPECT_TRUE(s.failed);
  EXPECT_EQ(s.rest, "x10");
}

TEST(TextScanner, WhiteSpaceOfAnyKindSeparates) {
  Scan s = scanAll("\t1\r\n2\v3\f 4\n\n");
  EXPECT_EQ(s.values, (V{1, 2, 3, 4}));
  EXPECT_FALSE(s.failed);
}

TEST(TextScanner, HugeAndTinyValues) {
  Scan s = scanAll(
      "1e400 -1e400 1e-400 -1e-400 4.9406564584124654e-324 2.4703282292062328e-324 "
      "2.4703282292062327e-324 1.7976931348623157e308 1e99999999999999999999 "
      "0.0000000000000000000000000000000000000000000000000000000000000000000000001e-300");
  ASSERT_EQ(s.values.size(), 10u);
  EXPECT_EQ(s.values[0], inf);
  EXPECT_EQ(s.values[1], -inf);
  EXPECT_EQ(s.values[2], 0.0);
  EXPECT_TRUE(std::signbit(s.values[3]));
  EXPECT_EQ(s.values[4], std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(s.values[5], std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(s.values[6], 0.0);  // just below half the smallest subnormal
  EXPECT_EQ(s.values[7], std::numeric_limits<double>::max());
  EXPECT_EQ(s.values[8], inf);
  EXPECT_EQ(s.values[9], 0.0);  // 1e-374
}

TEST(TextScanner, DigitsFarBeyondTheBufferAndTheRoundingLimit) {
  // Exactly halfway between 1 and the next double rounds to even (1); any non-zero digit
  // later, however far, rounds up.
  const std::string half = "1.00000000000000011102230246251565404236316680908203125";
  const double up = std::nextafter(1.0, 2.0);
  for (std::size_t capacity : {std::size_t{16}, defaultScanBuffer}) {
    Scan s = scanAll(half + " " + half + std::string(5000, '0') + "1 " + std::string(9000, '0') +
                         "42e-1 1" + std::string(6000, '0') + "e-6000",
                     capacity);
    EXPECT_EQ(s.values, (V{1.0, up, 4.2, 1.0})) << capacity;
    EXPECT_FALSE(s.failed);
  }
}

// A number longer than the lookahead that runs into the end of a full buffer goes on in the
// next block of the file.
TEST(TextScanner, LongNumberAcrossTheEndOfAFullBuffer) {
  std::string text;
  while (text.size() < defaultScanBuffer - 5000) text += "7 ";
  const std::size_t sevens = text.size() / 2;
  text += "1" + std::string(6000, '0') + "e-6000 2";
  Scan s = scanAll(text);
  ASSERT_EQ(s.values.size(), sevens + 2);
  EXPECT_EQ(s.values[sevens], 1.0);
  EXPECT_EQ(s.values[sevens + 1], 2.0);
  EXPECT_FALSE(s.failed);
}

TEST(TextScanner, TokensOfAnyLengthAreSkippedWhole) {
  std::FILE* f = std::tmpfile();
  std::string text = std::string(100, 'k') + " 12 " + std::string(50000, 'w') + "\t-3";
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  TextScanner s;
  StreamBytes bytes{f};
  initScanner(s, 64);
  attachScanner(s, bytes);
  double a = 0, b = 0;
  EXPECT_TRUE(readToken(s));
  EXPECT_TRUE(readNumber(s, a));
  EXPECT_TRUE(readToken(s));
  EXPECT_TRUE(readNumber(s, b));
  EXPECT_FALSE(readToken(s));
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, -3);
  std::fclose(f);
}

// Every buffer size reads the same values from the same text, whatever straddles a refill.
TEST(TextScanner, SmallBuffersGiveTheSameValues) {
  std::mt19937_64 rng(7);
  std::string text;
  const char* forms[] = {"%.17g", "%.6g", "%.3e", "%.0f", "%.12f"};
  for (int i = 0; i < 3000; ++i) {
    double x = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 200) - 150);
    if (rng() % 2) x = -x;
    char buf[64];
    std::snprintf(buf, sizeof buf, forms[rng() % 5], x);
    text += buf;
    text += (rng() % 3 == 0) ? "\r\n" : " ";
  }
  Scan reference = scanAll(text);
  EXPECT_EQ(reference.values.size(), 3000u);
  for (std::size_t capacity : {8, 13, 64, 1000}) {
    Scan s = scanAll(text, capacity);
    EXPECT_EQ(s.values, reference.values) << capacity;
  }
  // The same with bytes put in front of the stream, and a Ctrl-Z that ends a text-mode input.
  const std::size_t cut = text.find(' ', text.size() / 2);
  for (std::size_t capacity : {8, 13, 1000}) {
    ScannedText t(text.substr(3, cut - 3) + "\x1a" + text.substr(cut), capacity);
    t.scanner.endsAtCtrlZ = true;
    preloadScanner(t.scanner, text.data(), 3);
    std::vector<double> values;
    for (double v = 0; readNumber(t.scanner, v);) values.push_back(v);
    EXPECT_EQ(values, scanAll(text.substr(0, cut)).values) << capacity;
    EXPECT_TRUE(t.scanner.atEof && t.scanner.pos == t.scanner.end);  // nothing after the Ctrl-Z
  }
}

// The conversion of parseNumber agrees with the C library's strtod, which is correctly rounded,
// over the whole range and on short decimals like those of grids.
TEST(TextScanner, ConversionMatchesStrtod) {
  std::mt19937_64 rng(11);
  int failures = 0;
  auto check = [&](const std::string& text) {
    double v = 0;
    if (!parseNumber(text, v) || v != std::strtod(text.c_str(), nullptr)) {
      ADD_FAILURE() << text;
      ++failures;
    }
  };
  char buf[96];
  for (int i = 0; i < 300000 && failures < 10; ++i) {
    double x = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 2020) - 1100);
    std::snprintf(buf, sizeof buf, "%.*e", static_cast<int>(rng() % 20), x);
    check(buf);
    // Up to 20 digits with the point anywhere and a small exponent: the fast path and its edges.
    std::string digits = std::to_string(rng() >> (rng() % 64));
    std::size_t point = rng() % (digits.size() + 1);
    std::snprintf(buf, sizeof buf, "%s%.*s.%s", rng() % 2 ? "-" : "", static_cast<int>(point),
                  digits.c_str(), digits.c_str() + point);
    std::string text = buf;
    if (rng() % 2) {
      std::snprintf(buf, sizeof buf, "e%d", static_cast<int>(rng() % 60) - 30);
      text += buf;
    }
    check(text);
    // Long spellings as GIS programs write them (the exact value of a float; 20 digits), and
    // texts a hair from the halfway point between two doubles, where the digits beyond the
    // 19th decide the rounding.
    if (std::isfinite(static_cast<float>(x))) {
      std::snprintf(buf, sizeof buf, "%.18g", static_cast<double>(static_cast<float>(x)));
      check(buf);
    }
    std::snprintf(buf, sizeof buf, "%.20g", x);
    check(buf);
    const long double half = x + (std::nextafter(x, HUGE_VAL) - x) / 2.0L;
    std::snprintf(buf, sizeof buf, "%.*Le", 17 + static_cast<int>(rng() % 40), half);
    check(buf);
  }
  // Halfway between two doubles with more than 19 digits before the point, all zeros after the
  // 19th: only a digit after the point tells that the value lies above.
  for (const char* whole : {"73786976294838312960", "4722366482869714944000"})
    for (const char* fraction : {"", ".0000001", ".000"}) check(std::string(whole) + fraction);
  EXPECT_EQ(failures, 0);
}

TEST(TextScanner, ParseNumberAcceptsExactlyOneNumber) {
  double v = 0;
  EXPECT_TRUE(parseNumber("-12.5e-1", v));
  EXPECT_EQ(v, -1.25);
  EXPECT_TRUE(parseNumber("3e", v));
  EXPECT_EQ(v, 3);
  EXPECT_FALSE(parseNumber("12x", v));
  EXPECT_FALSE(parseNumber(".", v));
  EXPECT_FALSE(parseNumber("", v));
}

}  // namespace

#ifndef _WIN32
// Rows of a pipe whose writer sends them in pieces of any size, with pauses: read as they come
// (the rows whole so far, or waiting for one), through every kernel, they are the rows the
// scanner reads from a file of the same text, whatever straddles the pieces.
TEST(TextScanner, RowsOfAPipeAsTheyComeAreTheRowsOfTheFile) {
  std::mt19937_64 rng(3);
  constexpr int R = 120, C = 333;
  std::string text;
  const char* forms[] = {"%.17g", "%.6g", "%.18e", "%.20g", "%.0f"};
  for (int i = 0; i < R * C; ++i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, forms[rng() % 5], std::ldexp(double(rng() >> 11), -40));
    text += std::string(buf) + (i % C == C - 1 ? "\n" : " ");
  }
  const std::vector<double> expected = scanAll(text).values;
  for (const NumberKernels& kernels : availableKernels()) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::thread writer([&, fd = ends[1]] {
      for (std::size_t at = 0, n; at < text.size(); at += n) {
        const std::size_t sizes[] = {1, 7, 50, 399, 4000, 70000};
        n = std::min<std::size_t>(text.size() - at, sizes[rng() % 6]);
        if (::write(fd, text.data() + at, n) != static_cast<ssize_t>(n)) break;
        if (rng() % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ::close(fd);
    });
    GridInput grid;
    grid.file = ::fdopen(ends[0], "rb");
    grid.streamed = true;
    ASSERT_TRUE(initScanner(grid.text));
    attachScanner(grid.text, grid.bytes.emplace<ArrivingBytes>(ArrivingBytes{grid.file}));
    std::vector<double> values(R * C + 1);
    // In ranges of 12 rows: the first waited for, then the rows whole so far.
    static int waits;
    waits = 0;
    for (int row = 1; row <= R;) {
      RowRange rows{values.data() + (row - 1) * C, C, row, std::min<std::size_t>(12, R - row + 1)};
      rows.asTheyCome = true;
      rows.beforeWait = [] { ++waits; };
      readTextRows(grid, rows, kernels.readNumbers);
      row += static_cast<int>(rows.got / C);
    }
    EXPECT_GT(waits, 0);
    writer.join();
    EXPECT_EQ(std::vector<double>(values.begin() + 1, values.end()), expected);
    std::fclose(grid.file);
  }
}
#endif
