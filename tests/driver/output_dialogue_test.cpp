// The console dialogue for another output name, and the protection of the inputs.
#include <fcntl.h>     // open
#include <gtest/gtest.h>
#include <sys/stat.h>  // mkfifo
#include <unistd.h>    // close

#include <atomic>
#include <cstdlib>  // system
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/grid_case.h"

namespace {

const std::string prompt = "please enter new output file name: ";

std::string cannotOpen(const std::string& name) {
  return "error opening output grid " + name + " \r\n" + prompt;
}

std::string wouldOverwrite(const std::string& output, const std::string& input) {
  return "output grid " + output + " would overwrite input grid " + input + " \r\n" + prompt;
}

const std::string product =
    "ncols\t2\nnrows\t1\nxllcorner\t3.5e+006\nyllcorner\t5.6e+006\ncellsize\t25\n"
    "nodata_value\t-9999\n6\t12\n";

// UTF-8 text (of the Basic Multilingual Plane) as a file saved as UTF-16 with its byte-order mark.
std::string utf16(const std::string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (std::size_t i = 0, n; i < text.size(); i += n) {
    const auto c = static_cast<unsigned char>(text[i]);
    n = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    unsigned u = n == 1 ? c : c & (n == 2 ? 0x1F : 0x0F);
    for (std::size_t k = 1; k < n; ++k) u = u << 6 | (text[i + k] & 0x3F);
    out += bigEndian ? std::string{char(u >> 8), char(u)} : std::string{char(u), char(u >> 8)};
  }
  return out;
}

struct DialogueCase : GridCase {
  DialogueCase() {
    names(".asc");
    inputs(textHeader("2", "1") + "2 3\n", textHeader("2", "1") + "3 4\n");
  }
  ToolResult runTo(const std::string& output, const std::string& answers) {
    return run({aName, bName, output}, answers);
  }
};

TEST_F(DialogueCase, MissingDirectoryAnsweredWithAGoodName) {
  ToolResult r = runTo("nodir/out.asc", "good.asc\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, console(cannotOpen("nodir/out.asc") + "\r\n.\n"));
  EXPECT_EQ(readFile(dir / "good.asc"), textFile(product));
}

TEST_F(DialogueCase, EveryFailingAnswerRepeatsTheDialogue) {
  ToolResult r = runTo("nodir/out.asc", "nodir/x\nnodir/y\ngood.asc\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, console(cannotOpen("nodir/out.asc") + "\r\n" + cannotOpen("nodir/x") + "\r\n" +
                           cannotOpen("nodir/y") + "\r\n.\n"));
  EXPECT_EQ(readFile(dir / "good.asc"), textFile(product));
}

// An output that another run writes, which holds its lock, is left alone and asked again for.
TEST_F(DialogueCase, OutputWrittenByAnotherRunIsRefused) {
  writeFile(dir / "busy.asc", "another run's rows\n");
  // The other run: the test tool holding busy.asc open as an output until its input ends.
  ScratchDir other;
  ::mkfifo((other / "hold").c_str(), 0600);
  std::atomic<bool> ended = false;
  std::thread holder([&] {
    runTool(other, {"hold-output", dir / "busy.asc"},
            RunSetup{.stdinFrom = "hold", .testTool = true});
    ended = true;
  });
  const int hold = ::open((other / "hold").c_str(), O_WRONLY);
  while (readFile(other / ".io/stdout").empty() && !ended) std::this_thread::yield();
  ToolResult r = runTo("busy.asc", "good.asc\n");
  ::close(hold);
  holder.join();
  EXPECT_EQ(readFile(other / ".io/stdout"), console("held\n"));
  EXPECT_EQ(r.out, console(cannotOpen("busy.asc") + "\r\n.\n"));
  EXPECT_EQ(readFile(dir / "busy.asc"), "");  // emptied by the holder, never written by the run
  EXPECT_EQ(readFile(dir / "good.asc"), textFile(product));
}

TEST_F(DialogueCase, EmptyAnswerOrEndOfInputEndsTheRun) {
  for (const char* answers : {"\n", "", "\r\n", "\nlater.asc\n"}) {
    ToolResult r = runTo("nodir/out.asc", answers);
    EXPECT_EQ(r.status, 1) << answers;
    EXPECT_EQ(r.out, console(cannotOpen("nodir/out.asc")));
  }
  EXPECT_FALSE(fileExists(dir / "later.asc"));
}

// A closed standard input reads as ended, and no grid takes its place to be read as an
// answer; with standard output closed too, nothing is printed. No file is created either way.
TEST_F(DialogueCase, ClosedStandardStreams) {
  for (int closed : {1, 3}) {
    // Wine reports status 0 for any program started with all three closed (seen with one that
    // only exits with status 7): there the case shows nothing of the tool.
    if (closed == 3 && toolIsWindowsBuild()) continue;
    ToolResult r = checked(runTool(dir, {aName, bName, "nodir/x"}, {.closedDescriptors = closed}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, closed == 1 ? console(cannotOpen("nodir/x")) : "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 3);  // and .io
  }
}

// Nor is a standard input that is an input grid read as an answer (the same pipe, wherever its
// lines fall, or the same file): the run ends as at the end of input.
TEST_F(DialogueCase, StandardInputThatIsAGridIsNoAnswer) {
  if (toolIsWindowsBuild()) GTEST_SKIP() << "Wine gives a standard input no volume to compare";
  for (int padding = 0; padding < 4; ++padding) {
    std::string tall = textHeader("1", "20000" + std::string(padding, ' '));
    for (int row = 0; row < 20000; ++row) tall += "1234567\n";
    inputs(tall, tall);
    const bool piped = padding % 3 != 0;
    RunSetup s{.stdinFrom = piped ? "pipe" : bName};
    if (piped) s.fifos = {{"pipe", tall}};
    ToolResult r = checked(runTool(dir, {piped ? "/dev/stdin" : aName, bName, "nodir/x"}, s));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, console(cannotOpen("nodir/x")));
    std::filesystem::remove(dir / "pipe");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 3);  // and .io
  }
}

// Names in any script (UTF-8 bytes on POSIX, the wide names themselves on Windows) open the files
// they name, never a look-alike; an output naming an input under another spelling is refused;
// an answer through a pipe creates the file it names. A Windows message spells a name in the
// ANSI code page (Windows-1252 here) where that holds it, else in UTF-8.
TEST_F(DialogueCase, NamesInAnyScript) {
  const bool windows = toolIsWindowsBuild();
  for (const auto& [name, ansi] : std::vector<std::pair<std::string, std::string>>{
           {"Regen_€", "Regen_\x80"}, {"Šumava", "\x8Aumava"}, {"Abfluss – 2023", "Abfluss \x96 2023"},
           {"“Zufluss”", "\x93Zufluss\x94"}, {"März", "M\xE4rz"}, {"Abfluß", "Abflu\xDF"},
           {"Βροχή", ""}, {"径流", ""}}) {
    auto shown = [&](std::string s) {  // as a message spells it
      return windows && !ansi.empty() ? s.replace(s.find(name), name.size(), ansi) : s;
    };
    const std::string grid = name + ".asc";
    writeFile(dir / grid, aBytes);
    ToolResult r = run({grid, bName, "nodir/x"}, name + "_out.asc\n");
    EXPECT_EQ(r.out, console(cannotOpen("nodir/x") + "\r\n.\n"));
    EXPECT_EQ(readFile(dir / (name + "_out.asc")), textFile(product));
    // The same answer from a file saved as "UTF-8 with BOM", and as "Unicode" (UTF-16) of either
    // byte order.
    for (const std::string& saved : {"\xEF\xBB\xBF" + name + "_8.asc\n",
                                     utf16(name + "_le.asc\r\n", false), utf16(name + "_be.asc", true)})
      run({grid, bName, "nodir/x"}, saved);
    for (const char* file : {"_8.asc", "_le.asc", "_be.asc"})
      EXPECT_EQ(readFile(dir / (name + file)), textFile(product)) << name << file;
    std::vector<std::string> spellings{grid, (windows ? ".\\" : "./") + grid};
    if (windows) spellings.push_back(name + ".ASC");  // Windows names ignore case
    for (const std::string& output : spellings) {
      r = run({grid, bName, output});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, console(wouldOverwrite(shown(output), shown(grid))));
      EXPECT_EQ(readFile(dir / grid), aBytes);
    }
  }
  writeFile(dir / "Prutok.asc", aBytes);  // a look-alike, never read
  ToolResult r = run({"Průtok.asc", bName, outName});
  EXPECT_EQ(r.status, 98);
  EXPECT_EQ(r.out, console("could not open input file Průtok.asc\n"));
}

