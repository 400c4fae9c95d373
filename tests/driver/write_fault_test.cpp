// Outputs that cannot be written whole: a file size limit makes every write beyond it fail, as
// a full disk would. The run must end with status 4 or 6 and the message naming the output,
// never with status 0 and a short file; what did reach the file is the start of the real output.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/grid_case.h"

namespace {

using Values = std::vector<double>;

struct Output {
  const char* option;
  std::size_t statisticsBegin, statisticsEnd;  // the block rewritten at the end, if any
};

const Output outputs[] = {{"-f:t", 0, 0}, {"-f:s", 24, 48}, {"-f:d", 48, 96}};

// Single-precision inputs of ncols x nrows cells.
void singleInputs(GridCase& c, int ncols, int nrows) {
  Values a, b;
  for (int i = 0; i < ncols * nrows; ++i) {
    a.push_back(0.25 * (i % 97));
    b.push_back(i % 13 == 0 ? -9999 : 1.5 + i % 7);
  }
  c.inputs(bytesOf<float>(concat(binaryHeader(ncols, nrows), a)),
           bytesOf<float>(concat(binaryHeader(ncols, nrows), b)));
}

// Whether `part` is the start of `whole`, leaving out the statistics block, which still holds
// the provisional values in a file that was cut short.
bool isStartOf(const std::string& part, const std::string& whole, const Output& o) {
  if (part.size() > whole.size()) return false;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (i >= o.statisticsBegin && i < o.statisticsEnd) continue;
    if (part[i] != whole[i]) return false;
  }
  return true;
}

// Outputs smaller than the stream buffer meet the limit when the file is flushed: at the seek
// back into a binary header, or when the output is closed.
TEST_F(GridCase, FileSizeLimitBelowASmallOutput) {
  const int ncols = 50, nrows = 4;
  singleInputs(*this, ncols, nrows);
  for (const Output& o : outputs) {
    SCOPED_TRACE(o.option);
    ASSERT_EQ(run(o.option).status, 0);
    const std::string whole = readFile(out);
    const long size = static_cast<long>(whole.size());
    for (long limit : {100L, 128L, 500L, size / 2, size - 1}) {
      SCOPED_TRACE("limit " + std::to_string(limit));
      ToolResult r = runWithFileLimit(o.option, limit);
      EXPECT_EQ(r.status, 4);
      EXPECT_EQ(r.out, console("....\nerror writing into out.grd \n"));
      const std::string part = readFile(out);
      EXPECT_LE(static_cast<long>(part.size()), limit);
      EXPECT_TRUE(isStartOf(part, whole, o));
    }
    ToolResult r = runWithFileLimit(o.option, size);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console("....\n"));
    EXPECT_EQ(readFile(out), whole);
    if (toolIsWindowsBuild()) continue;  // FIFOs are POSIX
    // A standard output whose reader has gone loses the dots, nothing else.
    r = checked(runTool(dir, {aName, bName, outName, o.option},
                        RunSetup{.readerFifos = {{"gone", 0}}, .stdoutTo = "gone"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(out), whole);
    std::filesystem::remove(dir / "gone");
  }
}

// Outputs larger than the stream buffer meet the limit while a row is written.
TEST_F(GridCase, FileSizeLimitInTheMiddleOfALargeOutput) {
  const int ncols = 500, nrows = 1000;
  singleInputs(*this, ncols, nrows);
  for (const Output& o : outputs) {
    SCOPED_TRACE(o.option);
    ASSERT_EQ(run(o.option).status, 0);
    const std::string whole = readFile(out);
    const long limit = static_cast<long>(whole.size()) / 2;
    ToolResult r = runWithFileLimit(o.option, limit);
    EXPECT_EQ(r.status, 6);
    // The dots of the finished rows, then the message for the row that failed.
    const std::size_t dots = r.out.find_first_not_of('.');
    ASSERT_NE(dots, std::string::npos) << r.out;
    const long row = static_cast<long>(dots) + 1;
    EXPECT_GT(row, 1);
    EXPECT_LE(row, nrows);
    const std::string rest = r.out.substr(dots);
    const std::string message = "error writing row " + std::to_string(row);
    if (o.option[3] == 's') {
      // The column that did not reach the file.
      const std::string prefix = message + ", col ";
      ASSERT_EQ(rest.substr(0, prefix.size()), prefix) << r.out;
      std::size_t end = 0;
      const long column = std::stol(rest.substr(prefix.size()), &end);
      EXPECT_GE(column, 1);
      EXPECT_LE(column, ncols);
      EXPECT_EQ(rest.substr(prefix.size() + end), console(" in out.grd\n"));
    } else {
      EXPECT_EQ(rest, console(message + " in out.grd\n"));
    }
    const std::string part = readFile(out);
    EXPECT_LE(static_cast<long>(part.size()), limit);
    EXPECT_TRUE(isStartOf(part, whole, o));
    // An output pipe whose reader goes away fails as a file that cannot grow at all.
    if (toolIsWindowsBuild()) continue;  // FIFOs are POSIX
    ScratchDir piped;
    writeFile(piped / aName, aBytes);
    writeFile(piped / bName, bBytes);
    const RunSetup readerGoes{.readerFifos = {{outName, 100}}};
    EXPECT_EQ(runTool(piped, {aName, bName, outName, o.option}, readerGoes).out,
              runWithFileLimit(o.option, 1000).out);
  }
}

}  // namespace
