// Every vector path against the plain one it must equal: millions of numbers read, and of
// values written, through both, with the same results to the byte.
#include "decimal/kernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>  // strtod
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "decimal/conversion.h"
#include "platform/cpu_features.h"
#include "support/scanned_text.h"

namespace {

// The vector paths, each with whether this CPU runs it; one it does not run is not compared.
struct Path {
  const char* name;
  NumberReader readNumbers;
  CellWriter writeCells;
  bool available;
};

std::vector<Path> vectorPaths() {
  std::vector<Path> paths;
#if CELLPROD_VECTOR_PATHS
  paths.push_back({"avx512", readNumbersAvx512, writeCellsAvx512, cpuFeatures().avx512});
#endif
  return paths;
}

// Everything a batch read leaves: the values, how many, and the bytes not yet consumed.
struct Reading {
  std::vector<double> values;
  std::size_t count = 0;
  std::string rest;
};

Reading readAll(const std::string& text, NumberReader read, std::size_t batch,
                std::size_t capacity) {
  ScannedText t(text, capacity);
  Reading r;
  std::vector<double> values(batch);
  for (;;) {
    const std::size_t got = read(t.scanner, values.data(), batch);
    r.values.insert(r.values.end(), values.begin(), values.begin() + static_cast<long>(got));
    r.count += got;
    if (got < batch) break;
  }
  r.rest = t.rest();
  return r;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return false;
  return true;
}

// A number token of a random kind: the simple forms in every length the block reader takes
// and beyond, and the forms it leaves to the plain reader.
std::string randomToken(std::mt19937_64& rng) {
  auto digits = [&](int n) {
    std::string d;
    for (int i = 0; i < n; ++i) d.push_back(static_cast<char>('0' + rng() % 10));
    return d;
  };
  const char* signs[] = {"", "", "", "-", "+"};
  std::string t = signs[rng() % 5];
  auto printed = [&](const char* format, auto... v) {
    char b[64];
    std::snprintf(b, sizeof b, format, v...);
    return t + b;
  };
  const double anyDouble = std::bit_cast<double>((rng() >> 12) | (rng() % 2047) << 52);
  switch (rng() % 18) {
    case 0: return t + digits(1 + rng() % 20);                                // integers
    case 1: return t + digits(rng() % 9) + "." + digits(1 + rng() % 8);
    case 2: return t + "." + digits(1 + rng() % 6);
    case 3: return t + digits(1 + rng() % 8) + ".";
    case 4: return t + digits(1 + rng() % 3) + "." + digits(1 + rng() % 3) + "e" +
                   signs[rng() % 5] + digits(rng() % 4);                       // exponents
    case 5: return t + digits(8 + rng() % 10) + "." + digits(rng() % 10);     // 16 or so digits
    case 6: return t + "9007199254740993" + (rng() % 2 ? ".5" : "");          // above 2^53
    // As GIS programs and numpy write them: floats exactly, doubles in 20 digits, %.18e.
    case 7:
      return printed("%.18g", static_cast<double>(std::bit_cast<float>(
                                  static_cast<std::uint32_t>(rng() % 0x7f800000))));
    case 8: return printed(rng() % 2 ? "%.20g" : "%.18e", anyDouble);
    // A hair from halfway between two doubles, and long runs of zeros.
    case 9:
      return printed("%.*Lg", static_cast<int>(17 + rng() % 14),
                     (anyDouble + static_cast<long double>(std::nextafter(anyDouble, 1e300))) / 2);
    case 10:
      t.append(rng() % 24, '0').append(".").append(rng() % 24, '0') += digits(1 + rng() % 24);
      return rng() % 2 ? t : t.append("e") + digits(1 + rng() % 3);
    case 11: {  // binary fractions written in full, of up to 19 digits, a few beyond 2^53;
      // doubles in about 20 digits, with exponents too, a few a step from a power of two
      const int e = static_cast<int>(rng() % 80) - 25;
      const double power = std::ldexp(1.0, e), step = std::ldexp(0x1p-53, e);
      if (rng() % 2)
        return printed(rng() % 3 ? "%.*g" : "%.*E", static_cast<int>(15 + rng() % 6),
                       rng() % 4 ? power * (1 + static_cast<double>(rng() >> 12) * 0x1p-52)
                                 : power + static_cast<double>(rng() % 5) * step - 2 * step);
      const std::uint64_t k = rng() % 4 ? rng() >> (11 + rng() % 40) : (1ull << 53) - 2 + rng() % 5;
      const int f = static_cast<int>(1 + rng() % 12);
      return printed("%.*Lf", f, std::ldexp(static_cast<long double>(k), -f));
    }
    case 12:  // 20 digits after leading zeros, from 0.5 down to 0.0004
      return printed("%.20g", std::ldexp(static_cast<double>(rng() >> 11), -53 - rng() % 12));
    default: return t + digits(1 + rng() % 4) + "." + digits(1 + rng() % 6);  // grid values
  }
}

std::string randomSpace(std::mt19937_64& rng) {
  const char* spaces[] = {" ", " ", " ", "\t", "\n", "\r\n", "  ", " \v\f ", "\n\n\t "};
  std::string s = spaces[rng() % std::size(spaces)];
  if (rng() % 1000 == 0) s += std::string(rng() % 200, ' ');  // long runs of blanks
  return s;
}

TEST(NumberKernels, ReadersGiveThePlainNumbers) {
  std::mt19937_64 rng(7);
  std::string text;
  std::vector<double> strtodValues;
  while (text.size() < 20'000'000) {
    const std::string token = randomToken(rng);
    strtodValues.push_back(std::strtod(token.c_str(), nullptr));
    text += token + randomSpace(rng);
  }
  const std::size_t tokens = strtodValues.size();
  for (const Path& path : vectorPaths()) {
    if (!path.available) GTEST_SKIP() << "path " << path.name << " is not on this CPU";
    for (std::size_t batch : {std::size_t{4000}, std::size_t{7}}) {
      const Reading plain = readAll(text, readNumbersPlain, batch, defaultScanBuffer);
      const Reading fast = readAll(text, path.readNumbers, batch, defaultScanBuffer);
      EXPECT_EQ(plain.count, tokens);
      EXPECT_TRUE(sameBits(plain.values, strtodValues));
      EXPECT_EQ(fast.count, plain.count) << path.name;
      EXPECT_TRUE(sameBits(fast.values, plain.values)) << path.name;
      EXPECT_EQ(fast.rest, plain.rest) << path.name;
    }
  }
}

// Tokens that are no number, or only start as one: the count read before the failure, the
// values and the bytes left are the plain reader's. Each case lies past a run of numbers that
// spans many blocks, at each offset within a block.
TEST(NumberKernels, ReadersStopWhereThePlainOneDoes) {
  const std::vector<std::string> endings = {
      "x", "inf", "nan", "0x10", "1-2", "--1", "+-1", "..5", "1.2.3", "-", "+", ".", "1e+x",
      std::string("12\0 3", 5), "\x1a", "1,5", "5e", "1e5.5", std::string(70, '7') + "x"};
  for (const Path& path : vectorPaths()) {
    if (!path.available) GTEST_SKIP() << "path " << path.name << " is not on this CPU";
    for (const std::string& ending : endings) {
      for (int offset = 0; offset < 64; ++offset) {
        std::string text = std::string(static_cast<std::size_t>(offset), ' ');
        // At odd offsets the numbers are long, and the plain reader takes the rest of them.
        const char* fraction = offset % 2 ? ".2500000000000000001 " : ".25 ";
        for (int i = 0; i < 500; ++i) text += std::to_string(i * 37 % 1000) + fraction;
        // Short numbers just before, "1+2" among them (1, then +2): the ending falls at each place
        // of four numbers taken at once.
        text.append(static_cast<std::size_t>(offset / 16 * 2), ' ') += "7 7 7 1+2 7 7 7 " + ending;
        text += " 1 2 3" + std::string(300, ' ');
        const Reading plain = readAll(text, readNumbersPlain, 100000, defaultScanBuffer);
        const Reading fast = readAll(text, path.readNumbers, 100000, defaultScanBuffer);
        EXPECT_EQ(fast.count, plain.count) << path.name << " " << ending << " " << offset;
        EXPECT_TRUE(sameBits(fast.values, plain.values)) << ending;
        EXPECT_EQ(fast.rest, plain.rest) << ending;
      }
    }
  }
}

// Small scanner buffers: numbers cross every refill, and the block reader works on whatever
// lies far enough from the end of the bytes at hand.
// Numbers whose digits and exponent both lie far beyond a double, where together they place the
// value within it: every path, and parseNumber, reads them as strtod does, whether they lie
// within the bytes at hand or run across the end of a full buffer.
TEST(NumberKernels, ExtremeSpellingsReadAsStrtodReadsThem) {
  const std::string zeros(1'000'000, '0');
  std::vector<Path> paths = vectorPaths();
  paths.push_back({"plain", readNumbersPlain, writeCellsPlain, true});
  for (const std::string& number : {"0." + zeros + "1e1000005", "1" + zeros + "e-1000000",
                                    "-0." + zeros + "17e+1000200", "9" + zeros + ".5e-1000300"}) {
    const double expected = std::strtod(number.c_str(), nullptr);
    double parsed = 0;
    EXPECT_TRUE(parseNumber(number, parsed) && parsed == expected) << number.substr(0, 40);
    for (std::size_t before : {std::size_t{10}, defaultScanBuffer - 100}) {
      for (const Path& path : paths) {
        if (!path.available) continue;
        const Reading r = readAll(std::string(before, ' ') + number + " 2", path.readNumbers, 4,
                                  defaultScanBuffer);
        EXPECT_TRUE(sameBits(r.values, {expected, 2})) << path.name << " after " << before;
      }
    }
  }
}

TEST(NumberKernels, ReadersWithSmallBuffers) {
  std::mt19937_64 rng(11);
  std::string text;
  for (int i = 0; i < 20000; ++i) text += randomToken(rng) + randomSpace(rng);
  for (const Path& path : vectorPaths()) {
    if (!path.available) GTEST_SKIP() << "path " << path.name << " is not on this CPU";
    for (std::size_t capacity : {std::size_t{200}, std::size_t{256}, std::size_t{1000}, std::size_t{4099}}) {
      const Reading plain = readAll(text, readNumbersPlain, 333, capacity);
      const Reading fast = readAll(text, path.readNumbers, 333, capacity);
      EXPECT_EQ(fast.count, plain.count) << capacity;
      EXPECT_TRUE(sameBits(fast.values, plain.values)) << capacity;
      EXPECT_EQ(fast.rest, plain.rest) << capacity;
    }
  }
}

std::string written(CellWriter write, const std::vector<double>& values,
                    const NodataSpelling& nodata) {
  std::string out(values.size() * (maxGeneralLength + 1) + maxGeneralLength, '\0');
  char* end = write(out.data(), values.data(), values.size(), nodata);
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

// Where two texts part, with some context, for a failure message.
std::string firstDifference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const std::size_t from = i < 20 ? 0 : i - 20;
  return "at byte " + std::to_string(i) + ": \"" + a.substr(from, 40) + "\" against \"" +
         b.substr(from, 40) + "\"";
}

// Values of every kind a product row holds: six-digit products, halves and near-halves at six
// digits, the fixed/exponent boundaries, powers of ten, random bits, and the values the vector
// steps leave to the plain writer.
// Values of every form of "%lg", or, `fixed`, mostly those from 1 to 999999.5 that a vector of
// eight writes at once, with the roundings up to 1e6, zeros at the end and a few others.
std::vector<double> valuesToWrite(std::mt19937_64& rng, std::size_t n, bool fixed = false) {
  std::vector<double> v;
  const double special[] = {0.0, -0.0, std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(), 1e-17, 1e17, 9.9999999e16,
                            1e-18, 5e-324, 1.7976931348623157e308, -9999, -99999.99,
                            -3.4028234663852886e38};
  while (v.size() < n) {
    const double u = static_cast<double>(rng() % 1000000) / 1000.0;
    const double w = static_cast<double>(rng() % 1000000) / 1000.0;
    const int e = static_cast<int>(rng() % 41) - 20;
    switch (fixed && rng() % 16 ? 7 + rng() % 5 : rng() % 10) {
      case 0: v.push_back(std::bit_cast<double>(rng())); break;
      case 1: v.push_back((static_cast<double>(rng() % 1000000) + 0.5) * std::pow(10.0, e)); break;
      case 2: v.push_back(std::nextafter(9.999995 * std::pow(10.0, e), rng() % 2 ? 0.0 : 1e300)); break;
      case 3: v.push_back(std::pow(10.0, e) * (rng() % 2 ? 1 : -1)); break;
      case 4: v.push_back(special[rng() % std::size(special)]); break;
      case 5: v.push_back(static_cast<float>(u * w)); break;
      case 6: v.push_back(-u * std::pow(10.0, e)); break;
      case 10: v.push_back(std::round(u) * std::pow(10.0, e % 4)); break;
      case 11:
        v.push_back(std::nextafter(999999.5, rng() % 2 ? 0.0 : 1e300) * (rng() % 2 ? 1 : -1));
        break;
      default: v.push_back(u * w * (rng() % 8 ? 1 : -1)); break;
    }
  }
  return v;
}

TEST(NumberKernels, WritersGiveThePlainText) {
  std::vector<Path> paths = vectorPaths();
#if CELLPROD_VECTOR_PATHS
  paths.push_back({"avx512 vbmi2", nullptr, writeCellsAvx512Vbmi2, cpuFeatures().avx512vbmi2});
  if (!paths[0].available) GTEST_SKIP() << "path " << paths[0].name << " is not on this CPU";
#endif
  std::mt19937_64 rng(3);
  for (const bool fixed : {false, true}) {
    const std::vector<double> values = valuesToWrite(rng, 2'000'000, fixed);
    for (const Path& path : paths) {
      if (!path.available) continue;  // VBMI2 on an AVX-512 CPU without it
      for (double nodata : {-9999.0, -99999.99, -3.4028234663852886e38, 0.0, 1.5}) {
        const NodataSpelling spelling = spellNodata(nodata);
        for (std::size_t n : {values.size(), std::size_t{13}, std::size_t{8}, std::size_t{1}}) {
          const std::vector<double> part(values.begin(), values.begin() + static_cast<long>(n));
          const std::string fast = written(path.writeCells, part, spelling);
          const std::string plain = written(writeCellsPlain, part, spelling);
          EXPECT_TRUE(fast == plain) << path.name << " nodata " << nodata << " n " << n << ": "
                                     << firstDifference(fast, plain);
        }
      }
    }
  }
}

}  // namespace
