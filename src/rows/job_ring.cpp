#include "rows/job_ring.h"

#include <new>  // nothrow

#include "grid/messages.h"
#include "platform/threads.h"

void waitFor(Waiters& waiters, std::unique_lock<std::mutex>& held) {
  ++waiters.waiting;
  waiters.condition.wait(held);
  --waiters.waiting;
}

void relock(std::unique_lock<std::mutex>& held) {
  for (int tries = 0; tries < 256; ++tries) {
    if (held.try_lock()) return;
    relaxProcessor();
  }
  held.lock();
}

bool makeRing(JobRing& ring, std::size_t capacity) {
  ring.slots.reset(new (std::nothrow) JobSlot[capacity]);
  ring.capacity = ring.slots != nullptr ? capacity : 0;
  ring.given = ring.started = ring.released = 0;
  return ring.slots != nullptr;
}

void checkRows(bool holds, const char* what) {
  if (!holds) fail(defectFailure(what));
}

JobSlot& slotOf(JobRing& ring, std::uint64_t sequence) {
  checkRows(sequence >= ring.released && sequence < ring.given, "a job outside its ring");
  JobSlot& slot = ring.slots[sequence % ring.capacity];
  checkRows(slot.sequence == sequence, "a slot holding another job");
  return slot;
}

std::uint64_t giveToRing(JobRing& ring, JobState state, std::uint64_t ticket) {
  checkRows(ringHasRoom(ring), "a job given to a full ring");
  JobSlot& slot = ring.slots[ring.given % ring.capacity];
  checkRows(slot.state == JobState::free, "a job given to a slot in use");
  slot = JobSlot{ring.given, state, ticket, std::nullopt};
  return ring.given++;
}

void moveJob(JobRing& ring, std::uint64_t sequence, JobState from, JobState to) {
  JobSlot& slot = slotOf(ring, sequence);
  checkRows(slot.state == from, "a job in an unexpected state");
  slot.state = to;
}

void jobDone(JobRing& ring, std::uint64_t sequence, std::optional<CaughtFailure> failure,
             RowLock& lock) {
  slotOf(ring, sequence).failure = std::move(failure);
  moveJob(ring, sequence, JobState::running, JobState::done);
  if (sequence == ring.awaited) wake(lock.main);
}

void releaseJob(JobRing& ring, JobState state) {
  moveJob(ring, ring.released, state, JobState::free);
  ++ring.released;
}
