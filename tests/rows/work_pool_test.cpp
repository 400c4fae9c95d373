// The one ordered hand-over: the jobs of several rings start in the order they were queued,
// whoever does them; their failures, memory shortage among them, are values; a pool stops with
// jobs still queued; and a count or state out of turn ends the run as a defect (status 7), a
// check that every build keeps.
#include "rows/work_pool.h"

#include <gtest/gtest.h>

#include <algorithm>  // sort
#include <atomic>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

using Job = std::pair<int, std::uint64_t>;  // a ring and a job of it

struct Log {
  std::mutex mutex;
  std::vector<Job> begun;  // in the order the jobs began
  std::atomic<bool> hold{false};
};

struct Owner {
  Log* log;
  int ring;
};

// Notes its start, waits while the log holds, and fails for some numbers: every fifth where
// memory runs short, every fifth after that with a message.
void work(void* owner, std::uint64_t sequence, JobScratch&) {
  const Owner& o = *static_cast<Owner*>(owner);
  {
    std::lock_guard held(o.log->mutex);
    o.log->begun.push_back({o.ring, sequence});
  }
  while (o.log->hold) std::this_thread::yield();
  if (sequence % 5 == 3) throw std::bad_alloc();
  if (sequence % 5 == 4) fail(5, "failed\n");
}

struct Rings {
  RowLock lock;
  WorkPool pool;
  std::array<JobRing, 2> rings;
  Log log;
  std::array<Owner, 2> owners{Owner{&log, 0}, Owner{&log, 1}};

  explicit Rings(unsigned threads, std::size_t capacity = 4) {
    preparePool(pool, lock, 0);
    for (int k = 0; k < 2; ++k) {
      EXPECT_TRUE(makeRing(rings[k], capacity));
      rings[k].work = work;
      rings[k].owner = &owners[k];
      addRing(pool, rings[k]);
    }
    startPoolThreads(pool, threads - 1);
  }
};

}  // namespace

TEST(JobRing, JobsStartInTheirQueuedOrderAndFailAsValues) {
  for (unsigned threads : {1u, 2u, 5u}) {
    Rings r(threads);
    r.log.hold = threads > 1;  // the threads take jobs while the main thread queues them
    std::unique_lock held(r.lock.mutex);
    std::vector<Job> queued;
    std::uint64_t taken[2] = {0, 0};
    for (int round = 0; round < 60; ++round) {
      const int k = round * 7 % 3 == 0 ? 1 : 0;
      if (ringHasRoom(r.rings[k])) queued.push_back({k, queueJob(r.pool, r.rings[k])});
      if (round % 4 != 3) continue;
      r.log.hold = false;
      // Each ring's results are taken in order, the main thread doing queued jobs meanwhile.
      for (int j = 0; j < 2; ++j)
        while (taken[j] < r.rings[j].given) {
          JobSlot& slot = slotOf(r.rings[j], taken[j]);
          r.rings[j].awaited = taken[j];  // the job whose end wakes the main thread
          if (slot.state != JobState::done) {
            if (!doQueuedJob(r.pool, held)) waitFor(r.lock.main, held);
            continue;
          }
          const std::uint64_t s = taken[j]++;
          EXPECT_EQ(slot.failure.has_value(), s % 5 >= 3) << s;
          if (s % 5 == 3) {
            EXPECT_TRUE(slot.failure->outOfMemory);
          } else if (s % 5 == 4) {
            EXPECT_EQ(slot.failure->message, "failed\n");
          }
          releaseJob(r.rings[j], JobState::done);
        }
      r.log.hold = threads > 1;
    }
    std::lock_guard logged(r.log.mutex);
    if (threads == 1) EXPECT_EQ(r.log.begun, queued);  // the main thread did them in turn
    else EXPECT_EQ(r.log.begun.size(), queued.size());
  }
}

TEST(JobRing, APoolStopsWithJobsQueued) {
  Rings r(3);
  r.log.hold = true;
  {
    std::lock_guard held(r.lock.mutex);
    for (int i = 0; i < 4; ++i)
      for (JobRing& ring : r.rings) queueJob(r.pool, ring);
  }
  for (bool twoBegun = false; !twoBegun; std::this_thread::yield()) {
    std::lock_guard logged(r.log.mutex);
    twoBegun = r.log.begun.size() == 2;
  }
  {
    std::lock_guard held(r.lock.mutex);
    r.pool.stopping = true;  // before the two jobs end, so that the threads take no other
  }
  r.log.hold = false;
  stopPool(r.pool);
  std::sort(r.log.begun.begin(), r.log.begun.end());
  EXPECT_EQ(r.log.begun, (std::vector<Job>{{0, 0}, {1, 0}}));  // the oldest two, and no more
}

TEST(JobRing, CountsAndStatesOutOfTurnAreDefects) {
  const std::pair<void (*)(Rings&), const char*> misuses[] = {
      {[](Rings& r) {
         for (int i = 0; i < 3; ++i) queueJob(r.pool, r.rings[0]);
       },
       "a job given to a full ring"},
      {[](Rings& r) { releaseJob(r.rings[0], JobState::done); }, "a job outside its ring"},
      {[](Rings& r) { releaseJob(r.rings[1], JobState::done); }, "a job in an unexpected state"},
  };
  for (const auto& [misuse, what] : misuses) {
    Rings r(1, 2);
    std::lock_guard held(r.lock.mutex);
    queueJob(r.pool, r.rings[1]);
    const std::optional<CaughtFailure> f = catchFailure([&] { misuse(r); });
    ASSERT_TRUE(f.has_value()) << what;
    EXPECT_EQ(f->status, 7);
    EXPECT_EQ(f->message, std::string("internal error: ") + what + "\n");
  }
  EXPECT_EXIT(
      {
        Rings r(1, 1);
        std::lock_guard held(r.lock.mutex);
        queueJob(r.pool, r.rings[0]);
        queueJob(r.pool, r.rings[0]);
      },
      ::testing::ExitedWithCode(7), "");
}
