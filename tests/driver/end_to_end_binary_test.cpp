// End-to-end runs with single- and double-precision grids: detection, every combination of
// input and output encodings, the statistics block, and the failures of binary files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/grid_case.h"

namespace {

using Values = std::vector<double>;
enum Kind { text, single, dbl };

// Cells exact in a float and printed exactly in six digits, with empty cells in both grids.
const Values cellsA = {1.5, -9999, 3, 0.25, -2, 1000};
const Values cellsB = {2, 4, -9999, 8, 0.5, 0.125};
const Values products = {3, -9999, -9999, 2, -1, 125};

std::string gridOf(Kind kind, const Values& cells, double ncols = 3, double nrows = 2) {
  if (kind == single) return bytesOf<float>(concat(binaryHeader(ncols, nrows), cells));
  if (kind == dbl) return bytesOf<double>(concat(binaryHeader(ncols, nrows), cells));
  std::string t = textHeader(std::to_string(static_cast<int>(ncols)),
                             std::to_string(static_cast<int>(nrows)));
  for (double c : cells) t += std::to_string(c) + " ";
  return t + "\n";
}

// The statistics block of the products above: count, min, max, sum, mean, deviation.
Values statisticsOfProducts() {
  Values counted;
  for (double p : products)
    if (p > -9998) counted.push_back(p);
  double n = static_cast<double>(counted.size()), sum = 0, squares = 0, lo = counted[0],
         hi = counted[0];
  for (double p : counted) {
    sum += p;
    squares += p * p;
    lo = std::min(lo, p);
    hi = std::max(hi, p);
  }
  return {n, lo, hi, sum, sum / n, std::sqrt((squares - sum * sum / n) / (n - 1))};
}

TEST_F(GridCase, EveryCombinationOfEncodings) {
  const Values header = concat({3, 2, 3500000, 5600000, 25, -9999}, statisticsOfProducts());
  const std::string textOut =
      "ncols\t3\nnrows\t2\nxllcorner\t3.5e+006\nyllcorner\t5.6e+006\ncellsize\t25\n"
      "nodata_value\t-9999\n3\t-9999\t-9999\n2\t-1\t125\n";
  const char* options[] = {"-f:t", "-f:s", "-f:d"};
  for (Kind first : {text, single, dbl}) {
    for (Kind second : {text, single, dbl}) {
      inputs(gridOf(first, cellsA), gridOf(second, cellsB));
      for (Kind output : {text, single, dbl}) {
        SCOPED_TRACE(std::to_string(first) + std::to_string(second) + std::to_string(output));
        ToolResult r = run(options[output]);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, console("..\n"));
        std::string expected = output == text     ? textFile(textOut)
                               : output == single ? bytesOf<float>(concat(header, products))
                                                  : bytesOf<double>(concat(header, products));
        EXPECT_EQ(readFile(out), expected);
      }
    }
  }
}

TEST_F(GridCase, OptionsThatGiveBinaryOutputs) {
  inputs(gridOf(dbl, cellsA), gridOf(dbl, cellsB));
  for (const char* option : {"-f:s", "-f:single", "x-f:s"}) {
    EXPECT_EQ(run(option).status, 0);
    EXPECT_EQ(readFile(out).size(), 72u) << option;
  }
  for (const char* option : {"-f:d", "-f:dbl", "x:d-f:"}) {
    EXPECT_EQ(run(option).status, 0);
    EXPECT_EQ(readFile(out).size(), 144u) << option;
  }
}

TEST_F(GridCase, StatisticsBlockReplacesGridOnesBlock) {
  Values header = {3, 2, 3500000, 5600000, 25, -9999, 1, 2, 3, 4, 5, 6};
  inputs(bytesOf<double>(concat(header, cellsA)), gridOf(single, cellsB));
  ASSERT_EQ(run("-f:d").status, 0);
  Values got = valuesOf<double>(readFile(out));
  EXPECT_EQ(Values(got.begin() + 6, got.begin() + 12), statisticsOfProducts());
}

TEST_F(GridCase, NoRowsStillWriteTheFinalStatistics) {
  inputs(bytesOf<float>(binaryHeader(3, 0)), bytesOf<float>(binaryHeader(3, 0)));
  ToolResult r = run("-f:s");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, console("\n"));
  EXPECT_EQ(readFile(out), bytesOf<float>({3, 0, 3500000, 5600000, 25, -9999, 0, 0, 0, 0,
                                           -9999, -9999}));
}

