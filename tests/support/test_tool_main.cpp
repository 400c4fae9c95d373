// The tool as the tests run it where a file alone cannot make the case:
// - CELLPROD_TEST_READ_FAULT_AT=N: every read of an input fails at byte N of its file, as a bad
//   sector there would;
// - CELLPROD_TEST_DIGITS_IN_MEMORY=N: a number read one byte at a time cannot have the memory to
//   keep more than N of its digits, as where memory runs short inside a row;
// - CELLPROD_TEST_EMPTYING_DELAY=MS: an existing output is emptied MS milliseconds late, as
//   where the system still writes its old bytes out;
// - CELLPROD_TEST_JOB_TIME=1: after a complete run, the CPU time the main thread spent in the
//   pool's jobs, in nanoseconds, on standard error;
// - `positional-check FILE`: status 0 only where reading FILE by position leaves its unbuffered
//   stream where it was;
// - `hold-output FILE`: opens FILE as a run opens its output, says "held", and keeps it until
//   standard input ends, as another run writing that output would;
// - `thread-count`: prints the threads a run would use;
// - `peak-memory TOOL ARGS...` (POSIX): runs TOOL, its peak memory in KiB on standard error,
//   measured from this small process so that none of a test process's memory is counted.
#ifndef _WIN32
#include <sys/resource.h>  // rusage
#include <sys/wait.h>      // wait4
#include <unistd.h>        // fork, execv
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decimal/conversion.h"  // limitLongNumberMemory
#include "driver/run.h"
#include "platform/os.h"
#include "rows/work_pool.h"  // threadCount

namespace {

int positionalCheck(const char* name) {
  std::FILE* file = openFile(name, "rb");
  char before[16], after[16], all[8192];
  PositionalFile positional;
  if (file == nullptr || std::setvbuf(file, nullptr, _IONBF, 0) != 0 ||
      std::fread(before, 1, 16, file) != 16 || !openPositional(file, positional) ||
      readAt(positional, 0, all, sizeof all).count < 32)
    return 2;
  closePositional(positional);
  return std::fread(after, 1, 16, file) == 16 && std::memcmp(after, all + 16, 16) == 0 ? 0 : 1;
}

int holdOutput(const char* name) {
  std::FILE* file = openOutputFile(name, "wb");
  if (file == nullptr) return 1;
  std::puts("held");
  std::fflush(stdout);
  while (std::getchar() != EOF) {}
  return 0;
}

#ifndef _WIN32
int peakMemory(char** command) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(::execv(command[0], command) == 0 ? 0 : 127);
  int status = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) < 0) return 127;
  std::fprintf(stderr, "%ld", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "positional-check") == 0) return positionalCheck(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "hold-output") == 0) return holdOutput(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "thread-count") == 0)
    return std::printf("%u\n", threadCount()) > 0 ? 0 : 1;
#ifndef _WIN32
  if (argc > 2 && std::strcmp(argv[1], "peak-memory") == 0) return peakMemory(argv + 2);
#endif
  if (const char* at = std::getenv("CELLPROD_TEST_READ_FAULT_AT"))
    failReadsAt(std::strtoull(at, nullptr, 10));
  if (const char* digits = std::getenv("CELLPROD_TEST_DIGITS_IN_MEMORY"))
    limitLongNumberMemory(std::strtoull(digits, nullptr, 10));
  if (const char* delay = std::getenv("CELLPROD_TEST_EMPTYING_DELAY"))
    delayOutputEmptying(static_cast<unsigned>(std::strtoul(delay, nullptr, 10)));
  const bool jobTime = std::getenv("CELLPROD_TEST_JOB_TIME") != nullptr;
  if (jobTime) countMainThreadJobTime();
  const int status = runCellprod(argc, argv);
  if (jobTime) std::fprintf(stderr, "%llu\n", static_cast<unsigned long long>(mainThreadJobTime()));
  return status;
}
