#include "support/tool_run.h"

#include <fcntl.h>
#include <sched.h>  // sched_setaffinity
#include <sys/stat.h>  // mkfifo
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  path = fs::temp_directory_path() /
         ("cellprod-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(path);
  fs::create_directories(path);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path, ec);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

namespace {

std::string lineEndsOfTextMode(std::string_view text) {
  if (!toolIsWindowsBuild()) return std::string(text);
  std::string translated;
  translated.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\n') translated.push_back('\r');
    translated.push_back(c);
  }
  return translated;
}

constexpr unsigned runTimeLimitSeconds = 120;

// Starts a process that opens the FIFO at `path` for writing, which waits for the tool to open
// it for reading, and writes `bytes` into it; or, with `reads` of 0 or more, that opens it for
// reading and reads up to so many bytes.
pid_t startFifoPeer(const std::string& path, const std::string& bytes, bool staysOpen,
                    long reads = -1) {
  if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("cannot make FIFO " + path);
  pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_IGN);  // a tool that stops reading early ends the write with EPIPE
    std::string got(static_cast<std::size_t>(reads + 1), '\0');
    int fd = ::open(path.c_str(), reads >= 0 ? O_RDONLY : O_WRONLY);
    if (reads >= 0) ::_exit(::read(fd, got.data(), got.size() - 1) < 0);
    const bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) >= 0;
    while (staysOpen) ::pause();
    ::_exit(written ? 0 : 1);
  }
  return pid;
}

ToolResult runWith(const ScratchDir& dir, const std::vector<std::string>& args,
                   const RunSetup& setup) {
  const long maxFileBytes = setup.maxFileBytes;
  const std::string& input = setup.input;
  fs::path io = dir.path / ".io";
  fs::create_directories(io);
  std::string in = (io / "stdin").string(), out = (io / "stdout").string(),
              err = (io / "stderr").string();
  writeFile(in, input);

  const bool testTool = setup.testTool || setup.readFaultAt >= 0 || setup.digitsInMemory >= 0;
#ifdef CELLPROD_LAUNCHER
  std::vector<std::string> argvText{CELLPROD_LAUNCHER,
                                    testTool ? CELLPROD_TARGET_TEST_TOOL_EXE : CELLPROD_TARGET_EXE};
#else
  std::vector<std::string> argvText{testTool ? CELLPROD_TEST_TOOL_EXE : CELLPROD_EXE};
#endif
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::fflush(nullptr);
  std::vector<pid_t> writers;
  for (const auto& [name, bytes] : setup.fifos)
    writers.push_back(startFifoPeer(dir / name, bytes, setup.staysOpen));
  for (const auto& [name, reads] : setup.readerFifos)
    writers.push_back(startFifoPeer(dir / name, "", false, reads));
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int fin =
        ::open(setup.stdinFrom.empty() ? in.c_str() : (dir / setup.stdinFrom).c_str(), O_RDONLY);
    int fout = ::open(setup.stdoutTo.empty() ? out.c_str() : (dir / setup.stdoutTo).c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int ferr = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fin < 0 || fout < 0 || ferr < 0 || ::chdir(dir.path.c_str()) != 0) ::_exit(127);
    ::dup2(fin, 0);
    ::dup2(fout, 1);
    ::dup2(ferr, 2);
    for (int fd = 0; fd < setup.closedDescriptors; ++fd) ::close(fd);
    if (maxFileBytes >= 0) {
      // cellprod makes SIGXFSZ a failing write; a Windows build under Wine knows no such signal.
      std::signal(SIGXFSZ, toolIsWindowsBuild() ? SIG_IGN : SIG_DFL);
      rlimit limit{static_cast<rlim_t>(maxFileBytes), static_cast<rlim_t>(maxFileBytes)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
    }
#ifdef CELLPROD_WINE_PREFIX
    // Wine's own diagnostics would mix with what the tool writes on standard error.
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEPREFIX", CELLPROD_WINE_PREFIX, 1);
    ::setenv("LANG", "C.UTF-8", 1);  // Wine reads the arguments' bytes as UTF-8
#endif
#ifdef CELLPROD_QEMU_CPU
    ::setenv("QEMU_CPU", CELLPROD_QEMU_CPU, 1);  // the CPU qemu-user presents to the tool
#endif
    cpu_set_t first;
    CPU_ZERO(&first);
    CPU_SET(0, &first);
    if (setup.oneProcessor) ::sched_setaffinity(0, sizeof first, &first);
    if (setup.threads > 0) ::setenv("CELLPROD_THREADS", std::to_string(setup.threads).c_str(), 1);
    if (setup.threadsVariable) ::setenv("CELLPROD_THREADS", setup.threadsVariable, 1);
    if (setup.readFaultAt >= 0)
      ::setenv("CELLPROD_TEST_READ_FAULT_AT", std::to_string(setup.readFaultAt).c_str(), 1);
    if (setup.digitsInMemory >= 0)
      ::setenv("CELLPROD_TEST_DIGITS_IN_MEMORY", std::to_string(setup.digitsInMemory).c_str(), 1);
    if (setup.emptyingDelay >= 0)
      ::setenv("CELLPROD_TEST_EMPTYING_DELAY", std::to_string(setup.emptyingDelay).c_str(), 1);
    ::alarm(runTimeLimitSeconds);  // the pending alarm survives exec and ends a hung run
    const rlimit space{static_cast<rlim_t>(setup.addressSpace),
                       static_cast<rlim_t>(setup.addressSpace)};
    if (setup.addressSpace >= 0 && ::setrlimit(RLIMIT_AS, &space) != 0) ::_exit(127);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  for (pid_t writer : writers) {
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
  }
  ToolResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = readFile(out);
  r.err = readFile(err);
  return r;
}

// Every way the tool ends with status 1 prints a message or a prompt first. Now and then (seen
// once in a suite's thousands of runs, with two test processes at once) Wine itself ends a run
// with status 1 before the program has printed anything; such a run is repeated, at most twice.
ToolResult runAndRepeatWineFailures(const ScratchDir& dir, const std::vector<std::string>& args,
                                    const RunSetup& setup) {
  ToolResult r = runWith(dir, args, setup);
  for (int repeat = 0; repeat < 2 && toolIsWindowsBuild() && r.status == 1 && r.out.empty() &&
                       r.err.empty();
       ++repeat) {
    r = runWith(dir, args, setup);
  }
  return r;
}

}  // namespace

bool toolIsWindowsBuild() {
#ifdef CELLPROD_WINDOWS_TARGET
  return true;
#else
  return false;
#endif
}

std::string console(std::string_view text) { return lineEndsOfTextMode(text); }

std::string textFile(std::string_view text) { return lineEndsOfTextMode(text); }

ToolResult runTool(const ScratchDir& dir, const std::vector<std::string>& args,
                   const std::string& input) {
  return runAndRepeatWineFailures(dir, args, {.input = input});
}

ToolResult runTool(const ScratchDir& dir, const std::vector<std::string>& args,
                   const RunSetup& setup) {
  return runAndRepeatWineFailures(dir, args, setup);
}

ToolResult runToolWithFileLimit(const ScratchDir& dir, const std::vector<std::string>& args,
                                long maxFileBytes) {
  return runAndRepeatWineFailures(dir, args, {.maxFileBytes = maxFileBytes});
}
