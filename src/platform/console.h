// The console and the process exit: every message goes to standard output, and a run that
// fails ends at once through fail(), with its status. A thread that works for the main thread
// (reading an input ahead) meets its failures as values instead, which the main thread reports
// when it comes to them.
#pragma once

#include <cstdio>  // FILE
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Prints a message or progress text on standard output; shown at once on a terminal.
void say(std::string_view text);

// The one way a run ends early. The message goes to standard output; standard output and the
// stream given to flushBeforeExit() are flushed, so that what was written stays on disk; then
// the process ends with the status at once, without closing the other streams, which threads
// may still be reading. Under catchFailure() the failure is handed back instead.
[[noreturn]] void fail(int status, std::string_view message);

// The output file, which fail() flushes before the process ends.
void flushBeforeExit(std::FILE* file);

// What fail() does first on the main thread: ends the threads that read ahead. A process that
// ends while other threads still run can lose its exit status (seen under Wine).
void endThreadsBeforeExit(std::function<void()> endThreads);

// A failure met under catchFailure(): the status and message fail() was given.
struct CaughtFailure {
  int status;
  std::string message;
};

// Runs work() on this thread with fail() turned into a returned value: the failure that
// ended work(), or nothing if it returned.
std::optional<CaughtFailure> catchFailure(const std::function<void()>& work);
