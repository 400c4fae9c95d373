// Runs the built tool on text grids made by each test and checks every byte it produces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/grid_case.h"

namespace {

const std::string usage =
    "Cellprod: multiplies grid_1 and grid_2 on a cell by cell basis\n"
    "usage : cellprod <grid_1> <grid_2> <outgrid(1*2)> [-f:t|s|d]\n"
    "-f:t|s|d output format. t=text (with double precision, this is default), s=single "
    "precision, d=double precision\n";

const std::string outHeader2x3 =
    "ncols\t3\nnrows\t2\nxllcorner\t3.5e+006\nyllcorner\t5.6e+006\ncellsize\t25\n"
    "nodata_value\t-9999\n";

// Text inputs named like text grids.
struct TextCase : GridCase {
  TextCase() { names(".asc"); }
};

TEST_F(TextCase, FewerThanThreeArgumentsPrintUsage) {
  for (auto args : std::vector<std::vector<std::string>>{{}, {"a.asc"}, {"a.asc", "b.asc"}}) {
    ToolResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, console(usage));
  }
  EXPECT_FALSE(fileExists(out));
}

TEST_F(TextCase, ProductWithEmptyCells) {
  inputs(textHeader("3", "2") + "1 2 3\n-9999 5 6\n",
         textHeader("3", "2") + "10 -9999 0.5\n-9999 1e6 -2\n");
  ToolResult r = run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, console("..\n"));
  EXPECT_EQ(readFile(out), textFile(outHeader2x3 + "10\t-9999\t1.5\n-9999\t5e+006\t-12\n"));
}

TEST_F(TextCase, ValuesNeedNotFollowTheLines) {
  inputs(textHeader("3", "2") + "1 2\n3 4\t\t5 6",
         textHeader("3", "2") + "1\n1\n1\n1\n1\n1\n");
  EXPECT_EQ(run().status, 0);
  EXPECT_EQ(readFile(out), textFile(outHeader2x3 + "1\t2\t3\n4\t5\t6\n"));
}

TEST_F(TextCase, CrlfInputsReadLikeLf) {
  std::string grid = "ncols 3\r\nnrows 2\r\nxllcorner 3500000\r\nyllcorner 5600000\r\n"
                     "cellsize 25\r\nnodata_value -9999\r\n1 2 3\r\n4 5 6\r\n";
  inputs(grid, grid);
  EXPECT_EQ(run().status, 0);
  EXPECT_EQ(readFile(out), textFile(outHeader2x3 + "1\t4\t9\n16\t25\t36\n"));
}

// On Windows a text input ends at its first Ctrl-Z byte; elsewhere the byte is read like any
// other, and a keyword may hold it.
TEST_F(TextCase, CtrlZEndsATextInputOnWindows) {
  const std::string ctrlZ = "\x1a";
  std::string grid = textHeader("3", "2") + "1 2 3\n4 5 6\n";
  grid.insert(grid.find(" 3500000"), ctrlZ);  // the keyword "xllcorner" and a Ctrl-Z
  inputs(grid, textHeader("3", "2") + "1 1 1 1 1 1\n");
  ToolResult r = run();
  if (toolIsWindowsBuild()) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, console("error reading fiel header from a.asc\n"));
    EXPECT_EQ(readFile(out), "");
  } else {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "..\n");
    EXPECT_EQ(readFile(out), outHeader2x3 + "1\t2\t3\n4\t5\t6\n");
  }

  // Cut in row 2 by a Ctrl-Z: the row fails there on both, as an end of input or as no number.
  inputs(textHeader("3", "2") + "1 2 3\n4 " + ctrlZ + "5 6\n",
         textHeader("3", "2") + "1 1 1 1 1 1\n");
  r = run();
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out, console(".error reading from a.asc in row 2 (1 values read)\n"));
  EXPECT_EQ(readFile(out), textFile(outHeader2x3 + "1\t2\t3\n"));

  // After the last row it is never read.
  inputs(textHeader("3", "2") + "1 2 3\n4 5 6\n" + ctrlZ + "x",
         textHeader("3", "2") + "1 1 1 1 1 1\n");
  r = run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(out), textFile(outHeader2x3 + "1\t2\t3\n4\t5\t6\n"));
}

