#include "platform/console.h"

#include <chrono>   // steady_clock
#include <cstdlib>  // _Exit

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
thread_local bool throwsFailures = false;

void (*reportNoMemory)() = nullptr;

void memoryRanOut() {
  if (throwsFailures) throw std::bad_alloc();
  reportNoMemory();
}

// Whether a quarter of a second has passed since this last said yes: what is printed then
// reaches a pipe or a log while the rows are being finished, with no write of its own per row.
bool progressIsDue() {
  using Clock = std::chrono::steady_clock;
  static Clock::time_point last;
  const Clock::time_point now = Clock::now();
  if (now - last < std::chrono::milliseconds(250)) return false;
  last = now;
  return true;
}

}  // namespace

void say(std::string_view text) {
  if (!writeTextOfNames(text)) std::fwrite(text.data(), 1, text.size(), stdout);
  if (stdoutIsTerminal() || progressIsDue()) std::fflush(stdout);
}

void showProgressNow() { std::fflush(stdout); }

void fail(int status, std::string_view message) {
  if (throwsFailures) throw ThrownFailure{{status, std::string(message)}};
  say(message);
  if (outputFile != nullptr && outputEmptied()) std::fflush(outputFile);
  std::fflush(stdout);
  endProcess(status);
}

void flushOnFailure(std::FILE* output) { outputFile = output; }

bool closeStream(std::FILE* file) {
  const bool emptied = file != outputFile || outputEmptied();
  if (file == outputFile) outputFile = nullptr;
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  return emptied && flushed && closed;
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

bool failuresAreValues(bool on) {
  const bool before = throwsFailures;
  throwsFailures = on;
  return before;
}

void endRunWhenMemoryRunsOut(void (*report)()) {
  reportNoMemory = report;
  std::set_new_handler(memoryRanOut);
}
