#include "driver/statistics_lane.h"

#include "platform/console.h"
#include "platform/threads.h"

namespace {

void addBlocks(StatisticsLane& lane) {
  std::unique_lock lock(lane.mutex);
  for (;;) {
    lane.changed.wait(lock, [&] { return lane.stopping || lane.given > lane.added; });
    if (lane.given == lane.added) return;  // stopping, with every block added
    const StatisticsLane::Block block = lane.ring[lane.added % lane.ring.size()];
    lock.unlock();
    lane.statistics->addSamples(block.values, block.count);
    lock.lock();
    ++lane.added;
    if (lane.mainWaits) lane.changed.notify_all();
  }
}

}  // namespace

bool startLane(StatisticsLane& lane, ProductStatistics& statistics, std::size_t capacity) {
  lane.statistics = &statistics;
  // Memory for the ring that cannot be had is thrown here, as under catchFailure, rather than
  // ending the run; without the ring or the thread the main thread adds the products itself.
  catchFailure([&] { lane.ring.resize(capacity); });
  return lane.ring.size() == capacity && startThread(lane.thread, addBlocks, std::ref(lane));
}

bool laneRuns(const StatisticsLane& lane) { return lane.thread.joinable(); }

void giveToLane(StatisticsLane& lane, const double* values, std::size_t n) {
  {
    std::lock_guard lock(lane.mutex);
    lane.ring[lane.given % lane.ring.size()] = {values, n};
    ++lane.given;
  }
  lane.changed.notify_all();
}

void waitForLane(StatisticsLane& lane, std::size_t blocks) {
  std::unique_lock lock(lane.mutex);
  lane.mainWaits = true;
  lane.changed.wait(lock, [&] { return lane.added >= blocks; });
  lane.mainWaits = false;
}

void stopLane(StatisticsLane& lane) {
  if (!laneRuns(lane)) return;
  {
    std::lock_guard lock(lane.mutex);
    lane.stopping = true;
  }
  lane.changed.notify_all();
  lane.thread.join();
}