TEST_F(TextCase, KeywordsAreNotExamined) {
  inputs("ncolumns 2\nROWS 1\nx 0\ny 0\nsize 1\nnd -1\n3 4\n",
         "ncols 2e0\nnrows 1.0\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -1\n2 2\n");
  EXPECT_EQ(run().status, 0);
  EXPECT_EQ(
      readFile(out),
      textFile("ncols\t2\nnrows\t1\nxllcorner\t0\nyllcorner\t0\ncellsize\t1\nnodata_value\t-1\n"
               "6\t8\n"));
}

TEST_F(TextCase, OptionsThatGiveText) {
  inputs(textHeader("3", "2") + "1 2 3 4 5 6\n", textHeader("3", "2") + "2 2 2 2 2 2\n");
  const std::string expected = outHeader2x3 + "2\t4\t6\n8\t10\t12\n";
  for (const char* option : {"-f:t", "-f:", "-f:S", "-F:s", "-fs", "s", "a:b-f:d", "-f:D"}) {
    ToolResult r = run({"a.asc", "b.asc", "out.asc", option});
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.out, console("..\n")) << option;
    EXPECT_EQ(readFile(out), textFile(expected)) << option;
  }
  ToolResult r = run({"a.asc", "b.asc", "out.asc", "-f:t", "-f:s", "-f:d"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(out), textFile(expected));
}

TEST_F(TextCase, MismatchInEachParameter) {
  const std::vector<std::vector<std::string>> second = {
      {"4", "2", "-9999", "3500000", "5600000", "25"},
      {"3", "2.5", "-9999", "3500000", "5600000", "25"},
      {"3", "2", "-9999", "3500000.0000001", "5600000", "25"},
      {"3", "2", "-9999", "3500000", "5600001", "25"},
      {"3", "2", "-9999", "3500000", "5600000", "0.1"},
      {"3", "2", "0", "3500000", "5600000", "25"}};
  const std::vector<std::string> expected = {
      "1. Parameter (3.000000) in a.asc stimmt nicht\n mit dem in b.asc ueberein (4.000000)\n",
      "2. Parameter (2.000000) in a.asc stimmt nicht\n mit dem in b.asc ueberein (2.500000)\n",
      "3. Parameter (3500000.000000) in a.asc stimmt nicht\n mit dem in b.asc ueberein "
      "(3500000.000000)\n",
      "4. Parameter (5600000.000000) in a.asc stimmt nicht\n mit dem in b.asc ueberein "
      "(5600001.000000)\n",
      "5. Parameter (25.000000) in a.asc stimmt nicht\n mit dem in b.asc ueberein (0.100000)\n",
      "6. Parameter (-9999.000000) in a.asc stimmt nicht\n mit dem in b.asc ueberein "
      "(0.000000)\n"};
  for (std::size_t k = 0; k < second.size(); ++k) {
    const auto& p = second[k];
    inputs(textHeader("3", "2") + "1 2 3 4 5 6\n",
           textHeader(p[0], p[1], p[2], p[3], p[4], p[5]) + "1 2 3 4 5 6\n");
    ToolResult r = run();
    EXPECT_EQ(r.status, 2) << k;
    EXPECT_EQ(r.out, console(expected[k]));
    EXPECT_EQ(readFile(out), "");  // created before the headers were read
  }
}

TEST_F(TextCase, OnlyTheFirstMismatchIsReported) {
  inputs(textHeader("3", "2") + "1\n", textHeader("3", "2", "0", "1", "2", "3") + "1\n");
  ToolResult r = run();
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out.substr(0, 3), "3. ");
}

TEST_F(TextCase, FractionalDimensions) {
  inputs(textHeader("3.9", "2.7") + "1 2 3\n4 5 6\n7 8 9\n",
         textHeader("3.9", "2.7") + "1 1 1\n1 1 1\n1 1 1\n");
  ToolResult r = run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, console("..\n"));
  EXPECT_EQ(readFile(out),
            textFile("ncols\t3\nnrows\t2\nxllcorner\t3.5e+006\nyllcorner\t5.6e+006\ncellsize\t25\n"
                     "nodata_value\t-9999\n1\t2\t3\t4\t5\t6\t"));
}

TEST_F(TextCase, NoRowsGiveTheHeaderOnly) {
  for (const char* nrows : {"0", "0.5", "-3"}) {
    inputs(textHeader("2", nrows), textHeader("2", nrows));
    ToolResult r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console("\n"));
    std::string rows = std::string(nrows) == "-3" ? "-3" : "0";
    EXPECT_EQ(readFile(out), textFile("ncols\t2\nnrows\t" + rows +
                                      "\nxllcorner\t3.5e+006\nyllcorner\t5.6e+006\ncellsize\t25\n"
                                      "nodata_value\t-9999\n"));
  }
}

