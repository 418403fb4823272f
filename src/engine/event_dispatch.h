// One turn of a player's event loop, shared by both players: wait for an
// engine event, read what must be read from the engine outside the lock (the
// facts of a stream's end), then under the player's lock route the event to
// the player's row for its id, apply the end of the stream and the stall
// bound, and last do what the player does outside the lock.
//
// A player hands its record (with `mpv`, `stateMutex` and `running`) and a
// PlayerEvents of its own rows and rules. `Turn` is the player's plain record
// of what the locked part leaves for the part after it.
//
// Threads: the player's event thread. The engine is never called with the
// record's stateMutex held, but where a row or rule says so.
#pragma once

#include <mpv/client.h>

#include <atomic>
#include <cstdint>
#include <span>

#include "mutex.h"
#include "stream_end.h"

namespace engine {

// What a player does with one kind of event. Caller holds stateMutex.
template <typename Record>
struct EventRow {
  mpv_event_id id;
  void (*handleLocked)(Record&, const mpv_event&);
};

template <typename Record, typename Turn>
struct PlayerEvents {
  std::span<const EventRow<Record>> rows;  // the first row of an event's id handles it
  // Before anything, outside the lock; true when it took the event, which
  // then ends the turn. Null: none.
  bool (*takeUnlocked)(Record&, const mpv_event&);
  // Before the event's row. Null: none. Caller holds stateMutex.
  void (*beginLocked)(Record&, Turn&);
  // After an event that reports the end of the stream, with the facts read
  // before the lock. Caller holds stateMutex.
  void (*streamEndLocked)(Record&, const StreamEndFacts&);
  // Last under the lock, after every wait: the stall bound, with the time of
  // eventClockNs(). Caller holds stateMutex.
  void (*endLocked)(Record&, Turn&, int64_t nowNs);
  // After the lock. Null: none.
  void (*afterUnlocked)(Record&, const Turn&);
};

// The clock of the stall bound: the frame ring's monotonic clock.
int64_t eventClockNs();

// Routes one event to its row; an id without a row changes nothing.
// Caller holds stateMutex.
template <typename Record>
void dispatchEventLocked(std::span<const EventRow<Record>> rows, Record& record,
                         const mpv_event& event) {
  for (const EventRow<Record>& row : rows) {
    if (row.id != event.event_id) continue;
    row.handleLocked(record, event);
    return;
  }
}

// The turn after a wait that gave `event` (MPV_EVENT_NONE when it timed out).
// Event thread; takes stateMutex.
template <typename Record, typename Turn>
void handleEventTurn(Record& record, const PlayerEvents<Record, Turn>& events,
                     const mpv_event& event) {
  const bool hasEvent = event.event_id != MPV_EVENT_NONE;
  if (hasEvent && events.takeUnlocked && events.takeUnlocked(record, event)) return;
  const bool streamEnds = hasEvent && reportsStreamEnd(event);
  const StreamEndFacts facts = streamEnds ? readStreamEndFacts(record.mpv) : StreamEndFacts{};
  Turn turn{};
  {
    threads::MutexLock lock(record.stateMutex);
    if (events.beginLocked) events.beginLocked(record, turn);
    if (hasEvent) dispatchEventLocked(events.rows, record, event);
    if (streamEnds) events.streamEndLocked(record, facts);
    events.endLocked(record, turn, eventClockNs());
  }
  if (events.afterUnlocked) events.afterUnlocked(record, turn);
}

// Turns until `running` is cleared, waiting `waitSeconds` at most for each
// event so that the stall bound is checked that often. Event thread.
template <typename Record, typename Turn>
void runEventTurns(Record& record, const PlayerEvents<Record, Turn>& events, double waitSeconds) {
  while (record.running.load(std::memory_order_acquire)) {
    const mpv_event* event = mpv_wait_event(record.mpv, waitSeconds);
    if (event != nullptr) handleEventTurn(record, events, *event);
  }
}

}  // namespace engine