#ifdef CELLPROD_WINE_PREFIX
// cmd's echo in a console writes the name in the console's code page (437, 850), whose letters
// beyond ASCII are no UTF-8: the answer names the file that was typed all the same.
TEST_F(DialogueCase, AnswerEchoedInAConsoleCodePage) {
  std::filesystem::copy_file(CELLPROD_TARGET_EXE, dir / "cellprod.exe");
  for (const std::string page : {"437", "850"}) {
    const std::string command = "cd '" + dir.path.string() + "' && WINEDEBUG=-all WINEPREFIX=" +
                                CELLPROD_WINE_PREFIX + " script -qec \"wine cmd /c 'chcp " + page +
                                " & echo Größe_" + page + ".asc| cellprod.exe " + aName + " " +
                                bName + " nodir\\x'\" /dev/null >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFile(dir / ("Größe_" + page + ".asc")), textFile(product)) << page;
  }
}
#endif

// Names beyond Windows' classic 260 characters as grids and answers; an output naming the
// same grid by another long name is refused.
TEST_F(DialogueCase, NamesOfAnyLength) {
  std::string deep;
  for (char c : {'d', 'e', 'f', 'g'}) deep += std::string(70, c) + "/";
  std::filesystem::create_directories(dir / deep);
  writeFile(dir / (deep + "a.asc"), aBytes);
  run({deep + "a.asc", bName, "nodir/x"}, deep + "answer.asc\n");
  EXPECT_EQ(readFile(dir / (deep + "answer.asc")), textFile(product));
  EXPECT_EQ(run({deep + "a.asc", bName, deep + "../g/a.asc"}).status, 1);
}

