// What the engine reports about the file that plays (rates, codecs, buffer,
// dropped frames), as both players keep it, observe it and show it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "property_table.h"

namespace engine {

// Unknown values are encoded in the fields themselves: rates and the sample
// rate 0, texts empty, buffer and drop counts -1. A new file starts unknown.
struct StreamStats {
  double fps = 0;
  double videoBitrateBps = 0;
  double audioBitrateBps = 0;
  std::string videoCodec;
  std::string audioCodec;
  std::string audioChannels;
  int64_t audioSampleRateHz = 0;
  std::string container;
  double bufferedAheadSeconds = -1;
  int64_t frameDropCount = -1;
  int64_t decoderFrameDropCount = -1;
};

constexpr size_t kStreamStatsRowCount = 11;

// The rows that observe a StreamStats reached through the member pointers of
// `Path` (from the player's record to its StreamStats), in the order both
// players observe them. Each goes back to unknown when the engine has no
// value and when a new file starts.
template <auto... Path>
constexpr std::array<PropertyRow<RecordAt<Path...>>, kStreamStatsRowCount> streamStatsRows() {
  return {
      statisticRow<0, Path..., &StreamStats::fps>("estimated-vf-fps"),
      statisticRow<0, Path..., &StreamStats::videoBitrateBps>("video-bitrate"),
      statisticRow<0, Path..., &StreamStats::audioBitrateBps>("audio-bitrate"),
      textStatisticRow<Path..., &StreamStats::videoCodec>("video-format"),
      textStatisticRow<Path..., &StreamStats::audioCodec>("audio-codec-name"),
      textStatisticRow<Path..., &StreamStats::container>("file-format"),
      statisticRow<-1, Path..., &StreamStats::bufferedAheadSeconds>("demuxer-cache-duration"),
      statisticRow<-1, Path..., &StreamStats::frameDropCount>("frame-drop-count"),
      statisticRow<-1, Path..., &StreamStats::decoderFrameDropCount>("decoder-frame-drop-count"),
      textStatisticRow<Path..., &StreamStats::audioChannels>("audio-params/channels"),
      statisticRow<0, Path..., &StreamStats::audioSampleRateHz>("audio-params/samplerate"),
  };
}

// The statistics a snapshot shows, in the order both players write them:
// each known value under its key (unknown ones left out), the two drop
// counts summed as "droppedFrames". `number(key, double)`, `text(key, string)`.
template <typename Number, typename Text>
void forEachKnownStat(const StreamStats& s, Number number, Text text) {
  if (s.fps > 0) number("fps", s.fps);
  if (s.videoBitrateBps > 0) number("videoBitrateBps", s.videoBitrateBps);
  if (s.audioBitrateBps > 0) number("audioBitrateBps", s.audioBitrateBps);
  if (!s.videoCodec.empty()) text("videoCodec", s.videoCodec);
  if (!s.audioCodec.empty()) text("audioCodec", s.audioCodec);
  if (!s.audioChannels.empty()) text("audioChannels", s.audioChannels);
  if (s.audioSampleRateHz > 0) number("audioSampleRateHz", double(s.audioSampleRateHz));
  if (!s.container.empty()) text("container", s.container);
  if (s.bufferedAheadSeconds >= 0) number("bufferedAheadSeconds", s.bufferedAheadSeconds);
  if (s.frameDropCount >= 0 || s.decoderFrameDropCount >= 0) {
    number("droppedFrames", double(std::max<int64_t>(s.frameDropCount, 0) +
                                   std::max<int64_t>(s.decoderFrameDropCount, 0)));
  }
}

}  // namespace engine
