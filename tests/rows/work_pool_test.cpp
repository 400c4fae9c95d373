// The pool's jobs: their failures, memory shortage among them, are values on every thread, and
// a job that failed is done again by the main thread when it needs it, where a failure that
// comes again ends the run.
#include "rows/work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "platform/console.h"

namespace {

struct Work {
  std::atomic<int> tries{0};
  int failures = 0;  // the first tries fail: where memory runs short, then with a message
  bool done = false;
};

void failFirst(void* data, WorkerScratch&) {
  Work& work = *static_cast<Work*>(data);
  const int attempt = work.tries++;
  if (attempt < work.failures && attempt == 0) throw std::bad_alloc();
  if (attempt < work.failures) fail(5, "failed again\n");
  work.done = true;
}

}  // namespace

TEST(WorkPool, FailedJobsAreDoneAgainByTheMainThread) {
  for (unsigned threads : {1u, 2u, 4u}) {
    WorkPool pool;
    ASSERT_TRUE(startPool(pool, threads, 4096));
    std::array<Work, 9> works;
    std::array<Job, 9> jobs;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      works[i].failures = static_cast<int>(i % 2);
      giveJob(pool, jobs[i], failFirst, &works[i]);
      if (i % 3 == 2) {  // at most three at once, as the queue holds
        for (std::size_t j = i - 2; j <= i; ++j) {
          finishJob(pool, jobs[j]);
          EXPECT_TRUE(works[j].done && works[j].tries == works[j].failures + 1) << j;
        }
      }
    }
    stopPool(pool);
  }
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
