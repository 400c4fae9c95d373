// Runs the built cellprod in a scratch directory and captures everything it does.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// A column count far beyond any real grid, for inputs that claim more than they hold. The
// sanitizers map shadow memory for every allocated byte, which for rows of two billion columns
// takes minutes, so a sanitizer build claims a smaller (still huge) count.
#ifdef CELLPROD_SANITIZED
constexpr long hugeColumnCount = 20'000'000;
#else
constexpr long hugeColumnCount = 2'000'000'000;
#endif

struct ToolResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// A fresh directory below the system's temporary directory, removed with its content.
struct ScratchDir {
  std::filesystem::path path;
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

// Runs cellprod with the arguments (the program name is added) in `dir`, with `input` as
// standard input. A run that takes longer than two minutes is killed (status 128 + SIGALRM).
ToolResult runTool(const ScratchDir& dir, const std::vector<std::string>& args,
                   const std::string& input = "");

// The same with the size of every file the tool writes limited to `maxFileBytes` and SIGXFSZ
// ignored, so that a write beyond the limit fails with EFBIG, as on a full disk. Standard output
// goes to a file too: keep the limit above what the tool prints.
ToolResult runToolWithFileLimit(const ScratchDir& dir, const std::vector<std::string>& args,
                                long maxFileBytes);

// What a run gets beyond its arguments: standard input; FIFOs made in the scratch directory,
// each filled with its bytes by a writer of its own once the tool opens it (a writer the tool
// did not read to the end is stopped after the run; one that `staysOpen` keeps it open after its
// bytes), or read by a reader that takes so many bytes and goes; standard input and output from
// and to files of the scratch directory; the first `closedDescriptors` standard descriptors
// closed; the first processor alone; limits of address space and of the files written; the
// threads the tool uses (CELLPROD_THREADS, where above 0, or its text); the tool with its seams
// (cellprod_test_tool), with every read of an input failing at byte readFaultAt where that is
// 0 or more, and no memory for more than digitsInMemory digits of a number read one byte at a
// time where that is 0 or more.
struct RunSetup {
  std::string input{};
  std::vector<std::pair<std::string, std::string>> fifos{};
  int closedDescriptors = 0;
  bool staysOpen = false, oneProcessor = false;
  std::vector<std::pair<std::string, long>> readerFifos{};
  std::string stdinFrom{}, stdoutTo{};
  long addressSpace = -1, maxFileBytes = -1;
  int threads = 0;
  const char* threadsVariable = nullptr;  // CELLPROD_THREADS as it stands, where given
  bool testTool = false;
  long readFaultAt = -1;
  long digitsInMemory = -1;
  long emptyingDelay = -1;  // ms the tool with its seams empties an existing output late
};
ToolResult runTool(const ScratchDir& dir, const std::vector<std::string>& args,
                   const RunSetup& setup);

// True when the runs go to the Windows build of the tool under Wine (a test build configured
// with CELLPROD_TEST_TARGET=windows). The aarch64 and s390x builds under qemu-user give the
// bytes of this one.
bool toolIsWindowsBuild();

// What the tool prints, as it reaches standard output: in text mode on Windows, where every
// "\n" is written as "\r\n" (so a "\r\n" of a message arrives as "\r\r\n").
std::string console(std::string_view text);

// The bytes of a text output file with these lines: written in text mode, so with "\r\n" line
// ends on Windows.
std::string textFile(std::string_view text);

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