TEST_F(GridCase, DetectionOfTextGrids) {
  // Any file that starts with "ncol" is text, whatever follows.
  inputs("ncolumns 1 nrows 1 a 0 b 0 c 1 d -1 7\n", gridOf(single, {2}, 1, 1));
  inputs(aBytes, bytesOf<float>({1, 1, 0, 0, 1, -1, 0, 0, 0, 0, 0, 0, 2}));
  ToolResult r = run();
  EXPECT_EQ(r.status, 98);  // grid 2's nodata_value is -1: not a binary grid
  EXPECT_EQ(r.out,
            console("could not recognise file format (ascii, single or double) for b.grd\n"));

  inputs("NCOLS 1\nNROWS 1\nXLLCORNER 0\nYLLCORNER 0\nCELLSIZE 1\nNODATA_VALUE -9999\n1\n",
         gridOf(text, cellsA));
  r = run();
  EXPECT_EQ(r.status, 98);
  EXPECT_EQ(r.out,
            console("could not recognise file format (ascii, single or double) for a.grd\n"));
}

TEST_F(GridCase, BinaryGridsNeedNodataOfExactlyMinus9999) {
  inputs(bytesOf<float>(concat(binaryHeader(3, 2, -9998.5), cellsA)), gridOf(single, cellsB));
  ToolResult r = run();
  EXPECT_EQ(r.status, 98);
  EXPECT_EQ(r.out,
            console("could not recognise file format (ascii, single or double) for a.grd\n"));
}

TEST_F(GridCase, DoubleTestComesBeforeSingleTest) {
  // The upper half of xllcorner holds the float -9999 at bytes 20 to 23.
  float marker = -9999.0f;
  std::uint32_t bits;
  std::memcpy(&bits, &marker, 4);
  std::uint64_t wide = std::uint64_t{bits} << 32;
  double xll;
  std::memcpy(&xll, &wide, 8);
  Values header = {3, 2, xll, 5600000, 25, -9999, 0, 0, 0, 0, 0, 0};
  inputs(bytesOf<double>(concat(header, cellsA)), bytesOf<double>(concat(header, cellsB)));
  ASSERT_EQ(run("-f:d").status, 0);
  Values got = valuesOf<double>(readFile(out));
  EXPECT_EQ(Values(got.begin() + 12, got.end()), products);
}

TEST_F(GridCase, EmptyAndShortFilesAreNotRecognised) {
  for (std::string bad : {std::string(), std::string("nco"), std::string("abc")}) {
    inputs(bad, gridOf(single, cellsB));
    ToolResult r = run();
    EXPECT_EQ(r.status, 98);
    EXPECT_EQ(r.out,
              console("could not recognise file format (ascii, single or double) for a.grd\n"));
    inputs(gridOf(single, cellsB), bad);
    r = run();
    EXPECT_EQ(r.status, 98);
    EXPECT_EQ(r.out,
              console("could not recognise file format (ascii, single or double) for b.grd\n"));
  }
  inputs(gridOf(dbl, cellsA), "");
  ToolResult r = run({"a.grd", "missing.grd", "out.grd"});
  EXPECT_EQ(r.status, 98);
  EXPECT_EQ(r.out, console("could not open input file missing.grd\n"));
}

TEST_F(GridCase, CutHeaders) {
  for (Kind kind : {single, dbl}) {
    std::string whole = gridOf(kind, cellsA);
    std::size_t headerSize = kind == single ? 48 : 96;
    inputs(gridOf(kind, cellsB), whole.substr(0, headerSize - 1));
    ToolResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, console("error reading fiel header from b.grd\n"));
  }
}

TEST_F(GridCase, RowCutInRowTwo) {
  for (Kind kind : {single, dbl}) {
    std::size_t size = kind == single ? 4 : 8;
    std::string whole = gridOf(kind, cellsA);
    // Row 2 holds one whole value and part of the next.
    inputs(whole.substr(0, whole.size() - size - size / 2), gridOf(kind, cellsB));
    ToolResult r = run("-f:s");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, console(".error reading from a.grd in row 2 (1 values read)\n"));
    // The provisional header stays, with the first row after it.
    EXPECT_EQ(readFile(out), bytesOf<float>(concat(binaryHeader(3, 2), {3, -9999, -9999})));
  }
}

