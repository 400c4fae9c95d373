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
    std::array<std::size_t, 5> ring{};
    std::thread maker([&] {
      for (std::size_t filled = 0; waitForFreePlace(h, filled); handOver(h))
        ring[filled % places] = filled;
    });
    for (std::size_t expected = 0; expected < 1000; ++expected) {
      waitForFilledPlace(h);
      ASSERT_EQ(ring[h.given % places], expected);
      ASSERT_FALSE(placesFilled(h, places));  // never more than the places ahead
      giveBack(h);
    }
    stopHandOver(h);
    maker.join();
  }
}
