// Whether a stream that reached its end was cut short.
//
// Both players set keep-open, so the engine reports the end of a stream the
// same way whether the file played out or the connection dropped halfway:
// "eof-reached" and no error. What tells them apart is where the engine's
// stream stopped (its read position against the size the server announced)
// and where playback stopped (against the duration the container announced),
// read from the engine when it reports the end; and, for HLS, the demuxer
// giving up a segment, which the engine says only in a log line.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// What one file's stream went through; each player keeps one per file, under
// the lock that guards its playback record, and clears it at each start of
// a file.
struct StreamWatch {
  // A fatal line that came while the file was loading. The engine delivers
  // log lines after the events that followed them, so it may belong to an
  // earlier load; it names this load's failure only if this load fails.
  std::string heldFatalLine;
  bool heldFatal = false;
  // The last error line of the stream or demuxer layer.
  std::string faultLine;
  // The first segment the demuxer gave up for good.
  std::string lostSegmentLine;
  // Why the URL policy refused the file before it opened (url_guard.h): the
  // failure of the load, whatever the engine logs about the refused open.
  std::string refusal;
};

// The engine's view of the end, read when it reports it. -1 where unknown.
struct StreamEndFacts {
  double positionSeconds = -1;   // "time-pos"
  double durationSeconds = -1;   // "duration"
  int64_t bytesRead = -1;        // "stream-pos"
  int64_t bytesAnnounced = -1;   // "stream-end": the stream's size, when it has one
};

// True for the events that report the end of a stream: "eof-reached" turning
// true, or the end of a file by its end.
bool reportsStreamEnd(const mpv_event& event);

// Reads the facts. Calls the engine: never with a player's lock held.
StreamEndFacts readStreamEndFacts(mpv_handle* mpv);

// Keeps the engine's log lines that matter for a cut stream, by level and
// module. Lines come late, so a line of the opening may arrive after the
// file loaded: they are kept whenever they come and used only at the end.
void noteStreamLine(StreamWatch& watch, std::string_view level, std::string_view prefix,
                    const char* text);

// The error text of an end that came too early, or "" for a stream that
// ended where it should (or where nothing is known to compare with).
std::string cutStreamText(const StreamWatch& watch, const StreamEndFacts& facts);

}  // namespace engine