TEST_F(GridCase, RunFailingInRowTwoLeavesGridOnesBlock) {
  Values header = {3, 2, 3500000, 5600000, 25, -9999, 1, 2, 3, 4, 5, 6};
  std::string second = gridOf(dbl, cellsB);
  inputs(bytesOf<double>(concat(header, cellsA)), second.substr(0, second.size() - 8));
  ToolResult r = run("-f:d");
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out, console(".error reading from b.grd in row 2 (2 values read)\n"));
  EXPECT_EQ(readFile(out), bytesOf<double>(concat(header, {3, -9999, -9999})));
}

TEST_F(GridCase, HugeColumnCountWithoutTheCells) {
  for (Kind kind : {single, dbl}) {
    inputs(gridOf(kind, {}, static_cast<double>(hugeColumnCount), 1),
           gridOf(kind, {}, static_cast<double>(hugeColumnCount), 1));
    ToolResult r = run("-f:d");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, console("error reading from a.grd in row 1 (0 values read)\n"));
  }
}

TEST_F(GridCase, NarrowingBeyondTheFloatRangeGivesInfinity) {
  inputs(gridOf(dbl, {1e30, -1e30, 3.4028235e38}, 3, 1), gridOf(dbl, {1e30, 1e30, 1}, 3, 1));
  ASSERT_EQ(run("-f:s").status, 0);
  Values got = valuesOf<float>(readFile(out));
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Values(got.begin() + 12, got.end()),
            (Values{inf, -inf, std::numeric_limits<float>::max()}));
}

TEST_F(GridCase, SingleGridTimesOnesIsReproducedBitForBit) {
  std::mt19937 rng(5);
  const int ncols = 64, nrows = 16;
  // First cells whose bytes a text mode would take: Ctrl-Z, CR and LF are data here, read and
  // written as they are.
  std::string cells = std::string("\x1a\x0d\x0a\x41") + "\x0a\x0d\x1a\x42" + "\x0a\x0a\x0a\x3f";
  for (int i = 3; i < ncols * nrows; ++i) {
    std::uint32_t bits;
    float f;
    do {
      bits = static_cast<std::uint32_t>(rng());
      std::memcpy(&f, &bits, 4);
    } while (std::isnan(f) || f == -9999.0f);
    cells.append(reinterpret_cast<const char*>(&bits), 4);
  }
  const std::string header = bytesOf<float>(binaryHeader(ncols, nrows));
  inputs(header + cells, header + bytesOf<float>(Values(ncols * nrows, 1.0)));
  ASSERT_EQ(run("-f:s").status, 0);
  std::string got = readFile(out);
  EXPECT_EQ(got.substr(0, 24), header.substr(0, 24));
  EXPECT_TRUE(got.substr(48) == cells);
}

// Grids of the benchmark's kind: values in [0, 1000) with up to six significant digits, one
// cell in twenty empty. The integers of std::mt19937 are the same on every implementation.
Values randomCells(std::uint32_t seed, int n) {
  std::mt19937 rng(seed);
  Values cells;
  for (int i = 0; i < n; ++i) {
    const std::uint32_t r = static_cast<std::uint32_t>(rng());
    cells.push_back(r % 20 == 0 ? -9999 : (r / 20 % 1000000) / 1000.0);
  }
  return cells;
}

std::string asText(const Values& cells, int ncols, int nrows) {
  std::string t = textHeader(std::to_string(ncols), std::to_string(nrows));
  char number[32];
  for (double c : cells) {
    std::snprintf(number, sizeof number, "%.3f ", c);
    t += number;
  }
  return t;
}

