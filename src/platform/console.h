// The console and the process exit: every message goes to standard output, and a run that
// fails ends at once through fail(), with its status. A thread that works for the main thread
// (reading an input ahead) meets its failures as values instead, which the main thread reports
// when it comes to them.
#pragma once

#include <cstdio>  // FILE
#include <new>     // bad_alloc
#include <optional>
#include <string>
#include <string_view>
#include <utility>  // move

// Prints a message or progress text on standard output: shown at once on a terminal, and
// elsewhere (a pipe, a log) at least every quarter of a second while the run prints.
void say(std::string_view text);

// Shows what say() has printed so far at once: before the main thread waits for a slow writer,
// so that the dots of the rows finished reach a pipe or a log while it waits.
void showProgressNow();

// The one way a run ends early. The message goes to standard output; standard output and the
// output file (flushOnFailure), if it is open, are flushed, so that what was written stays on
// disk; then the process ends with the status (endProcess). Under catchFailure() the failure is
// handed back instead.
[[noreturn]] void fail(int status, std::string_view message);

// The output file, which fail() flushes before the process ends, until it is closed.
void flushOnFailure(std::FILE* output);

// Closes a stream of the run. fail() forgets it first, so that no failure touches a closed
// stream, the close's own included. True when everything written to it reached the file: the
// flush and the close both succeeded.
bool closeStream(std::FILE* file);

// Ends the process with the status at once: every thread ends with it, whatever it is blocked
// on, and no stream is flushed or closed.
[[noreturn]] void endProcess(int status);

// A failure met under catchFailure(): the status and message fail() was given, or memory that
// could not be had (where even the message may not fit).
struct CaughtFailure {
  int status = 0;
  std::string message;
  bool outOfMemory = false;
};

// What fail() throws on a thread while failures are values there.
struct ThrownFailure {
  CaughtFailure failure;
};

// Whether fail() on this thread throws its failure instead of ending the process; returns what
// it was before, for the caller to restore.
bool failuresAreValues(bool on);

// Makes memory that operator new cannot have end the run through `report`, which prints its
// message without taking memory and ends the process: the C++ runtime may itself lack the
// memory to throw std::bad_alloc. Where failures are values, std::bad_alloc is thrown as ever,
// for catchFailure to take.
void endRunWhenMemoryRunsOut(void (*report)());

// Runs work() on this thread with fail() turned into a returned value: the failure that
// ended work(), or nothing if it returned. Nested calls restore what they found, so that work
// under an outer catchFailure() stays under it. A template rather than a std::function, which
// could itself need memory that is not there.
template <class Work>
std::optional<CaughtFailure> catchFailure(Work&& work) {
  std::optional<CaughtFailure> caught;
  const bool before = failuresAreValues(true);
  try {
    work();
  } catch (ThrownFailure& thrown) {
    caught = std::move(thrown.failure);
  } catch (const std::bad_alloc&) {
    caught.emplace();
    caught->outOfMemory = true;
  }
  failuresAreValues(before);
  return caught;
}
