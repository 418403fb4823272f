#include "turn_filter.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace engine {

namespace {

constexpr char kTurnLabel[] = "@orvanel-turn";

const mpv_node* mapValue(const mpv_node& map, std::string_view key) {
  if (map.format != MPV_FORMAT_NODE_MAP || !map.u.list) return nullptr;
  for (int i = 0; i < map.u.list->num; ++i) {
    if (map.u.list->keys[i] && key == map.u.list->keys[i]) return &map.u.list->values[i];
  }
  return nullptr;
}

bool flagOf(const mpv_node& map, std::string_view key) {
  const mpv_node* value = mapValue(map, key);
  return value && value->format == MPV_FORMAT_FLAG && value->u.flag != 0;
}

int64_t intOf(const mpv_node& map, std::string_view key, int64_t fallback) {
  const mpv_node* value = mapValue(map, key);
  return value && value->format == MPV_FORMAT_INT64 ? value->u.int64 : fallback;
}

bool isVideoTrack(const mpv_node& track) {
  const mpv_node* type = mapValue(track, "type");
  return type && type->format == MPV_FORMAT_STRING && type->u.string &&
         std::strcmp(type->u.string, "video") == 0;
}

void queue(mpv_handle* mpv, const char* operation, const char* argument) {
  const char* command[] = {"vf", operation, argument, nullptr};
  mpv_command_async(mpv, 0, command);
}

}  // namespace

int quarterTurnDegrees(int64_t degrees) {
  const int64_t turn = ((degrees % 360) + 360) % 360;
  return static_cast<int>((turn + 45) / 90 % 4 * 90);
}

int effectiveTurn(int64_t streamRotation, int64_t requested) {
  return requested < 0 ? 0 : quarterTurnDegrees(streamRotation + requested);
}

std::string turnFilterGraph(int quarterDegrees) {
  switch (quarterDegrees) {
    case 90: return "transpose=clock";
    case 180: return "hflip,vflip";
    case 270: return "transpose=cclock";
    default: return "";
  }
}

int64_t upcomingVideoRotation(mpv_handle* mpv) {
  int64_t wanted = -1;  // "vid" as a track id, -1 for auto, 0 for none
  if (char* vid = mpv_get_property_string(mpv, "vid")) {
    if (std::strcmp(vid, "no") == 0) wanted = 0;
    else if (std::strcmp(vid, "auto") != 0) wanted = std::strtoll(vid, nullptr, 10);
    mpv_free(vid);
  }
  mpv_node list{};
  if (mpv_get_property(mpv, "track-list", MPV_FORMAT_NODE, &list) < 0) return 0;
  const mpv_node *selected = nullptr, *named = nullptr, *firstDefault = nullptr, *first = nullptr;
  if (list.format == MPV_FORMAT_NODE_ARRAY && list.u.list) {
    for (int i = 0; i < list.u.list->num; ++i) {
      const mpv_node& track = list.u.list->values[i];
      if (!isVideoTrack(track)) continue;
      if (flagOf(track, "selected") && !selected) selected = &track;
      if (wanted > 0 && intOf(track, "id", -1) == wanted) named = &track;
      if (flagOf(track, "default") && !firstDefault) firstDefault = &track;
      if (!first) first = &track;
    }
  }
  const mpv_node* track = selected ? selected
                          : wanted > 0 ? named
                          : wanted == 0 ? nullptr
                          : firstDefault ? firstDefault
                                         : first;
  const int64_t rotation = track ? intOf(*track, "demux-rotation", 0) : 0;
  mpv_free_node_contents(&list);
  return rotation;
}

void queueTurnFilter(mpv_handle* mpv, int previousDegrees, int quarterDegrees) {
  // Removing a label that is not there would log a warning.
  if (previousDegrees != 0) queue(mpv, "remove", kTurnLabel);
  const std::string graph = turnFilterGraph(quarterDegrees);
  if (graph.empty()) return;
  const std::string filter = std::string(kTurnLabel) + ":lavfi=[" + graph + "]";
  queue(mpv, "add", filter.c_str());
}

}  // namespace engine
