#include "rows/work_pool.h"

#include <algorithm>  // min
#include <cassert>
#include <charconv>      // from_chars
#include <cstdlib>       // getenv
#include <cstring>       // strlen
#include <system_error>  // errc

#include "platform/console.h"
#include "platform/os.h"
#include "platform/threads.h"

namespace {

// Takes the oldest queued job, or `wanted` itself where it is still queued; null if none is.
Job* takeJob(WorkPool& pool, Job* wanted) {
  if (pool.queued == 0) return nullptr;
  std::size_t i = 0;
  if (wanted != nullptr) {
    while (i < pool.queued && pool.queue[i] != wanted) ++i;
    if (i == pool.queued) i = 0;
  }
  Job* job = pool.queue[i];
  for (; i + 1 < pool.queued; ++i) pool.queue[i] = pool.queue[i + 1];
  --pool.queued;
  job->state = Job::State::running;
  return job;
}

// Does the job with the mutex released, its failures as values; it is locked again after.
void doJob(std::unique_lock<std::mutex>& lock, Job& job, WorkerScratch& scratch) {
  lock.unlock();
  const bool failed = catchFailure([&] { job.work(job.data, scratch); }).has_value();
  lock.lock();
  job.failed = failed;
  job.state = Job::State::done;
}

void workOn(WorkPool& pool, WorkerScratch& scratch) {
  std::unique_lock lock(pool.mutex);
  for (;;) {
    pool.jobQueued.wait(lock, [&] { return pool.stopping || pool.queued > 0; });
    if (pool.queued == 0) return;  // stopping, with nothing left
    doJob(lock, *takeJob(pool, nullptr), scratch);
    pool.jobDone.notify_one();
  }
}

// Memory that cannot be had leaves the scratch without a buffer, rather than ending the run
// in operator new's handler.
bool makeScratch(WorkerScratch& scratch, std::size_t scanBytes) {
  catchFailure([&] { initScanner(scratch.scanner, scanBytes); });
  return scratch.scanner.buffer != nullptr;
}

}  // namespace

unsigned threadCount() {
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
  return std::min(usableProcessors(), maxThreads);
}

bool startPool(WorkPool& pool, unsigned threads, std::size_t scanBytes) {
  const unsigned workers = threads - 1;
  // Memory for the vectors and the threads that cannot be had is thrown here, as under
  // catchFailure, rather than ending the run: the run then goes on with fewer threads.
  catchFailure([&] {
    pool.queue.resize(poolUsers * jobsPerUser(threads));
    pool.scratch.resize(workers + 1);
    pool.threads.reserve(workers);
  });
  if (pool.scratch.size() != workers + 1 || pool.threads.capacity() < workers ||
      !makeScratch(pool.scratch.back(), scanBytes)) {
    pool.scratch.clear();
    pool.queue.clear();
    return false;
  }
  for (unsigned i = 0; i < workers; ++i) {
    std::thread thread;
    if (!makeScratch(pool.scratch[i], scanBytes) ||
        !startThread(thread, workOn, std::ref(pool), std::ref(pool.scratch[i])))
      break;
    pool.threads.push_back(std::move(thread));  // within the capacity reserved
  }
  return true;
}

void giveJob(WorkPool& pool, Job& job, void (*work)(void*, WorkerScratch&), void* data) {
  {
    std::lock_guard lock(pool.mutex);
    assert(job.state == Job::State::idle || job.state == Job::State::done);
    assert(pool.queued < pool.queue.size());
    job.work = work;
    job.data = data;
    job.failed = false;
    job.state = Job::State::queued;
    pool.queue[pool.queued++] = &job;
  }
  pool.jobQueued.notify_one();
}

void finishJob(WorkPool& pool, Job& job) {
  std::unique_lock lock(pool.mutex);
  while (job.state != Job::State::done) {
    if (Job* next = takeJob(pool, job.state == Job::State::queued ? &job : nullptr))
      doJob(lock, *next, pool.scratch.back());
    else pool.jobDone.wait(lock);
  }
  if (!job.failed) return;
  // Where it failed, as where memory ran short on another thread, the main thread does it as
  // one thread would, and a failure now ends the run.
  lock.unlock();
  job.work(job.data, pool.scratch.back());
  job.failed = false;
}

void stopPool(WorkPool& pool) {
  {
    std::lock_guard lock(pool.mutex);
    pool.stopping = true;
    pool.queued = 0;  // pieces given ahead of rows that are no longer wanted
  }
  pool.jobQueued.notify_all();
  for (std::thread& thread : pool.threads) thread.join();
  pool.threads.clear();
}
