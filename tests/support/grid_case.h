// Grids built in memory for end-to-end tests, and a fixture that runs the tool on them and
// checks that the inputs are never changed.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/tool_run.h"

inline std::string textHeader(const std::string& ncols, const std::string& nrows,
                              const std::string& nodata = "-9999",
                              const std::string& xll = "3500000",
                              const std::string& yll = "5600000",
                              const std::string& cellsize = "25") {
  return "ncols " + ncols + "\nnrows " + nrows + "\nxllcorner " + xll + "\nyllcorner " + yll +
         "\ncellsize " + cellsize + "\nnodata_value " + nodata + "\n";
}

// Little-endian bytes of values of type T (the test hosts are little-endian).
template <class T>
std::string bytesOf(const std::vector<double>& values) {
  std::string bytes;
  for (double v : values) {
    T t = static_cast<T>(v);
    char b[sizeof(T)];
    std::memcpy(b, &t, sizeof b);
    bytes.append(b, sizeof b);
  }
  return bytes;
}

template <class T>
std::vector<double> valuesOf(const std::string& bytes) {
  std::vector<double> values;
  for (std::size_t i = 0; i + sizeof(T) <= bytes.size(); i += sizeof(T)) {
    T t;
    std::memcpy(&t, bytes.data() + i, sizeof t);
    values.push_back(t);
  }
  return values;
}

// A header of the six parameters with an all-zero statistics block.
inline std::vector<double> binaryHeader(double ncols, double nrows, double nodata = -9999) {
  return {ncols, nrows, 3500000, 5600000, 25, nodata, 0, 0, 0, 0, 0, 0};
}

inline std::vector<double> concat(std::vector<double> a, const std::vector<double>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct GridCase : ::testing::Test {
  ScratchDir dir;
  std::string aName = "a.grd", bName = "b.grd", outName = "out.grd";
  std::string a = dir / aName, b = dir / bName, out = dir / outName;
  std::string aBytes, bBytes;

  void names(const std::string& extension) {
    aName = "a" + extension;
    bName = "b" + extension;
    outName = "out" + extension;
    a = dir / aName;
    b = dir / bName;
    out = dir / outName;
  }
  void inputs(const std::string& first, const std::string& second) {
    aBytes = first;
    bBytes = second;
    writeFile(a, first);
    writeFile(b, second);
  }
  // Checks that a run left standard error empty and the inputs unchanged.
  ToolResult checked(ToolResult r) {
    EXPECT_EQ(r.err, "");
    if (!aBytes.empty()) {
      EXPECT_EQ(readFile(a), aBytes);
    }
    if (!bBytes.empty()) {
      EXPECT_EQ(readFile(b), bBytes);
    }
    return r;
  }
  // Runs the tool with these arguments and checks the run.
  ToolResult run(const std::vector<std::string>& args, const std::string& input = "") {
    return checked(runTool(dir, args, input));
  }
  // Runs on the two inputs and the output, with an option if one is given.
  ToolResult run(const char* option = nullptr) {
    std::vector<std::string> args{aName, bName, outName};
    if (option != nullptr) args.push_back(option);
    return run(args);
  }
  // The same with every file the tool writes limited to `maxFileBytes`.
  ToolResult runWithFileLimit(const char* option, long maxFileBytes) {
    return checked(runToolWithFileLimit(dir, {aName, bName, outName, option}, maxFileBytes));
  }
};
