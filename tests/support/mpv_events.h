// An engine event as mpv_wait_event hands it over, for feeding a player's
// event entry point.
#pragma once

#include <mpv/client.h>

inline mpv_event eventOf(mpv_event_id id, void* data = nullptr) {
  mpv_event event{};
  event.event_id = id;
  event.data = data;
  return event;
}
