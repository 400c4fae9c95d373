// The one ordered hand-over of the row machinery: a ring of jobs numbered from 0 in the order
// they are given, job s in slot s % capacity, each slot with its job's number and state. Every
// producer and consumer pair uses one: the pieces of an input, which the pool reads; the blocks
// of a stream, which a reader thread fills; the bands of the output, which the pool forms and the
// writer writes. Jobs are given, started and released in order; they are done in any order; the
// main thread takes their results in order. Every count and state is checked in every build: a
// failed check is a defect, which ends the run (status 7) on the main thread and is a value, like
// every failure, on any other.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>  // unique_ptr
#include <mutex>
#include <optional>

#include "decimal/scanner.h"
#include "platform/console.h"

// A condition to wait for under the lock of the rings, notified only where a thread waits.
struct Waiters {
  std::condition_variable condition;
  unsigned waiting = 0;
};

// Waits, with the lock held by `held`, until woken.
void waitFor(Waiters& waiters, std::unique_lock<std::mutex>& held);

// Takes the lock back after work done without it: a few tries first, since it is held only for
// moments, where a thread that sleeps on it costs a wake-up.
void relock(std::unique_lock<std::mutex>& held);

// Wakes whoever waits; call it with the lock held.
inline void wake(Waiters& waiters) {
  if (waiters.waiting > 0) waiters.condition.notify_all();
}

// The lock of every ring of a run, and who waits under it for what.
struct RowLock {
  std::mutex mutex;
  Waiters jobs;     // the pool's threads: a job to start
  Waiters main;     // the main thread: a job done, a band written, a failure on another thread
  Waiters writer;   // the writer: a band handed to it
  Waiters readers;  // the readers of streams: a free slot
  std::optional<CaughtFailure> defect;  // what ended a thread other than the main one outside a job
};

// Runs the loop of a thread other than the main one with its failures as values: one that ends
// it is the run's defect (RowLock::defect), for the main thread to report.
template <class Loop>
void runThreadLoop(RowLock& lock, Loop loop) {
  std::optional<CaughtFailure> failure = catchFailure(loop);
  if (!failure) return;
  std::lock_guard held(lock.mutex);
  lock.defect = std::move(failure);
  wake(lock.main);
}

enum class JobState : std::uint8_t {
  free,     // no job in the slot
  queued,   // given to the pool
  running,  // being done, by the pool or a reader
  done,     // its result is ready; a band: for the main thread to add up and hand on
  handed,   // a band handed to the writer
  written,  // a band the writer has written, or failed to write
};

// What a thread of the pool needs of its own for any job: the scanner of text pieces, and the
// few values read last, which stay in the nearest cache (inputs.cpp, readStaged).
struct JobScratch {
  TextScanner scanner;
  double staged[512];
  bool mainThread = false;
};

struct JobSlot {
  std::uint64_t sequence = 0;
  JobState state = JobState::free;
  std::uint64_t ticket = 0;  // when it was queued, among the jobs of every ring of the pool
  std::optional<CaughtFailure> failure;  // what ended the job instead of its result
};

struct JobRing {
  std::size_t capacity = 0;
  std::unique_ptr<JobSlot[]> slots;
  std::uint64_t given = 0;     // jobs given so far
  std::uint64_t started = 0;   // queued jobs a thread has started
  std::uint64_t released = 0;  // jobs whose slots are free again
  std::uint64_t awaited = 0;   // the job whose result the main thread takes next
  // For the pool: does job `sequence` of the ring, for its owner.
  void (*work)(void* owner, std::uint64_t sequence, JobScratch& scratch) = nullptr;
  void* owner = nullptr;
};

// Sets the ring up with `capacity` slots; false where the memory cannot be had.
bool makeRing(JobRing& ring, std::size_t capacity);

// The ring has a free slot for the next job.
inline bool ringHasRoom(const JobRing& ring) { return ring.given - ring.released < ring.capacity; }

// The slot of job `sequence`, which must be given and not released.
JobSlot& slotOf(JobRing& ring, std::uint64_t sequence);

// Gives the next job in `state` (queued or running) and returns its number; the ring must have
// room.
std::uint64_t giveToRing(JobRing& ring, JobState state, std::uint64_t ticket = 0);

// Job `sequence` moves from state `from` to `to`.
void moveJob(JobRing& ring, std::uint64_t sequence, JobState from, JobState to);

// Job `sequence` is done, its failure, if any, with it; the main thread is woken where it waits
// for this very job, the one it takes next: a job done ahead waits for it, without a wake-up,
// which costs most where threads sleep (and on virtual machines more).
void jobDone(JobRing& ring, std::uint64_t sequence, std::optional<CaughtFailure> failure,
             RowLock& lock);

// The oldest job not released, which must be in state `state`, frees its slot.
void releaseJob(JobRing& ring, JobState state);

// Ends the run as a defect of the row machinery unless `holds`.
void checkRows(bool holds, const char* what);