TEST_F(TextCase, HeaderKeepsTheGeoreference) {
  inputs(textHeader("1", "1", "-9999.5", "3500000.5", "5600025", "0.1") + "2\n",
         textHeader("1", "1", "-9999.5", "3500000.5", "5600025", "0.1") + "3\n");
  EXPECT_EQ(run().status, 0);
  EXPECT_EQ(readFile(out),
            textFile("ncols\t1\nnrows\t1\nxllcorner\t3500000.5\nyllcorner\t5600025\ncellsize\t0.1\n"
                     "nodata_value\t-9999.5\n6\n"));
}

// Empty cells are spelt as the header spells nodata_value, however many digits that needs, so
// that they read back as empty; every other cell keeps six significant digits.
TEST_F(TextCase, EmptyCellsKeepTheHeaderSpellingOfNodata) {
  const std::string grid = textHeader("2", "1", "-99999.99", "0", "0", "1") + "-99999.99 2\n";
  inputs(grid, grid);
  EXPECT_EQ(run().status, 0);
  const std::string header =
      "ncols\t2\nnrows\t1\nxllcorner\t0\nyllcorner\t0\ncellsize\t1\nnodata_value\t-99999.99\n";
  EXPECT_EQ(readFile(out), textFile(header + "-99999.99\t4\n"));
  // The output read as both inputs: the empty cell stays empty.
  ToolResult r = run({"out.asc", "out.asc", "twice.asc"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "twice.asc"), textFile(header + "-99999.99\t16\n"));

  // The lowest float, the usual marker of float rasters, as GIS programs write it: an empty
  // cell in either grid, and a product that equals the marker, take the header's spelling;
  // -99999.99 is an ordinary value here and gets six digits.
  const std::string lowest = "-3.4028234663852885981e+38";
  const std::string header2 = textHeader("4", "1", lowest, "0", "0", "1");
  inputs(header2 + lowest + " 3 -1.7014117331926443e+38 -99999.99\n",
         header2 + "2 " + lowest + " 2 1\n");
  EXPECT_EQ(run().status, 0);
  const std::string spelt = "-3.4028234663852886e+038";
  EXPECT_EQ(readFile(out),
            textFile("ncols\t4\nnrows\t1\nxllcorner\t0\nyllcorner\t0\ncellsize\t1\n"
                     "nodata_value\t" + spelt + "\n" +
                     spelt + "\t" + spelt + "\t" + spelt + "\t-100000\n"));

  // Binary outputs are not affected: their cells hold the value itself.
  inputs(grid, grid);
  EXPECT_EQ(run("-f:d").status, 0);
  const std::vector<double> cells = valuesOf<double>(readFile(out).substr(96));
  EXPECT_EQ(cells, (std::vector<double>{-99999.99, 4}));
}

TEST_F(TextCase, ProductsInExponentFormAndNotFinite) {
  inputs(textHeader("6", "1") + "1e200 -1e200 1e400 1234567 0.00001 0.0001\n",
         textHeader("6", "1") + "1e200 1e200 0 1 1 1\n");
  EXPECT_EQ(run().status, 0);
  EXPECT_EQ(readFile(out), textFile("ncols\t6\nnrows\t1\nxllcorner\t3.5e+006\nyllcorner\t5.6e+006\n"
                                    "cellsize\t25\nnodata_value\t-9999\n"
                                    "inf\t-inf\tnan\t1.23457e+006\t1e-005\t0.0001\n"));
}

TEST_F(TextCase, UnreadableHeaderValue) {
  for (std::string grid : {std::string("ncols 3\nnrows"), std::string("ncols 3\nnrows x\n"),
                           textHeader("3", "2").substr(0, 60), std::string("ncol")}) {
    inputs(grid, textHeader("3", "2") + "1 2 3 4 5 6\n");
    ToolResult r = run();
    EXPECT_EQ(r.status, 1) << grid;
    EXPECT_EQ(r.out, console("error reading fiel header from a.asc\n"));
  }
  inputs(textHeader("3", "2") + "1 2 3 4 5 6\n", "ncols 3 nrows 2 xllcorner inf");
  ToolResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, console("error reading fiel header from b.asc\n"));
}

