#include "rows/work_pool.h"

#include <algorithm>  // min
#include <atomic>
#include <charconv>      // from_chars
#include <cstdlib>       // getenv
#include <cstring>       // strlen
#include <system_error>  // errc

#include "platform/os.h"
#include "platform/threads.h"

namespace {

std::atomic<bool> countingJobTime{false};
std::atomic<std::uint64_t> mainJobNanoseconds{0};

// The ring whose next queued job was queued first, or null where none is queued.
JobRing* oldestQueued(WorkPool& pool) {
  JobRing* oldest = nullptr;
  std::uint64_t ticket = 0;
  for (std::size_t i = 0; i < pool.ringCount; ++i) {
    JobRing& ring = *pool.rings[i];
    if (ring.started == ring.given) continue;
    const std::uint64_t t = slotOf(ring, ring.started).ticket;
    if (oldest == nullptr || t < ticket) oldest = &ring, ticket = t;
  }
  return oldest;
}

// Does the oldest queued job with the lock released, its failures as values; false where none
// is queued.
bool doJob(WorkPool& pool, std::unique_lock<std::mutex>& held, JobScratch& scratch) {
  JobRing* const ring = oldestQueued(pool);
  if (ring == nullptr) return false;
  const std::uint64_t sequence = ring->started++;
  moveJob(*ring, sequence, JobState::queued, JobState::running);
  held.unlock();
  std::optional<CaughtFailure> failure =
      catchFailure([&] { ring->work(ring->owner, sequence, scratch); });
  relock(held);
  jobDone(*ring, sequence, std::move(failure), *pool.lock);
  return true;
}

void workOn(WorkPool& pool) {
  // Under catchFailure: new (std::nothrow) calls operator new's handler, which would end the run.
  JobScratch scratch;
  bool ready = pool.scanBytes == 0;
  catchFailure([&] { ready = ready || initScanner(scratch.scanner, pool.scanBytes); });
  if (!ready) {  // one thread fewer: the main thread does jobs too, so that none is left undone
    std::lock_guard held(pool.lock->mutex);
    pool.threadLost = true;
    wake(pool.lock->main);
    return;
  }
  runThreadLoop(*pool.lock, [&] {
    std::unique_lock held(pool.lock->mutex);
    while (!pool.stopping)
      if (!doJob(pool, held, scratch)) waitFor(pool.lock->jobs, held);
  });
}

}  // namespace

unsigned threadCount(bool smallRun) {
  if (const char* text = std::getenv("CELLPROD_THREADS")) {
    // Blanks around the number are no part of it: cmd's `set CELLPROD_THREADS=1 & cellprod ...`
    // gives the value "1 ".
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const char* first = text;
    const char* end = text + std::strlen(text);
    while (first < end && blank(*first)) ++first;
    while (end > first && blank(end[-1])) --end;
    unsigned n = 0;
    const auto [stop, error] = std::from_chars(first, end, n);
    if (error == std::errc() && stop == end && n > 0) return std::min(n, maxThreads);
  }
  return smallRun ? 1 : std::min(usableProcessors(), maxThreads);
}

bool preparePool(WorkPool& pool, RowLock& lock, std::size_t scanBytes) {
  pool.lock = &lock;
  pool.scanBytes = scanBytes;
  pool.mainScratch.mainThread = true;
  return scanBytes == 0 || initScanner(pool.mainScratch.scanner, scanBytes);
}

void addRing(WorkPool& pool, JobRing& ring) {
  checkRows(pool.ringCount < maxPoolRings, "a ring too many for the pool");
  pool.rings[pool.ringCount++] = &ring;
}

void startPoolThreads(WorkPool& pool, unsigned count) {
  // Memory for the vector that cannot be had is taken as no thread at all.
  catchFailure([&] { pool.threads.reserve(count); });
  for (unsigned i = 0; i < count && pool.threads.size() < pool.threads.capacity(); ++i) {
    std::thread thread;
    if (!startThread(thread, workOn, std::ref(pool))) break;
    pool.threads.push_back(std::move(thread));  // within the capacity reserved
  }
  pool.mainHelps = pool.threads.size() < usableProcessors();
}

std::uint64_t queueJob(WorkPool& pool, JobRing& ring) {
  const std::uint64_t sequence = giveToRing(ring, JobState::queued, ++pool.tickets);
  if (pool.lock->jobs.waiting > 0) pool.lock->jobs.condition.notify_one();
  return sequence;
}

bool doQueuedJob(WorkPool& pool, std::unique_lock<std::mutex>& held) {
  if (!pool.mainHelps && !pool.threadLost) return false;
  if (!countingJobTime.load(std::memory_order_relaxed)) return doJob(pool, held, pool.mainScratch);
  const std::uint64_t before = threadCpuNanoseconds();
  const bool done = doJob(pool, held, pool.mainScratch);
  if (done) mainJobNanoseconds += threadCpuNanoseconds() - before;
  return done;
}

void stopPool(WorkPool& pool) {
  if (pool.lock == nullptr) return;
  {
    std::lock_guard held(pool.lock->mutex);
    pool.stopping = true;
    pool.lock->jobs.condition.notify_all();
  }
  for (std::thread& thread : pool.threads) thread.join();
  pool.threads.clear();
}

WorkPool::~WorkPool() { stopPool(*this); }

void countMainThreadJobTime() { countingJobTime = true; }

std::uint64_t mainThreadJobTime() { return mainJobNanoseconds.load(); }
