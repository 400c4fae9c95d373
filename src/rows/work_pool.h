// Threads that do the jobs of the rings given to them (pieces of inputs to read, bands of
// products to form), the oldest queued job first, whatever its ring. The main thread queues the
// jobs and takes their results in its own order; where it has nothing else to do it does the
// oldest queued job itself rather than wait, so that where no thread could be had it does every
// job. Jobs never end the run: on every thread they run with failures as values (JobSlot::failure),
// memory shortage included. Each thread sets its own scratch up; where it cannot have the memory
// for it, it does without working.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "rows/job_ring.h"

// Beyond this many threads, the in-order use of the results keeps them waiting.
constexpr unsigned maxThreads = 64;

// The jobs of each ring given at once: two for each thread and two more, so that no thread runs
// out of queued jobs while the main thread takes the results or does a job itself.
inline std::size_t jobsPerRing(unsigned threads) { return 2 * std::size_t{threads} + 2; }

// The rings a pool takes jobs from: the pieces of two inputs and the bands.
constexpr std::size_t maxPoolRings = 3;

struct WorkPool {
  RowLock* lock = nullptr;
  std::vector<std::thread> threads;
  std::array<JobRing*, maxPoolRings> rings{};
  std::size_t ringCount = 0;
  std::uint64_t tickets = 0;  // jobs queued so far
  std::size_t scanBytes = 0;  // each thread's scanner, where an input is read in text pieces
  bool stopping = false;
  bool mainHelps = true;   // the main thread does queued jobs: it has a processor of its own
  bool threadLost = false;  // a thread could not set its scratch up: the main thread helps too
  JobScratch mainScratch;  // the main thread's, for the jobs it does

  WorkPool() = default;
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;
  ~WorkPool();
};

// The number of threads a run uses, the main thread among them: CELLPROD_THREADS where it is a
// positive whole number, blanks around it allowed; else one for a small run, whose threads would
// cost more to set up than they save, and the processors this process may run on for any other;
// at most maxThreads.
unsigned threadCount(bool smallRun = false);

// Sets the pool up under `lock`, with the main thread's scratch (a scanner of scanBytes where it
// is more than 0). False where that memory cannot be had.
bool preparePool(WorkPool& pool, RowLock& lock, std::size_t scanBytes);

// The pool takes the jobs queued in `ring` too.
void addRing(WorkPool& pool, JobRing& ring);

// Starts up to `count` threads; those that cannot be had are done without.
void startPoolThreads(WorkPool& pool, unsigned count);

// With the lock held: queues the next job of the ring, which must have room; returns its number.
std::uint64_t queueJob(WorkPool& pool, JobRing& ring);

// With the lock held, on the main thread: does the oldest queued job, with the lock released
// meanwhile; false where none is queued, or where the threads of the pool fill every processor
// and the main thread leaves the jobs to them.
bool doQueuedJob(WorkPool& pool, std::unique_lock<std::mutex>& held);

// Ends the threads once the jobs they are doing are done, queued jobs unstarted, and joins them.
void stopPool(WorkPool& pool);

// The thread CPU time the main thread has spent in the pool's jobs, in nanoseconds, since
// countMainThreadJobTime(): the part of its work that the other threads could have done. Asking
// the CPU time of a thread is a system call, so it is counted only where it is wanted (the test
// tool's report).
void countMainThreadJobTime();
std::uint64_t mainThreadJobTime();
