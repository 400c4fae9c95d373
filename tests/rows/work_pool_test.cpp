// The pool's jobs: their failures, memory shortage among them, are values on every thread, and
// a job that failed is done again by the main thread when it needs it.
#include "rows/work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "platform/console.h"

namespace {

struct Work {
  std::atomic<int> tries{0};
  int failures = 0;  // the first tries that fail
  bool done = false;
};

// Fails its first tries, where memory runs short or with a message; then does its work.
void failFirst(void* data, WorkerScratch&) {
  Work& work = *static_cast<Work*>(data);
  const int attempt = work.tries++;
  if (attempt < work.failures) {
    if (attempt % 2 == 0) throw std::bad_alloc();
    fail(5, "failed on a thread\n");
  }
  work.done = true;
}

}  // namespace

TEST(WorkPool, FailedJobsAreDoneAgainByTheMainThread) {
  for (unsigned threads : {1u, 2u, 4u}) {
    WorkPool pool;
    ASSERT_TRUE(startPool(pool, threads, 4096));
    std::array<Work, 3 * 3> works;
    std::array<Job, 3 * 3> jobs;
    for (std::size_t round = 0; round < 3; ++round) {
      for (std::size_t i = 0; i < 3; ++i) {
        Work& w = works[round * 3 + i];
        w.failures = static_cast<int>(i % 2);  // every other one fails on its first try
        giveJob(pool, jobs[round * 3 + i], failFirst, &w);
      }
      for (std::size_t i = 0; i < 3; ++i) {
        finishJob(pool, jobs[round * 3 + i]);
        const Work& w = works[round * 3 + i];
        EXPECT_TRUE(w.done);
        EXPECT_EQ(w.tries, w.failures + 1);
      }
    }
    stopPool(pool);
  }
}

TEST(WorkPool, AFailureTheMainThreadMeetsAgainEndsTheRun) {
  EXPECT_EXIT(
      {
        WorkPool pool;
        startPool(pool, 2, 4096);
        Work w;
        w.failures = 2;
        Job job;
        giveJob(pool, job, failFirst, &w);
        finishJob(pool, job);
      },
      ::testing::ExitedWithCode(5), "");
}
