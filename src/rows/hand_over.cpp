#include "rows/hand_over.h"

#include <cassert>

bool waitForFreePlace(HandOver& h, std::size_t& filled) {
  std::unique_lock lock(h.mutex);
  h.changed.wait(lock, [&] { return h.stopped || h.filled - h.given < h.places; });
  filled = h.filled;
  return !h.stopped;
}

void handOver(HandOver& h) {
  {
    std::lock_guard lock(h.mutex);
    assert(h.filled - h.given < h.places);
    ++h.filled;
  }
  h.changed.notify_all();
}

void waitForFilledPlace(HandOver& h) {
  std::unique_lock lock(h.mutex);
  h.changed.wait(lock, [&] { return h.filled > h.given; });
}

bool placesFilled(HandOver& h, std::size_t ahead) {
  std::lock_guard lock(h.mutex);
  return h.filled > h.given + ahead;
}

void giveBack(HandOver& h) {
  {
    std::lock_guard lock(h.mutex);
    assert(h.given < h.filled);
    ++h.given;
  }
  h.changed.notify_all();
}

void stopHandOver(HandOver& h) {
  {
    std::lock_guard lock(h.mutex);
    h.stopped = true;
  }
  h.changed.notify_all();
}
