// Damaged inputs: grids cut at every byte, header bytes flipped, extreme dimensions and very long
// names. Every run must end with status 0 or a status of the table with its exact message,
// never a signal, and leave the inputs as they were.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "support/grid_case.h"

namespace {

using Values = std::vector<double>;
enum Kind { text, single, dbl };

// Grids whose text values all have a single digit, so that a cut inside a value either keeps
// it whole or leaves a lone "-" that is no number: the cut text reads as the original grid
// up to the cut.
const std::string textA =
    "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9\n1 2 3\n4 -9 6\n";
const std::string textB =
    "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9\n2 2 2\n3 3 -9\n";
const std::string textProduct =
    "ncols\t3\nnrows\t2\nxllcorner\t0\nyllcorner\t0\ncellsize\t1\nnodata_value\t-9\n"
    "2\t4\t6\n12\t-9\t-9\n";

const Values binaryHeaderValues = {3, 2, 0, 0, 1, -9999, 0, 0, 0, 0, 0, 0};
const Values cellsA = {1, 2, 3, 4, -9999, 6};
const Values cellsB = {2, 2, 2, 3, 3, -9999};

std::string binaryGrid(Kind kind, const Values& cells) {
  Values v = concat(binaryHeaderValues, cells);
  return kind == single ? bytesOf<float>(v) : bytesOf<double>(v);
}

bool isBlank(char c) { return c == ' ' || c == '\n'; }

std::string rowFailure(const std::string& name, int row, int valuesRead) {
  return std::string(static_cast<std::size_t>(row - 1), '.') + "error reading from " + name +
         " in row " + std::to_string(row) + " (" + std::to_string(valuesRead) +
         " values read)\n";
}

struct Outcome {
  int status;
  std::string out;
};

std::string unrecognised(const std::string& name) {
  return "could not recognise file format (ascii, single or double) for " + name + "\n";
}

std::string headerFailure(const std::string& name) {
  return "error reading fiel header from " + name + "\n";
}

// What a run gives when the named 3 x 2 text grid holds only `kept` (the other grid whole).
Outcome cutTextOutcome(const std::string& kept, const std::string& name) {
  if (kept.size() < 4) return {98, unrecognised(name)};
  std::istringstream in(kept);
  std::vector<std::string> tokens;
  for (std::string t; in >> t;) tokens.push_back(t);
  auto readable = [&](std::size_t i) { return i < tokens.size() && tokens[i] != "-"; };
  for (std::size_t i = 0; i < 12; ++i)
    if (!readable(i)) return {1, headerFailure(name)};
  for (int cell = 0; cell < 6; ++cell)
    if (!readable(12 + static_cast<std::size_t>(cell)))
      return {5, rowFailure(name, cell / 3 + 1, cell % 3)};
  return {0, "..\n"};
}

// The same for a 3 x 2 binary grid of 4- or 8-byte values cut after `kept` bytes. Detection
// needs the sixth value, the header twelve, each row three.
Outcome cutBinaryOutcome(std::size_t kept, std::size_t valueSize, const std::string& name) {
  if (kept < 6 * valueSize) return {98, unrecognised(name)};
  if (kept < 12 * valueSize) return {1, headerFailure(name)};
  const std::size_t cells = kept / valueSize - 12;
  if (cells < 6) {
    int row = static_cast<int>(cells / 3) + 1;
    return {5, rowFailure(name, row, static_cast<int>(cells % 3))};
  }
  return {0, "..\n"};
}

struct CutCase {
  Kind kind;
  std::string a, b;
  const char* option;
};

TEST_F(GridCase, InputsCutAtEveryByte) {
  const std::vector<CutCase> cases = {
      {text, textA, textB, "-f:t"},
      {single, binaryGrid(single, cellsA), binaryGrid(single, cellsB), "-f:s"},
      {dbl, binaryGrid(dbl, cellsA), binaryGrid(dbl, cellsB), "-f:d"},
  };
  for (const CutCase& c : cases) {
    for (int cutGrid = 1; cutGrid <= 2; ++cutGrid) {
      const std::string& whole = cutGrid == 1 ? c.a : c.b;
      const std::string& name = cutGrid == 1 ? aName : bName;
      for (std::size_t kept = 0; kept <= whole.size(); ++kept) {
        SCOPED_TRACE("encoding " + std::to_string(c.kind) + ", grid " +
                     std::to_string(cutGrid) + " cut to " + std::to_string(kept) + " bytes");
        const std::string cut = whole.substr(0, kept);
        inputs(cutGrid == 1 ? cut : c.a, cutGrid == 1 ? c.b : cut);
        const Outcome expected =
            c.kind == text ? cutTextOutcome(cut, name)
                           : cutBinaryOutcome(kept, c.kind == single ? 4 : 8, name);
        ToolResult r = run(c.option);
        ASSERT_EQ(r.status, expected.status) << r.out;
        ASSERT_EQ(r.out, console(expected.out));
        if (c.kind == text && r.status == 0) {
          ASSERT_EQ(readFile(out), textFile(textProduct));
        }
      }
    }
  }
}

// Grids through FIFOs, as grid 1, grid 2 or both, give the output bytes, standard output and
// status of the same grids in regular files on one processor: small ones, which detection reads
// whole, wide ones of more than a scanner buffer, ones cut in row 3, short or empty, and one
// that stays open after its bytes, beside a failure in grid 1's row 10 or in the output.
TEST_F(GridCase, InputsThroughPipesReadAsRegularFiles) {
  if (toolIsWindowsBuild()) GTEST_SKIP() << "FIFOs are POSIX; Windows gives no path to a pipe";
  Values wideCells;
  const std::string wideHeader = textHeader("500", "400");
  std::string wideText = wideHeader, row10;
  for (int i = 0; i < 500 * 400; ++i) {
    if (i == 9 * 500) row10 = wideText + "x";  // a token that is no number at row 10
    wideCells.push_back(i % 97 == 0 ? -9999 : (i * 37 % 1000) * 0.25);
    wideText += std::to_string(wideCells.back()) + (i % 500 == 499 ? "\n" : " ");
  }
  const std::string wideSingle = bytesOf<float>(concat(binaryHeader(500, 400), wideCells));
  const std::size_t row3 = wideText.find('\n', wideText.find('\n', wideHeader.size()) + 1) + 1;
  std::size_t row101 = wideHeader.size();
  for (int row = 1; row <= 100; ++row) row101 = wideText.find('\n', row101) + 1;
  // piped: 1 for grid 1, 2 for grid 2, 3 for both; says: a part of the standard output.
  struct PipeCase { std::string a, b; const char* option; int piped; const char* says;
                    bool staysOpen = false; long limit = -1; };
  std::vector<PipeCase> cases = {
      {wideText, wideText, "-f:d", 3, "..\n"},
      {wideSingle, wideText, "-f:s", 3, "..\n"},
      {wideText.substr(0, row3 + 900), wideText, "-f:t", 1, " in row 3 ("},
      {wideText, wideSingle.substr(0, 48 + 4 * 1250), "-f:t", 2, " in row 3 ("},
      {"nco", textB, "-f:t", 1, "could not recognise"},
      {textA, "", "-f:t", 2, "could not recognise"},
      {row10, wideText, "-f:t", 2, " in row 10 (", true},
      // A writer that goes silent after row 100, or 12, of grid 2: its rows are read as they
      // come, and the run ends at grid 1's row 10 at once.
      {row10, wideText.substr(0, row101), "-f:t", 2, " in row 10 (", true},
      {row10, wideSingle.substr(0, 48 + 4 * 500 * 12), "-f:t", 2, " in row 10 (", true},
      {wideText, wideText, "-f:t", 2, "error writing row", true, 300000}};
  for (int piped = 1; piped <= 3; ++piped) {
    cases.push_back({textA, textB, "-f:t", piped, "..\n"});
    for (Kind kind : {single, dbl})
      cases.push_back({binaryGrid(kind, cellsA), binaryGrid(kind, cellsB), "-f:d", piped, "..\n"});
  }
  for (const std::string& output : {outName, aName}) {  // an output naming an input is refused
    for (const PipeCase& c : cases) {
      SCOPED_TRACE("case " + std::to_string(&c - cases.data()) + ", output " + output);
      ScratchDir files, pipes;
      RunSetup throughPipes{.staysOpen = c.staysOpen, .maxFileBytes = c.limit},
          inFiles{.oneProcessor = true, .maxFileBytes = c.limit};
      for (const auto& [grid, name, bytes] : {std::tuple{1, aName, c.a}, {2, bName, c.b}}) {
        writeFile(files / name, bytes);
        if (c.piped & grid) throughPipes.fifos.emplace_back(name, bytes);
        else writeFile(pipes / name, bytes);
      }
      const std::vector<std::string> args{aName, bName, output, c.option};
      ToolResult expected = runTool(files, args, inFiles),
                 got = runTool(pipes, args, throughPipes);
      EXPECT_EQ(got.status, expected.status);
      EXPECT_EQ(got.out, expected.out);
      EXPECT_EQ(got.err, "");
      if (output == aName) continue;
      EXPECT_NE(expected.out.find(c.says), std::string::npos) << expected.out;
      EXPECT_EQ(readFile(pipes / output), readFile(files / output));
    }
  }
}

// Pairs of grids of every encoding, every fourth one so large that the rows read ahead fill
// blocks after blocks, with a failure in a random row of grid 1, of grid 2,
// of both, or in the output (a file size limit): each run gives exactly the standard output,
// status and output bytes the order of the rows defines, whatever the reader threads did
// first. Each repetition of the test (--gtest_repeat) draws other cases.
TEST_F(GridCase, FailuresInRowOrder) {
  static unsigned seed = 1208;
  std::mt19937 rng(seed++);
  const char* options[] = {"-f:t", "-f:s", "-f:d"};
  for (int n = 0; n < 40; ++n) {
    const int C = 1 + static_cast<int>(rng() % (n % 4 == 3 ? 300 : 30)),
              R = 1 + static_cast<int>(rng() % (n % 4 == 3 ? 3000 : 40));
    const char* option = options[rng() % 3];
    const unsigned failure = rng() % 5;  // none, in grid 1, in grid 2, in both, in the output
    SCOPED_TRACE("seed " + std::to_string(seed - 1) + " case " + std::to_string(n));
    std::string whole[2], cut[2];
    int kept[2] = {R * C, R * C};  // the cells before the cut
    for (unsigned g = 0; g < 2; ++g) {
      const Kind kind = static_cast<Kind>(rng() % 3);
      if (failure == 3 || failure == g + 1) kept[g] = static_cast<int>(rng() % (R * C));
      Values cells;
      std::string asText = textHeader(std::to_string(C), std::to_string(R));
      for (int i = 0; i < R * C; ++i) {
        if (i == kept[g]) cut[g] = asText;
        cells.push_back(rng() % 11 == 0 ? -9999 : rng() % 10);
        asText += std::to_string(static_cast<int>(cells[i])) + (i % C == C - 1 ? "\n" : " ");
      }
      const Values v = concat(binaryHeader(C, R), cells);
      whole[g] = kind == text ? asText : kind == single ? bytesOf<float>(v) : bytesOf<double>(v);
      const std::size_t size = kind == single ? 4 : 8;
      if (kind != text) cut[g] = whole[g].substr(0, (12 + kept[g]) * size + rng() % size);
      if (kept[g] == R * C) cut[g] = whole[g];
    }
    inputs(whole[0], whole[1]);
    ASSERT_EQ(run(option).status, 0);
    const std::string full = readFile(out);
    const std::size_t valueSize = option[3] == 's' ? 4 : 8, block = 6 * valueSize;
    // As a run that fails leaves it: the statistics block as grid 1's (zeros). Only a run that
    // fails in the output may have rewritten it, where a seek does not report the failure.
    auto provisional = [&](std::string s) {
      if (option[3] != 't' && s.size() > block)
        s.replace(block, block, std::min(block, s.size() - block), '\0');
      return s;
    };
    inputs(cut[0], cut[1]);
    // The limit holds for standard output too, which it must stay above. Outputs within a
    // stream buffer meet it at their close.
    const long limit = failure == 4 && full.size() > 100 && full.size() < (1 << 20)
                           ? static_cast<long>(100 + rng() % (full.size() - 100)) : -1;
    const ToolResult r = limit >= 0 ? runWithFileLimit(option, limit) : run(option);
    const int row = std::min(kept[0], kept[1]) / C + 1, g = kept[0] / C + 1 == row ? 0 : 1;
    std::size_t rowsEnd = (12 + static_cast<std::size_t>((row - 1) * C)) * valueSize;
    for (int lines = 0; option[3] == 't' && lines < 5 + row; ++lines)
      rowsEnd = full.find('\n', lines == 0 ? 0 : rowsEnd) + 1;
    const std::string& part = readFile(out);
    if (row <= R) {
      EXPECT_EQ(r.status, 5);
      EXPECT_EQ(r.out, console(rowFailure(g == 0 ? aName : bName, row, kept[g] % C)));
      EXPECT_EQ(part, provisional(full).substr(0, rowsEnd));
    } else if (limit >= 0) {
      EXPECT_EQ(r.status, 4);
      EXPECT_EQ(r.out, console(std::string(R, '.') + "\nerror writing into " + outName + " \n"));
      EXPECT_LE(part.size(), static_cast<std::size_t>(limit));
      EXPECT_EQ(provisional(part), provisional(full.substr(0, part.size())));
    } else {
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(part, full);
    }
  }
}

// The values a text grid gives before a read that fails at byte `at`, after its header: those
// whose number and the white space after it lie before that byte.
int valuesBefore(const std::string& grid, std::size_t at) {
  int n = 0;
  for (std::size_t i = grid.find('\n', grid.find("nodata_value")) + 1; i < at; ++i)
    n += !isBlank(grid[i - 1]) && isBlank(grid[i]);
  return n;
}

// Text grids of several pieces, with a token that is no number, a lone sign or point, or a cut
// at a random byte of either grid, or an output that fails, or a read of both grids that fails
// at a random byte: at 2 to 8 threads, on both processors or on one, each run gives the
// standard output, status and output bytes of the run on one thread. Each repetition of the
// test (--gtest_repeat) draws other cases.
TEST_F(GridCase, PiecesAtAnyThreadCount) {
  static unsigned seed = 2912;
  std::mt19937 rng(seed++);
  const char* options[] = {"-f:t", "-f:s", "-f:d"};
  const char* damage[] = {"x", "-", ".", "+.", "1e+", "1-2"};
  const auto inFull = [&] {  // a binary fraction of 18 digits, as floats are written in full
    char text[32];
    std::snprintf(text, sizeof text, "%.17f",
                  std::ldexp(rng() % (1 << 19) * 2 + 1, -17) - rng() % 2 * 4);
    return std::string(text);
  };
  for (int n = 0; n < 10; ++n) {
    // A token replaced, a cut, the output limited, a read that fails, nothing: each twice.
    const unsigned how = n % 5;
    // Outputs that fail are larger than the output's stream buffer, so that rows fail.
    const int C = 1 + static_cast<int>(rng() % 3000), R = 1 + (how == 2 ? 200000 : 50000) / C;
    SCOPED_TRACE("seed " + std::to_string(seed - 1) + " case " + std::to_string(n));
    std::string grids[2];
    for (std::string& g : grids) {
      g = textHeader(std::to_string(C), std::to_string(R));
      for (int i = 0; i < R * C; ++i)
        g += (n % 4 == 3 ? inFull()
                         : std::to_string(rng() % 2000 * 0.125 - 9) + (n % 2 ? "0000000001" : "")) +
             (i % C == C - 1 ? "\n" : " ");
    }
    std::string& hurt = grids[rng() % 2];
    const std::size_t at = textHeader("1", "1").size() + rng() % (hurt.size() - 60);
    if (how == 0) hurt.replace(hurt.find(' ', at) + 1, 0, std::string(damage[rng() % 6]) + " ");
    if (how == 1) hurt.resize(at);
    inputs(grids[0], grids[1]);
    const char* option = options[rng() % 3];
    const long limit = how == 2 ? static_cast<long>(2000 + rng() % 1400000) : -1;
    const std::size_t rows = textHeader(std::to_string(C), std::to_string(R)).size();
    const long fault = how == 3 ? static_cast<long>(rows + rng() % (hurt.size() - rows)) : -1;
    const RunSetup one{.maxFileBytes = limit, .threads = 1, .readFaultAt = fault};
    const ToolResult expected = runTool(dir, {aName, bName, outName, option}, one);
    const std::string expectedBytes = readFile(out);
    if (how == 3) {
      // The first row that either grid cannot give whole, grid 1 first.
      const int before[2] = {valuesBefore(grids[0], fault), valuesBefore(grids[1], fault)};
      const int g = before[1] / C < before[0] / C ? 1 : 0;
      EXPECT_EQ(expected.out, console(rowFailure(g == 0 ? aName : bName, before[g] / C + 1,
                                                 before[g] % C)));
    }
    for (const int threads : {2, 3, 8}) {
      const RunSetup setup{.oneProcessor = threads == 3, .maxFileBytes = limit,
                           .threads = threads, .readFaultAt = fault};
      const ToolResult r = runTool(dir, {aName, bName, outName, option}, setup);
      EXPECT_EQ(r.status, expected.status) << threads;
      EXPECT_EQ(r.out, expected.out) << threads;
      EXPECT_EQ(readFile(out), expectedBytes) << threads;
    }
  }
}

// Runs of blanks or NULs (a sparse file's hole) and long tokens between the rows of a text grid
// cost about as much on any number of threads as on one, with the same result.
TEST_F(GridCase, LongRunsBetweenRows) {
  const std::string rows = "1 2 3 4\n", header = textHeader("4", "4");
  std::string glued;
  while (glued.size() < 10'000'000) glued += "-1.5";
  const std::pair<std::string, std::size_t> runs[] = {  // bytes, and a hole after them
      {std::string(40'000'000, ' '), 0}, {"", std::size_t{2} << 30},
      {std::string(10'000'000, '7') + " ", 0}, {glued + " ", 0}};
  writeFile(b, header + rows + rows + rows + rows);
  for (const auto& [between, hole] : runs) {
    SCOPED_TRACE(std::to_string(between.size()) + " bytes, hole " + std::to_string(hole));
    writeFile(a, header + rows + between);
    std::filesystem::resize_file(a, std::filesystem::file_size(a) + hole);
    std::ofstream(a, std::ios::app) << rows << rows << rows;
    std::chrono::steady_clock::duration took[9];
    std::string bytes[9];
    ToolResult r[9];
    for (int threads : {1, 2, 8}) {
      const auto start = std::chrono::steady_clock::now();
      r[threads] = runTool(dir, {aName, bName, outName}, RunSetup{.threads = threads});
      took[threads] = std::chrono::steady_clock::now() - start;
      bytes[threads] = readFile(out);
    }
    for (int threads : {2, 8}) {
      EXPECT_TRUE(r[threads].status == r[1].status && r[threads].out == r[1].out &&
                  bytes[threads] == bytes[1]) << threads << " threads";
      EXPECT_LE(took[threads], 3 * took[1] + std::chrono::seconds(2)) << threads << " threads";
    }
  }
}

// CELLPROD_THREADS, blanks around its number allowed (cmd's `set X=5 & ...`); else the processors.
TEST_F(GridCase, ThreadCountFromTheEnvironment) {
  auto count = [&](const char* text) {
    return runTool(dir, {"thread-count"}, RunSetup{.threadsVariable = text, .testTool = true}).out;
  };
  const std::string processors = count("");  // no number: the suite may run with one set
  const RunSetup one{.oneProcessor = true, .threadsVariable = "", .testTool = true};  // affinity
  EXPECT_EQ(runTool(dir, {"thread-count"}, one).out, console("1\n"));
  for (const auto& [text, n] : {std::pair{"5 ", "5\n"}, {" 3", "3\n"}, {"\t7\t ", "7\n"},
                                {"500", "64\n"}, {"5 2", ""}, {"0 ", ""}, {"x", ""}, {" ", ""}})
    EXPECT_EQ(count(text), *n ? console(n) : processors) << text;
}

// The memory a run holds beyond one thread's is bounded, however wide the rows (a
// single-precision product of rows of a million cells on eight threads) and however short the
// numbers of a text grid, whose pieces then hold the most values.
TEST_F(GridCase, MemoryOfFurtherThreads) {
#if defined(CELLPROD_SANITIZED) || defined(CELLPROD_LAUNCHER)
  GTEST_SKIP() << "the sanitizers' and a launcher's own memory hide the tool's";
#endif
  Values v = binaryHeader(1'000'000, 4);
  v.resize(12 + 4'000'000, 2.5);
  inputs(bytesOf<float>(v), bytesOf<float>(v));
  const auto peakKiB = [&](int threads) {
    const ToolResult r = runTool(dir, {"peak-memory", CELLPROD_EXE, aName, bName, outName, "-f:s"},
                                 RunSetup{.threads = threads, .testTool = true});
    EXPECT_EQ(r.status, 0);
    return std::stol(r.err);
  };
  EXPECT_LE(peakKiB(8), peakKiB(1) + 16 * 1024);
  std::string row;
  for (int i = 0; i < 2000; ++i) row += i % 3 ? "1 " : "0 ";
  std::string text = textHeader("2000", "3000");
  for (int i = 0; i < 3000; ++i) text += row + "\n";
  inputs(text, text);
  EXPECT_LE(peakKiB(8), peakKiB(1) + 32 * 1024);
}

// An output that held more is emptied before anything reaches it, however late: one thread's bytes.
TEST_F(GridCase, OutputEmptiedLate) {
  std::string rows;  // beyond the output's stream buffer, so that rows are written during the run
  for (int i = 0; i < 400'000; ++i) rows += "1.5 ";
  const std::string g = textHeader("1000", "400") + rows, none = textHeader("1000", "0");
  for (const std::string& second :
       {textHeader("999", "400") + rows, "x" + g, textHeader("1000", "400") + "1 x", g, none}) {
    inputs(second == none ? none : g, second);
    for (const char* option : {"-f:t", "-f:s"}) {
      std::tuple<int, std::string, std::string> one;  // status, messages, output
      for (const int threads : {1, 2, 8}) {
        writeFile(out, std::string(3'000'000, 'x'));
        const ToolResult r =
            runTool(dir, {aName, bName, outName, option},
                    RunSetup{.threads = threads, .testTool = true, .emptyingDelay = 200});
        const auto result = std::tuple(r.status, r.out, readFile(out));
        if (threads == 1) one = result;
        EXPECT_TRUE(result == one) << threads << option << second.substr(0, 20);
      }
    }
  }
}

// Reading a file by position, as the pieces are read, leaves its stream where it was: where the
// run reads the file through its stream after all, it goes on from there (a positional read
// moves the file pointer of its own handle on Windows).
TEST_F(GridCase, PositionalReadsLeaveTheStream) {
  std::string bytes;
  for (int i = 0; i < 10000; ++i) bytes += static_cast<char>('a' + i % 23);
  writeFile(a, bytes);
  const ToolResult r = runTool(dir, {"positional-check", aName}, RunSetup{.testTool = true});
  EXPECT_EQ(r.status, 0) << r.err;
}

// Takes `prefix` off the front of s if s starts with it.
bool take(std::string_view& s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return false;
  s.remove_prefix(prefix.size());
  return true;
}

// Takes a run of characters from `allowed` (at least one) off the front of s.
bool takeRun(std::string_view& s, std::string_view allowed, std::string* taken = nullptr) {
  std::size_t n = 0;
  while (n < s.size() && allowed.find(s[n]) != std::string_view::npos) ++n;
  if (taken != nullptr) *taken = std::string(s.substr(0, n));
  s.remove_prefix(n);
  return n > 0;
}

constexpr std::string_view digits = "0123456789";
constexpr std::string_view numberText = "0123456789.e+-infa";

bool takeInput(std::string_view& s, const std::string& a, const std::string& b) {
  return take(s, a) || take(s, b);
}

// Whether a run's standard output is exactly what its status stands for: the dots of the rows
// done, then the message of the table for that status naming the inputs, or the final line end
// of a complete run.
bool isTableOutcome(const ToolResult& r, const std::string& a, const std::string& b) {
  // What the tool wrote, before the console's text mode turned each "\n" into "\r\n".
  std::string written;
  for (std::size_t i = 0; i < r.out.size(); ++i)
    if (r.out.compare(i, 2, "\r\n") != 0) written.push_back(r.out[i]);
  if (console(written) != r.out) return false;
  std::string_view s = written;
  std::string dots, row;
  takeRun(s, ".", &dots);
  switch (r.status) {
    case 0: return s == "\n";
    case 1: return dots.empty() && take(s, "error reading fiel header from ") &&
                   takeInput(s, a, b) && s == "\n";
    case 2:
      return dots.empty() && takeRun(s, "123456") && take(s, ". Parameter (") &&
             takeRun(s, numberText) && take(s, ") in " + a + " stimmt nicht\n mit dem in " + b +
                                                   " ueberein (") &&
             takeRun(s, numberText) && s == ")\n";
    case 3:
      if (take(s, "not enough memory for rows of "))
        return dots.empty() && takeRun(s, digits) && s == " columns\n";
      return dots.empty() && take(s, "unusable grid size in " + a + ": ncols ") &&
             takeRun(s, numberText) && take(s, ", nrows ") && takeRun(s, numberText) &&
             s == "\n";
    case 5:
      // A failing row r comes after the r - 1 dots of the rows before it.
      return take(s, "error reading from ") && takeInput(s, a, b) && take(s, " in row ") &&
             takeRun(s, digits, &row) && std::stoul(row) == dots.size() + 1 && take(s, " (") &&
             takeRun(s, digits) && s == " values read)\n";
    case 98:
      return dots.empty() &&
             take(s, "could not recognise file format (ascii, single or double) for ") &&
             takeInput(s, a, b) && s == "\n";
    default: return false;
  }
}

// After a complete run into a binary output, the file holds the header and the rows its own
// header announces, and a dot was printed for each row.
void expectConsistentBinaryOutput(const ToolResult& r, const std::string& bytes, bool isSingle) {
  const Values header = isSingle ? valuesOf<float>(bytes.substr(0, 48))
                                 : valuesOf<double>(bytes.substr(0, 96));
  ASSERT_EQ(header.size(), 12u);
  const double rows = std::max(0.0, std::floor(header[1]));
  const double cells = std::floor(header[0]) * rows;
  const std::size_t size = isSingle ? 4 : 8;
  EXPECT_EQ(bytes.size(), size * (12 + static_cast<std::size_t>(cells)));
  EXPECT_EQ(r.out, console(std::string(static_cast<std::size_t>(rows), '.') + "\n"));
}

struct Flip {
  std::size_t byte;
  unsigned char mask;
  bool inGrid2;  // grid 1 always; in both grids the damaged dimensions pass the compatibility check
};

// Flips every header byte of grid 1 (all bits), and of both grids (all bits; and the lowest and
// the highest bit of the six parameters: a neighbouring value, a sign). The header of a text
// grid gets its lowest bits flipped in both grids (a neighbouring digit, a '!' for a blank, a
// vertical tab for a line end) and all bits in grid 1 (bytes beyond ASCII).
std::vector<Flip> headerFlips(std::size_t headerBytes, std::size_t parameterBytes, bool isText) {
  std::vector<Flip> flips;
  for (std::size_t i = 0; i < headerBytes; ++i) {
    flips.push_back({i, 0xFF, false});
    if (isText) {
      flips.push_back({i, 0x01, true});
      continue;
    }
    flips.push_back({i, 0xFF, true});
    if (i < parameterBytes) {
      flips.push_back({i, 0x01, true});
      flips.push_back({i, 0x80, true});
    }
  }
  return flips;
}

TEST_F(GridCase, FlippedHeaderBytes) {
  struct FlipCase {
    Kind kind;
    std::string a, b;
    std::vector<Flip> flips;
    const char* option;
  };
  const std::vector<FlipCase> cases = {
      {single, binaryGrid(single, cellsA), binaryGrid(single, cellsB), headerFlips(48, 24, false),
       "-f:s"},
      {dbl, binaryGrid(dbl, cellsA), binaryGrid(dbl, cellsB), headerFlips(96, 48, false), "-f:d"},
      {text, textA, textB, headerFlips(textA.find("\n1 "), 0, true), "-f:s"},
  };
  for (const FlipCase& c : cases) {
    for (const Flip& f : c.flips) {
      SCOPED_TRACE("encoding " + std::to_string(c.kind) + ", byte " + std::to_string(f.byte) +
                   " ^ " + std::to_string(f.mask) + (f.inGrid2 ? " in both grids" : ""));
      std::string first = c.a, second = c.b;
      first[f.byte] = static_cast<char>(first[f.byte] ^ f.mask);
      if (f.inGrid2) second[f.byte] = static_cast<char>(second[f.byte] ^ f.mask);
      inputs(first, second);
      ToolResult r = run(c.option);
      EXPECT_TRUE(isTableOutcome(r, aName, bName)) << "status " << r.status << ": " << r.out;
      if (r.status == 0) expectConsistentBinaryOutput(r, readFile(out), c.kind != dbl);
    }
  }
}

// Dimensions at and beyond the limits, the same in both grids, in double-precision and (where
// the text can hold them) text grids.
TEST_F(GridCase, ExtremeDimensions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Dimensions {
    double ncols, nrows;
    const char* ncolsText;  // nullptr where a text grid cannot hold the value
    const char* nrowsText;
    int status;
    std::string out;  // with "@" for grid 1's name
  };
  const std::string twoRows = "..\n";
  const std::vector<Dimensions> table = {
      {0, 2, "0", "2", 0, twoRows},
      {0.5, 2, "0.5", "2", 0, twoRows},
      {-0.5, 2, "-0.5", "2", 3, "unusable grid size in @: ncols -0.5, nrows 2\n"},
      {-1, 2, "-1", "2", 3, "unusable grid size in @: ncols -1, nrows 2\n"},
      {nan, 2, nullptr, "2", 2,
       "1. Parameter (nan) in @ stimmt nicht\n mit dem in # ueberein (nan)\n"},
      {inf, 2, "1e999", "2", 3, "unusable grid size in @: ncols inf, nrows 2\n"},
      {-inf, 2, "-1e999", "2", 3, "unusable grid size in @: ncols -inf, nrows 2\n"},
      {2147483647, 2, "2147483647", "2", 3,
       "unusable grid size in @: ncols 2.14748e+009, nrows 2\n"},
      {1e300, 2, "1e300", "2", 3, "unusable grid size in @: ncols 1e+300, nrows 2\n"},
      {3, 0, "3", "0", 0, "\n"},
      {3, 0.5, "3", "0.5", 0, "\n"},
      {3, -0.5, "3", "-0.5", 0, "\n"},
      {3, -1, "3", "-1", 0, "\n"},
      {3, nan, nullptr, nullptr, 2,
       "2. Parameter (nan) in @ stimmt nicht\n mit dem in # ueberein (nan)\n"},
      {3, inf, "3", "1e999", 3, "unusable grid size in @: ncols 3, nrows inf\n"},
      {3, -inf, "3", "-1e999", 3, "unusable grid size in @: ncols 3, nrows -inf\n"},
      {3, 2147483646, "3", "2147483646", 5, "..error reading from @ in row 3 (0 values read)\n"},
      {3, 2147483647, "3", "2147483647", 3,
       "unusable grid size in @: ncols 3, nrows 2.14748e+009\n"},
      {3, 1e300, "3", "1e300", 3, "unusable grid size in @: ncols 3, nrows 1e+300\n"},
  };
  auto named = [&](std::string s) {
    for (std::size_t p; (p = s.find('@')) != std::string::npos;) s.replace(p, 1, aName);
    for (std::size_t p; (p = s.find('#')) != std::string::npos;) s.replace(p, 1, bName);
    return s;
  };
  for (const Dimensions& d : table) {
    SCOPED_TRACE("ncols " + std::to_string(d.ncols) + ", nrows " + std::to_string(d.nrows));
    Values header = {d.ncols, d.nrows, 0, 0, 1, -9999, 0, 0, 0, 0, 0, 0};
    inputs(bytesOf<double>(concat(header, cellsA)), bytesOf<double>(concat(header, cellsB)));
    ToolResult r = run("-f:d");
    EXPECT_EQ(r.status, d.status);
    EXPECT_EQ(r.out, console(named(d.out)));
    if (d.status == 0) {
      EXPECT_EQ(readFile(out).size(), 96u);  // header and statistics, no cells
    }
    if (d.ncolsText != nullptr && d.nrowsText != nullptr) {
      const std::string cells = "1 2 3\n4 5 6\n";
      inputs(textHeader(d.ncolsText, d.nrowsText) + cells,
             textHeader(d.ncolsText, d.nrowsText) + cells);
      r = run();
      EXPECT_EQ(r.status, d.status);
      EXPECT_EQ(r.out, console(named(d.out)));
    }
  }
}

// ncols one below the limit: rows of 2^31 - 2 doubles are reserved without being touched, so
// the first short row ends the run at once, unless the system refuses that much address space.
TEST_F(GridCase, LargestUsableColumnCount) {
#ifdef CELLPROD_SANITIZED
  GTEST_SKIP() << "the sanitizers map shadow memory for all of the 56 GB reserved";
#else
  Values header = {2147483646, 2, 0, 0, 1, -9999, 0, 0, 0, 0, 0, 0};
  inputs(bytesOf<double>(concat(header, cellsA)), bytesOf<double>(concat(header, cellsB)));
  ToolResult r = run("-f:d");
  if (r.status == 3) {
    EXPECT_EQ(r.out, console("not enough memory for rows of 2147483646 columns\n"));
  } else {
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, console("error reading from a.grd in row 1 (6 values read)\n"));
  }
#endif
}

// Names longer than any path the system takes are still used whole: in the message for an
// input that cannot be opened, and in the dialogue for an output.
// Memory that runs out while row r is read (a number's digits, a test seam), on whichever
// thread meets it, in a piece read again by the main thread or in a reader's block: r - 1 dots,
// rows 1 to r - 1 on disk and the memory status, at every thread count, one included.
TEST_F(GridCase, MemoryRunningOutInARow) {
  constexpr int rows = 3000, columns = 10, shortRow = 2500;
  std::string grid = textHeader("10", "3000"), plain = grid;
  for (int i = 0; i < rows * columns; ++i) {
    const std::string cell = std::to_string(i % 997) + (i % columns == columns - 1 ? "\n" : " ");
    plain += cell;
    grid += i == (shortRow - 1) * columns + 3 ? "1" + std::string(std::size_t{2} << 20, '0') + " "
                                              : cell;
  }
  for (const std::string format : {"-f:t", "-f:s"}) {
    inputs(plain, plain);
    ASSERT_EQ(run(format.c_str()).status, 0);
    std::string before = readFile(out);  // the first shortRow - 1 rows of the whole product
    if (format == "-f:s") {  // with the provisional statistics block of a text grid 1: zeros
      before.resize(48 + (shortRow - 1) * columns * 4);
      std::fill(before.begin() + 24, before.begin() + 48, '\0');
    } else {
      std::size_t end = 0;
      for (int line = 0; line < 6 + shortRow - 1; ++line) end = before.find('\n', end) + 1;
      before.resize(end);
    }
    writeFile(a, grid);
    for (int threads : {1, 2, 8}) {
      const ToolResult r = runTool(dir, {aName, bName, outName, format},
                                   RunSetup{.threads = threads, .digitsInMemory = 100});
      EXPECT_EQ(r.status, 3) << format << threads;
      EXPECT_EQ(r.out, console(std::string(shortRow - 1, '.') + "not enough memory\n"));
      EXPECT_TRUE(readFile(out) == before) << format << " " << threads << " threads";
    }
#ifndef CELLPROD_WINDOWS_TARGET
    const std::string fifo = "fifo" + format + ".asc";
    const ToolResult piped =
        runTool(dir, {fifo, bName, outName, format},
                {.fifos = {{fifo, grid}}, .threads = 2, .digitsInMemory = 100});
    EXPECT_EQ(piped.out, console(std::string(shortRow - 1, '.') + "not enough memory\n"));
    EXPECT_TRUE(readFile(out) == before) << format << " through a pipe";
#endif
  }
}

// From the least address space the tool starts in to more than two reader threads take, a run
// on two, four or eight threads ends as on one: complete, or with status 3, never by a
// signal; also where cells need the exact conversion, which takes memory on whichever thread
// reads them.
TEST_F(GridCase, ShortMemory) {
#if defined(CELLPROD_SANITIZED) || defined(CELLPROD_LAUNCHER)
  GTEST_SKIP() << "the sanitizers and the launchers need more address space than they limit";
#endif
  std::string grid = textHeader("4000", "30");
  for (int i = 0; i < 4000 * 30; ++i)
    grid += (i % 3001 == 7 ? "9007199254740993.00000000000001" : std::to_string(i % 997)) +
            (i % 4000 ? " " : "\n");
  inputs(grid, grid);
  auto runAt = [&](long limit, int threads) {
    const RunSetup setup{.oneProcessor = threads == 1, .addressSpace = limit, .threads = threads};
    ToolResult r = runTool(dir, {aName, bName, outName}, setup);
    return std::pair{r, readFile(out)};
  };
  const std::string whole = runAt(-1, 1).second;
  for (long l = 4 << 20; l <= 48 << 20; l += 1 << 20) {
    const auto [one, oneBytes] = runAt(l, 1);
    if (one.status == 127) continue;  // the loader could not map the tool
    EXPECT_TRUE(one.status == 0 ? oneBytes == whole : one.out.starts_with("not enough memory"))
        << l << " " << one.status << one.out << one.err;
    for (int threads : {2, 4, 8}) {
      const auto [two, twoBytes] = runAt(l, threads);
      EXPECT_TRUE(one.err + two.err == "" && two.status == one.status && two.out == one.out &&
                  twoBytes == oneBytes && (l < 48 << 20 || one.status == 0)) << l << " " << threads;
    }
  }
}

TEST_F(GridCase, NamesBeyondThePathLimit) {
  inputs(textA, textB);
  const std::string longName = std::string(4096, 'n') + ".asc";
  ToolResult r = run({longName, bName, outName});
  EXPECT_EQ(r.status, 98);
  EXPECT_EQ(r.out, console("could not open input file " + longName + "\n"));
  r = run({aName, longName, outName});
  EXPECT_EQ(r.status, 98);
  EXPECT_EQ(r.out, console("could not open input file " + longName + "\n"));
  r = run({aName, bName, longName}, "out.asc\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, console("error opening output grid " + longName +
                           " \r\nplease enter new output file name: \r\n..\n"));
  EXPECT_EQ(readFile(dir / "out.asc"), textFile(textProduct));
}

// Paths of about 1,000 and 4,000 characters through nested directories, for both inputs and
// the output.
TEST_F(GridCase, LongPathsThroughNestedDirectories) {
  for (int levels : {4, 16}) {
    std::string path;
    for (int i = 0; i < levels; ++i) path += std::string(240, static_cast<char>('d' + i)) + "/";
    std::filesystem::create_directories(dir.path / path);
    const std::string longA = path + "a.asc", longB = path + "b.asc", longOut = path + "o.asc";
    SCOPED_TRACE(std::to_string(longOut.size()) + " characters");
    writeFile(dir / longA, textA);
    writeFile(dir / longB, textB);
    ToolResult r = run({longA, longB, longOut});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console("..\n"));
    EXPECT_EQ(readFile(dir / longOut), textFile(textProduct));
    EXPECT_EQ(readFile(dir / longA), textA);
    r = run({longA, path + "missing.asc", longOut});
    EXPECT_EQ(r.out, console("could not open input file " + path + "missing.asc\n"));
  }
}

}  // namespace
