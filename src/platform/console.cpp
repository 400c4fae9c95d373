#include "platform/console.h"

#include <cstdlib>  // _Exit
#include <new>      // bad_alloc
#include <utility>  // move

#include "platform/os.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX  // windows.h would define min and max as macros
#endif
#include <windows.h>  // TerminateProcess
#endif

namespace {

// The output file while it is open; only the main thread writes, closes and flushes it.
std::FILE* outputFile = nullptr;

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
  say(message);
  if (outputFile != nullptr) std::fflush(outputFile);
  std::fflush(stdout);
  endProcess(status);
}

void flushOnFailure(std::FILE* output) { outputFile = output; }

bool closeStream(std::FILE* file) {
  if (file == outputFile) outputFile = nullptr;
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  return flushed && closed;
}

void endProcess(int status) {
#ifdef _WIN32
  // Ends every thread and the process with this status at once. A process that ends by
  // ExitProcess while other threads run can lose its status (seen under Wine).
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
#endif
  // _exit on POSIX: ends every thread of the process, without waiting for any.
  std::_Exit(status);
}

std::optional<CaughtFailure> catchFailure(const std::function<void()>& work) {
  failuresAreValues = true;
  std::optional<CaughtFailure> caught;
  try {
    work();
  } catch (Thrown& thrown) {
    caught = std::move(thrown.failure);
  } catch (const std::bad_alloc&) {
    caught.emplace();
    caught->outOfMemory = true;
  }
  failuresAreValues = false;
  return caught;
}