TEST_F(TextCase, UnreadableCellEndsTheRunInItsRow) {
  struct Cut {
    std::string rows;
    std::string message;
  };
  for (const Cut& c : std::vector<Cut>{
           {"1 2 3\n4 5", ".error reading from a.asc in row 2 (2 values read)\n"},
           {"1 2 3\n4 inf 6\n", ".error reading from a.asc in row 2 (1 values read)\n"},
           {"nan 2 3\n4 5 6\n", "error reading from a.asc in row 1 (0 values read)\n"},
           {"0x10 2 3\n4 5 6\n", "error reading from a.asc in row 1 (1 values read)\n"},
           {"", "error reading from a.asc in row 1 (0 values read)\n"}}) {
    inputs(textHeader("3", "2") + c.rows, textHeader("3", "2") + "1 1 1 1 1 1\n");
    ToolResult r = run();
    EXPECT_EQ(r.status, 5) << c.rows;
    EXPECT_EQ(r.out, console(c.message));
  }
  inputs(textHeader("3", "2") + "1 1 1 1 1 1\n", textHeader("3", "2") + "1 1 1 1 1 -\n");
  ToolResult r = run();
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out, console(".error reading from b.asc in row 2 (2 values read)\n"));
  EXPECT_EQ(readFile(out), textFile(outHeader2x3 + "1\t1\t1\n"));
}

TEST_F(TextCase, UnusableGridSize) {
  struct Size {
    std::string ncols, nrows, shown;
  };
  for (const Size& s : std::vector<Size>{{"-1", "2", "ncols -1, nrows 2"},
                                         {"2147483647", "1", "ncols 2.14748e+009, nrows 1"},
                                         {"1e400", "1", "ncols inf, nrows 1"},
                                         {"2", "3e9", "ncols 2, nrows 3e+009"},
                                         {"2", "-2147483648", "ncols 2, nrows -2.14748e+009"},
                                         {"2", "-1e400", "ncols 2, nrows -inf"}}) {
    inputs(textHeader(s.ncols, s.nrows) + "1 2\n", textHeader(s.ncols, s.nrows) + "1 2\n");
    ToolResult r = run();
    EXPECT_EQ(r.status, 3) << s.shown;
    EXPECT_EQ(r.out, console("unusable grid size in a.asc: " + s.shown + "\n"));
    EXPECT_EQ(readFile(out), "");
  }
}

TEST_F(TextCase, HugeColumnCountFailsAtTheFirstShortRow) {
  const std::string ncols = std::to_string(hugeColumnCount);
  inputs(textHeader(ncols, "1") + "1 2 3\n", textHeader(ncols, "1") + "1 2 3\n");
  ToolResult r = run();
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out, console("error reading from a.asc in row 1 (3 values read)\n"));
}

TEST_F(TextCase, MissingInput) {
  inputs(textHeader("1", "1") + "1\n", "");
  ToolResult r = run({"a.asc", "missing.asc", "out.asc"});
  EXPECT_EQ(r.status, 98);
  EXPECT_EQ(r.out, console("could not open input file missing.asc\n"));
  r = run({"missing.asc", "nothing.asc", "out.asc"});
  EXPECT_EQ(r.out, console("could not open input file missing.asc\n"));
  EXPECT_FALSE(fileExists(out));
}

TEST_F(TextCase, FullDiskIsNeverSuccess) {
  inputs(textHeader("3", "2") + "1 2 3 4 5 6\n", textHeader("3", "2") + "1 1 1 1 1 1\n");
  ToolResult r = run({"a.asc", "b.asc", "/dev/full"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.out, console("..\nerror writing into /dev/full \n"));

  // A row larger than the stream buffer meets the full disk while it is written.
  std::string row;
  for (int i = 0; i < 300000; ++i) row += "123.456 ";
  inputs(textHeader("300000", "1") + row, textHeader("300000", "1") + row);
  r = run({"a.asc", "b.asc", "/dev/full"});
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, console("error writing row 1 in /dev/full\n"));
}

TEST_F(TextCase, LongNamesAreUsedWhole) {
  std::string path;
  for (int i = 0; i < 6; ++i) path += std::string(100, 'd' + i) + "/";
  std::filesystem::create_directories(dir.path / path);
  std::string longA = path + std::string(200, 'a') + ".asc";
  std::string longOut = path + std::string(200, 'o') + ".asc";
  writeFile(dir / longA, textHeader("1", "1") + "2\n");
  writeFile(b, textHeader("1", "2") + "3\n");
  ToolResult r = run({longA, "b.asc", longOut});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, console("2. Parameter (1.000000) in " + longA +
                           " stimmt nicht\n mit dem in b.asc ueberein (2.000000)\n"));
  EXPECT_TRUE(fileExists(dir / longOut));
}

}  // namespace