TEST_F(DialogueCase, AnswerLineEnds) {
  for (const char* answers : {"good.asc\r\n", "good.asc"}) {
    std::filesystem::remove(dir / "good.asc");
    ToolResult r = runTo("nodir/out.asc", answers);
    EXPECT_EQ(r.status, 0) << answers;
    EXPECT_EQ(readFile(dir / "good.asc"), textFile(product));
  }
}

TEST_F(DialogueCase, BlanksAreAName) {
  ToolResult r = runTo("nodir/out.asc", "  \n");
  if (toolIsWindowsBuild()) {
    // Windows drops the trailing blanks of a file name, which leaves no name to open.
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, console(cannotOpen("nodir/out.asc") + "\r\n" + cannotOpen("  ")));
    EXPECT_FALSE(fileExists(dir / "  "));
  } else {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir / "  "), product);
  }
}

TEST_F(DialogueCase, VeryLongAnswerIsTriedAndRefusedLikeAnyName) {
  std::string longName(5000, 'n');
  ToolResult r = runTo("nodir/out.asc", longName + "\ngood.asc\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            console(cannotOpen("nodir/out.asc") + "\r\n" + cannotOpen(longName) + "\r\n.\n"));
}

TEST_F(DialogueCase, NewNameIsUsedInLaterMessages) {
  ToolResult r = runTo("nodir/out.asc", "/dev/full\n");
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.out, console(cannotOpen("nodir/out.asc") + "\r\n.\nerror writing into /dev/full \n"));
}

TEST_F(DialogueCase, OutputNamingAnInputIsRefused) {
  namespace fs = std::filesystem;
  fs::create_directories(dir.path / "sub");
  fs::create_symlink(a, dir / "link.asc");
  fs::create_hard_link(b, dir / "hard.asc");
  struct Case {
    std::string output, input;
  };
  for (const Case& c : {Case{"a.asc", "a.asc"}, Case{"b.asc", "b.asc"}, Case{"./a.asc", "a.asc"},
                        Case{"sub/../b.asc", "b.asc"}, Case{dir / "a.asc", "a.asc"},
                        Case{"link.asc", "a.asc"}, Case{"hard.asc", "b.asc"}}) {
    ToolResult r = runTo(c.output, "good.asc\n");
    EXPECT_EQ(r.status, 0) << c.output;
    EXPECT_EQ(r.out, console(wouldOverwrite(c.output, c.input) + "\r\n.\n"));
    EXPECT_EQ(readFile(dir / "good.asc"), textFile(product));
  }
  // A re-prompted name is checked too, and an empty answer still ends the run.
  ToolResult r = runTo("nodir/x", "./b.asc\n\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, console(cannotOpen("nodir/x") + "\r\n" + wouldOverwrite("./b.asc", "b.asc")));
}

}  // namespace
