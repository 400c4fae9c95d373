// Threads that the run does without where they cannot be had.
#pragma once

#include <system_error>  // system_error
#include <thread>
#include <utility>  // forward

#include "platform/console.h"

// A moment's pause in a loop that waits for another processor, which lets that one run.
inline void relaxProcessor() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  __builtin_ia32_pause();
#endif
}

// Starts a thread running work(args...) where one can be had: false where the system refuses
// it or the memory for it cannot be had, which the caller then does without.
template <class Work, class... Args>
bool startThread(std::thread& thread, Work work, Args&&... args) {
  catchFailure([&] {
    try {
      thread = std::thread(work, std::forward<Args>(args)...);
    } catch (const std::system_error&) {}
  });
  return thread.joinable();
}
