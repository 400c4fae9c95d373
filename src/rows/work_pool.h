// Threads that take jobs in the order they are given: pieces of inputs to read, bands of text
// rows to format. The main thread gives the jobs and uses their results in its own order; where
// it needs one that is not done, it does queued jobs itself rather than wait, that one first if
// no thread has taken it; where no thread could be had at all, it does each job when it needs
// it. Jobs never end the run: on every thread they run with failures as values,
// memory shortage included; a job that failed is done again by the main thread when it needs
// it, as one thread would do it, where a failure ends the run. Nothing is allocated once the
// threads run.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "decimal/scanner.h"

// What a thread needs of its own for any job: the scanner of the text piece reader.
struct WorkerScratch {
  TextScanner scanner;
};

struct Job {
  void (*work)(void* data, WorkerScratch& scratch) = nullptr;
  void* data = nullptr;
  enum class State { idle, queued, running, done } state = State::idle;  // under the pool's mutex
  bool failed = false;  // the work met a failure, and is to be done again by the main thread
};

// Beyond this many threads, the in-order use of the results keeps them waiting.
constexpr unsigned maxThreads = 64;

// The jobs each user of the pool (the pieces of each input, the bands of a text output)
// keeps given at once: one for each thread and one more, so that no thread runs out of jobs
// while the main thread uses the results.
inline std::size_t jobsPerUser(unsigned threads) { return std::size_t{threads} + 1; }
constexpr std::size_t poolUsers = 3;

struct WorkPool {
  std::vector<std::thread> threads;
  std::vector<WorkerScratch> scratch;  // one for each thread, the main thread's last
  std::vector<Job*> queue;             // jobs not yet taken, the oldest first: queued of its size
  std::size_t queued = 0;
  bool stopping = false;
  std::mutex mutex;
  std::condition_variable jobQueued, jobDone;
};

// The number of threads a run uses, the main thread among them: CELLPROD_THREADS where it is a
// positive whole number, blanks around it allowed, else the processors this process may run on;
// at most maxThreads.
unsigned threadCount();

// Sets the pool up for a run of `threads` threads: the main thread's scratch and the queue
// (poolUsers * jobsPerUser(threads) jobs), then up to threads - 1 threads, each with a scanner
// of scanBytes bytes; fewer where a thread or its memory cannot be had. False where not even
// the main thread's part can be had: the run then reads and formats without the pool.
bool startPool(WorkPool& pool, unsigned threads, std::size_t scanBytes);

// Whether the pool is set up (startPool) and can be given jobs.
inline bool poolStarted(const WorkPool& pool) { return !pool.queue.empty(); }

// Queues a job that is not queued or running; at most the queue's size at once.
void giveJob(WorkPool& pool, Job& job, void (*work)(void*, WorkerScratch&), void* data);

// Returns once the job is done, doing queued jobs meanwhile; a job that failed is done again
// here, where a failure ends the run.
void finishJob(WorkPool& pool, Job& job);

// Ends the threads once the jobs they are doing are done; queued jobs are dropped. A run that
// fails ends without it.
void stopPool(WorkPool& pool);
