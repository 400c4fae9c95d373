// The tool as the tests run it where a file alone cannot make the case:
// - with CELLPROD_TEST_READ_FAULT_AT=N, every read of an input fails at byte N of its file, as a
//   bad sector there would;
// - `cellprod_test_tool positional-check FILE` reads FILE through an unbuffered stream, reads it
//   by position in between, and ends with status 0 only where the stream went on from where it
//   was: positional reads must never move it;
// - `cellprod_test_tool peak-memory TOOL ARGS...` runs TOOL with ARGS and writes its peak
//   resident memory in KiB on standard error: measured from this small process, so that none of
//   a test process's own memory is counted (POSIX only).
#ifndef _WIN32
#include <sys/resource.h>  // rusage
#include <sys/wait.h>      // wait4
#include <unistd.h>        // fork, execv
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/run.h"
#include "platform/os.h"

namespace {

int positionalCheck(const char* name) {
  std::FILE* file = openFile(name, "rb");
  if (file == nullptr) return 2;
  std::setvbuf(file, nullptr, _IONBF, 0);  // every fread reads from the file itself
  char before[16], after[16], all[8192], expected[16];
  PositionalFile positional;
  if (std::fread(before, 1, sizeof before, file) != sizeof before ||
      !openPositional(file, positional) || readAt(positional, 0, all, sizeof all).count < 32)
    return 2;
  std::memcpy(expected, all + sizeof before, sizeof expected);
  closePositional(positional);
  const bool same = std::fread(after, 1, sizeof after, file) == sizeof after &&
                    std::memcmp(after, expected, sizeof after) == 0;
  std::fclose(file);
  return same ? 0 : 1;
}

#ifndef _WIN32
int peakMemory(char** command) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execv(command[0], command);
    ::_exit(127);
  }
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
#ifndef _WIN32
  if (argc > 2 && std::strcmp(argv[1], "peak-memory") == 0) return peakMemory(argv + 2);
#endif
  if (const char* at = std::getenv("CELLPROD_TEST_READ_FAULT_AT"))
    failReadsAt(std::strtoull(at, nullptr, 10));
  return runCellprod(argc, argv);
}