// The output of the product as each step of it is defined: every multiplication and addition
// rounded on its own. A compiler that fuses the sum of squares into one multiply-add (as it may
// on a CPU that has one) changes the last bits of the standard deviation.
Values productGrid(const Values& first, const Values& second, double ncols, double nrows) {
  Values cells;
  double count = 0, sum = 0, squares = 0, lo = 0, hi = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (first[i] == -9999 || second[i] == -9999) {
      cells.push_back(-9999);
      continue;
    }
    const double p = second[i] * first[i];
    cells.push_back(p);
    if (!(p > -9998)) continue;
    const volatile double square = p * p;  // rounded here, whatever this test is built with
    sum += p;
    squares += square;
    count += 1;
    lo = count == 1 ? p : std::min(lo, p);
    hi = count == 1 ? p : std::max(hi, p);
  }
  const double q = squares - sum * sum / count;
  return concat({ncols, nrows, 3500000, 5600000, 25, -9999, count, lo, hi, sum, sum / count,
                 std::sqrt(q / (count - 1))},
                cells);
}

TEST_F(GridCase, SameBytesOnEveryCpu) {
  const int ncols = 301, nrows = 211;  // grids of several pieces
  const Values first = randomCells(1, ncols * nrows);
  Values second = randomCells(2, ncols * nrows);
  for (double& v : second) v = static_cast<float>(v);  // also stored in single precision
  const Values expected = productGrid(first, second, ncols, nrows);

  inputs(asText(first, ncols, nrows),
         bytesOf<float>(concat(binaryHeader(ncols, nrows), second)));
  for (const int threads : {1, 2, 8}) {  // a single grid's pieces are widened as they are used
    const ToolResult r = runTool(dir, {aName, bName, outName, "-f:d"}, {.threads = threads});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console(std::string(nrows, '.') + "\n"));
    EXPECT_TRUE(readFile(out) == bytesOf<double>(expected))
        << "text x single -> double " << threads;
  }

  inputs(bytesOf<double>(concat(binaryHeader(ncols, nrows), first)),
         bytesOf<double>(concat(binaryHeader(ncols, nrows), second)));
  EXPECT_EQ(run("-f:s").status, 0);
  EXPECT_TRUE(readFile(out) == bytesOf<float>(expected)) << "double x double -> single";
}

TEST_F(GridCase, NaNCellsAreMultipliedButNotCounted) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  inputs(gridOf(single, {nan, 2, 3}, 3, 1), gridOf(dbl, {1, 2, 3}, 3, 1));
  ASSERT_EQ(run("-f:d").status, 0);
  Values got = valuesOf<double>(readFile(out));
  EXPECT_EQ(Values(got.begin() + 6, got.begin() + 12), (Values{2, 4, 9, 13, 6.5, -9999}));
  EXPECT_TRUE(std::isnan(got[12]));
  ASSERT_EQ(run("-f:t").status, 0);
  const std::string end = textFile("-9999\n"), text = readFile(out);
  EXPECT_EQ(text.substr(text.rfind(end) + end.size()), textFile("nan\t4\t9\n"));
}

TEST_F(GridCase, SingleParameterThatIsNotAFloatIsAMismatch) {
  inputs(textHeader("3", "2", "-9999", "3500000", "5600000", "0.1") + "1 2 3 4 5 6\n",
         bytesOf<float>(concat({3, 2, 3500000, 5600000, 0.1, -9999, 0, 0, 0, 0, 0, 0}, cellsB)));
  ToolResult r = run();
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            console("5. Parameter (0.100000) in a.grd stimmt nicht\n mit dem in b.grd ueberein "
                    "(0.100000)\n"));
}

TEST_F(GridCase, FullDiskAsBinaryOutput) {
  inputs(gridOf(single, cellsA), gridOf(single, cellsB));
  for (const char* option : {"-f:s", "-f:d"}) {
    ToolResult r = run({"a.grd", "b.grd", "/dev/full", option});
    EXPECT_EQ(r.status, 4) << option;
    EXPECT_EQ(r.out, console("..\nerror writing into /dev/full \n"));
  }
  // Rows larger than the stream buffer meet the full disk while they are written.
  const double ncols = 600000;
  inputs(gridOf(single, Values(600000, 1.0), ncols, 1),
         gridOf(single, Values(600000, 2.0), ncols, 1));
  ToolResult r = run({"a.grd", "b.grd", "/dev/full", "-f:d"});
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, console("error writing row 1 in /dev/full\n"));
  r = run({"a.grd", "b.grd", "/dev/full", "-f:s"});
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out.rfind("error writing row 1, col ", 0), 0u) << r.out;
  const std::string end = console(" in /dev/full\n");
  EXPECT_EQ(r.out.substr(r.out.size() - end.size()), end);
}

}  // namespace
