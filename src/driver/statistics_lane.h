// The statistics of the products on a thread of their own, beside the writes: the main thread
// hands over the products of each band in row order, and the lane adds them in that order,
// exactly as the main thread would have added them itself. The sum is one ordered sum, since
// its rounding defines the bytes of the statistics block.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "arith/statistics.h"

struct StatisticsLane {
  struct Block {
    const double* values = nullptr;
    std::size_t count = 0;
  };
  ProductStatistics* statistics = nullptr;
  std::vector<Block> ring;  // block k in ring[k % ring.size()]
  std::size_t given = 0;    // blocks handed over, counted from the start
  std::size_t added = 0;    // blocks added to the statistics
  bool stopping = false;
  bool mainWaits = false;  // the main thread waits for blocks to be added
  std::mutex mutex;
  std::condition_variable changed;
  std::thread thread;
};

// Starts the lane for up to `capacity` blocks handed over and not yet added. False where its
// memory or its thread cannot be had: the main thread then adds the products itself.
bool startLane(StatisticsLane& lane, ProductStatistics& statistics, std::size_t capacity);

bool laneRuns(const StatisticsLane& lane);

// Hands over n products, which stay unchanged until waitForLane says they are added.
void giveToLane(StatisticsLane& lane, const double* values, std::size_t n);

// Returns once the first `blocks` blocks handed over are added.
void waitForLane(StatisticsLane& lane, std::size_t blocks);

// Returns once every block is added, with the thread ended.
void stopLane(StatisticsLane& lane);
