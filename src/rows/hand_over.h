// The one way work passes in order between a thread that makes it and one that uses it: a ring
// of a fixed number of places, filled in order by the maker and given back in the same order by
// the user. Both sides count from the start of the run; the maker waits for a free place, the
// user for a filled one, neither spins, and every count is checked against the ring's size.
// What a place holds (rows, a failure that takes a row's place) is the caller's.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

struct HandOver {
  std::size_t places = 0;  // the ring's size, set once before the maker starts
  std::size_t filled = 0;  // places filled and handed over, counted from the start
  std::size_t given = 0;   // places given back by the user, counted from the start
  bool stopped = false;    // the user takes no more: the maker stops at its next wait
  std::mutex mutex;
  std::condition_variable changed;
};

// The maker: waits for a free place and returns the count of places filled so far, whose place
// (count % places) is the one to fill; false once the user has stopped.
bool waitForFreePlace(HandOver& h, std::size_t& filled);

// The maker: the place it was given by waitForFreePlace is filled.
void handOver(HandOver& h);

// The user: waits for the place after the `given` ones to be filled.
void waitForFilledPlace(HandOver& h);

// The user: whether the place after the `given` ones, and `ahead` more, are filled, without
// waiting.
bool placesFilled(HandOver& h, std::size_t ahead = 0);

// The user: the oldest filled place is free again.
void giveBack(HandOver& h);

// The user takes no more: a maker waiting for a free place stops.
void stopHandOver(HandOver& h);
