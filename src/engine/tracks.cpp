#include "tracks.h"

#include <cmath>

namespace engine {

namespace {

std::string readText(const mpv_node& map, const char* key, NodeReading reading) {
  const mpv_node* value = findMapValue(map, key, reading, MPV_FORMAT_STRING);
  return value ? readNodeString(*value) : std::string();
}

bool readFlag(const mpv_node& map, const char* key, NodeReading reading) {
  const mpv_node* value = findMapValue(map, key, reading, MPV_FORMAT_FLAG);
  return value && readNodeFlag(*value);
}

bool readId(const mpv_node& map, const ListReading& reading, int64_t& id) {
  const mpv_node* value = findMapValue(map, "id", reading.nodes, MPV_FORMAT_INT64);
  if (value == nullptr) return false;
  if (reading.nodes == NodeReading::exact) {
    id = value->u.int64;
    return true;
  }
  return readLenientId(*value, id, reading.idOverflow);
}

}  // namespace

bool readTrack(const mpv_node& element, const char* type, const ListReading& reading,
               Track& track) {
  const mpv_node* typeValue = findMapValue(element, "type", reading.nodes, MPV_FORMAT_STRING);
  if (typeValue == nullptr || readNodeString(*typeValue) != type) return false;
  track = Track();
  if (!readId(element, reading, track.id) || track.id < 0) return false;
  track.title = readText(element, "title", reading.nodes);
  track.language = readText(element, "lang", reading.nodes);
  if (reading.nodes == NodeReading::lenient) {
    track.selected = readFlag(element, "selected", reading.nodes);
  }
  track.defaultTrack = readFlag(element, "default", reading.nodes);
  track.forced = readFlag(element, "forced", reading.nodes);
  return true;
}

std::vector<Track> readTracks(const mpv_node& list, const char* type, const ListReading& reading,
                              int64_t* selectedId) {
  std::vector<Track> tracks;
  if (selectedId) *selectedId = -1;
  if (list.format != MPV_FORMAT_NODE_ARRAY || list.u.list == nullptr) return tracks;
  const mpv_node_list& items = *list.u.list;
  for (int i = 0; i < items.num; ++i) {
    Track track;
    if (!readTrack(items.values[i], type, reading, track)) continue;
    if (track.selected && selectedId) *selectedId = track.id;
    tracks.push_back(std::move(track));
  }
  return tracks;
}

std::vector<Chapter> readChapters(const mpv_node& list, const ListReading& reading) {
  std::vector<Chapter> chapters;
  if (list.format != MPV_FORMAT_NODE_ARRAY || list.u.list == nullptr) return chapters;
  const mpv_node_list& items = *list.u.list;
  for (int i = 0; i < items.num && chapters.size() < kMaxChapters; ++i) {
    const mpv_node& element = items.values[i];
    const mpv_node* time =
        findMapValue(element, "time", reading.nodes, MPV_FORMAT_INT64, MPV_FORMAT_DOUBLE);
    if (time == nullptr) continue;
    Chapter chapter;
    if (time->format == MPV_FORMAT_INT64) {
      chapter.timeSeconds = double(time->u.int64);
    } else if (time->format == MPV_FORMAT_DOUBLE) {
      chapter.timeSeconds = time->u.double_;
    } else {
      continue;
    }
    if (!std::isfinite(chapter.timeSeconds)) continue;
    chapter.title = cutUtf8(readText(element, "title", reading.nodes), kMaxChapterTitleBytes);
    chapters.push_back(std::move(chapter));
  }
  return chapters;
}

void selectTrack(std::vector<Track>& tracks, int64_t& selectedId, int64_t id) {
  selectedId = id >= 0 ? id : -1;
  for (Track& track : tracks) track.selected = track.id == selectedId;
}

}  // namespace engine
