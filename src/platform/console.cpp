#include "platform/console.h"

#include <cstdlib>  // _Exit
#include <utility>  // exchange, move

#include "platform/os.h"

namespace {

std::FILE* outputFile = nullptr;
std::function<void()> endThreads;

// Set on a thread while it runs work under catchFailure().
thread_local bool failuresAreValues = false;

// What fail() throws under catchFailure(), to unwind the work to it.
struct Thrown {
  CaughtFailure failure;
};

}  // namespace

void say(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (stdoutIsTerminal()) std::fflush(stdout);
}

void fail(int status, std::string_view message) {
  if (failuresAreValues) throw Thrown{{status, std::string(message)}};
  if (endThreads) std::exchange(endThreads, nullptr)();
  say(message);
  if (outputFile != nullptr) std::fflush(outputFile);
  std::fflush(stdout);
  std::_Exit(status);
}

void flushBeforeExit(std::FILE* file) { outputFile = file; }

void endThreadsBeforeExit(std::function<void()> ending) { endThreads = std::move(ending); }

std::optional<CaughtFailure> catchFailure(const std::function<void()>& work) {
  failuresAreValues = true;
  std::optional<CaughtFailure> caught;
  try {
    work();
  } catch (Thrown& thrown) {
    caught = std::move(thrown.failure);
  }
  failuresAreValues = false;
  return caught;
}
