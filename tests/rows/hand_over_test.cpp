// The hand-over between a maker and a user thread: everything in order, never more than its
// places ahead, and a maker that stops when the user does.
#include "rows/hand_over.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

TEST(HandOver, ItemsArriveInOrderAndTheMakerStaysWithinThePlaces) {
  for (std::size_t places : {1u, 2u, 5u}) {
    HandOver h;
    h.places = places;
    std::array<int, 5> ring{};
    std::size_t mostAhead = 0;
    std::thread maker([&] {
      for (int item = 0;; ++item) {
        std::size_t filled = 0;
        if (!waitForFreePlace(h, filled)) return;
        ring[filled % places] = item;
        handOver(h);
      }
    });
    for (int expected = 0; expected < 1000; ++expected) {
      waitForFilledPlace(h);
      {
        std::lock_guard lock(h.mutex);
        mostAhead = std::max(mostAhead, h.filled - h.given);
      }
      ASSERT_EQ(ring[h.given % places], expected);
      giveBack(h);
    }
    stopHandOver(h);
    maker.join();
    EXPECT_LE(mostAhead, places);
    EXPECT_FALSE(placesFilled(h, places));  // nothing beyond the places is ever filled
  }
}
