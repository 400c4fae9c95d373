// Threads that take jobs in the order they are given: pieces of text inputs to read, bands of
// text rows to format. The main thread gives the jobs and uses their results in its own order;
// where it needs one that is not done, it does queued jobs itself rather than wait, that one
// first if no thread has taken it. Jobs never end the run: their failures are values, which the
// main thread reports when it comes to them. Nothing is allocated once the threads run.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "decimal/scanner.h"

// What a thread needs of its own for any job: the scanner of the piece reader.
struct WorkerScratch {
  TextScanner scanner;
};

struct Job {
  void (*work)(void* data, WorkerScratch& scratch) = nullptr;
  void* data = nullptr;
  enum class State { idle, queued, running, done } state = State::idle;  // under the pool's mutex
};

// Beyond this many threads, the in-order use of the results keeps them waiting.
constexpr unsigned maxThreads = 64;
// A piece of each text input and a band for each thread and one more, queued at most.
constexpr std::size_t maxQueuedJobs = 3 * (maxThreads + 1);

struct WorkPool {
  std::vector<std::thread> threads;
  std::vector<WorkerScratch> scratch;  // one for each thread, the main thread's last
  std::array<Job*, maxQueuedJobs> queue{};  // jobs not yet taken, the oldest first
  std::size_t queued = 0;
  bool stopping = false;
  bool mainWaits = false;  // the main thread waits for a job to be done
  std::mutex mutex;
  std::condition_variable jobQueued, jobDone;
};

// The number of threads a run uses, the main thread among them: CELLPROD_THREADS where it is a
// positive whole number, else the processors this process may run on; at most maxThreads.
unsigned threadCount();

// Starts up to `workers` threads, each with a scanner of scanBytes bytes; fewer where a thread
// or its memory cannot be had, and none at all where the main thread's own scanner cannot be:
// then every job is done by the main thread when it needs it.
void startPool(WorkPool& pool, unsigned workers, std::size_t scanBytes);

// Queues a job (at most maxQueuedJobs at once).
void giveJob(WorkPool& pool, Job& job, void (*work)(void*, WorkerScratch&), void* data);

// Returns once the job is done, doing queued jobs meanwhile.
void finishJob(WorkPool& pool, Job& job);

// Ends the threads once the jobs they are doing are done; queued jobs are dropped. A run that
// fails ends without it.
void stopPool(WorkPool& pool);
