// One table per player of the engine properties it observes: one row per
// property with its name, its format, what a value sets, what the property
// becoming unavailable does and what the start of a new file does. The
// player observes the rows in table order with the reply ids 1, 2, ... and
// applies each change through the row of that name.
//
// Rows are built from the kinds below, which reach a field through a path of
// member pointers (&Session::snapshot, &SessionSnapshot::fps), or written out
// for a property with rules of its own.
#pragma once

#include <mpv/client.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>

namespace engine {

template <typename Record>
struct PropertyRow {
  const char* name;
  mpv_format format;
  void (*apply)(Record&, const void* data);  // data: the engine's value in `format`
  void (*unavailable)(Record&);              // null: the last value stays
  void (*startOfFile)(Record&);              // null: the value outlives its file
  // A setting of the player (pause, volume, speed), which a new load keeps.
  // Every other row is a fact of the playing file.
  bool playerSetting = false;
};

// Values as the engine hands them over for each format.
inline double doubleValue(const void* data) { return *static_cast<const double*>(data); }
inline int64_t int64Value(const void* data) { return *static_cast<const int64_t*>(data); }
inline bool flagValue(const void* data) { return *static_cast<const int*>(data) != 0; }
inline const char* rawString(const void* data) { return *static_cast<char* const*>(data); }
inline std::string stringValue(const void* data) {
  const char* text = rawString(data);
  return text ? text : "";
}
inline const mpv_node& nodeValue(const void* data) { return *static_cast<const mpv_node*>(data); }

// One table from consecutive runs of rows (a player's own rows around the
// shared ones), in the order given.
template <typename Row, size_t... N>
constexpr std::array<Row, (N + ...)> joinRows(const std::array<Row, N>&... runs) {
  std::array<Row, (N + ...)> table{};
  size_t at = 0;
  ((std::copy(runs.begin(), runs.end(), table.begin() + at), at += N), ...);
  return table;
}

// Observes every row; the reply id of a row is its position plus one.
template <typename Record>
void observeProperties(mpv_handle* mpv, std::span<const PropertyRow<Record>> rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    mpv_observe_property(mpv, uint64_t(i + 1), rows[i].name, rows[i].format);
  }
}

// Applies one property change through every row of its name (a property
// two concerns read, as "file-format"). True when it changed the record: a
// value in a row's format, or unavailable with a rule for it.
template <typename Record>
bool applyPropertyChange(std::span<const PropertyRow<Record>> rows, Record& record,
                         const mpv_event_property* property) {
  if (property == nullptr || property->name == nullptr) return false;
  bool changed = false;
  for (const PropertyRow<Record>& row : rows) {
    if (std::strcmp(row.name, property->name) != 0) continue;
    if (property->format == MPV_FORMAT_NONE) {
      if (row.unavailable == nullptr) continue;
      row.unavailable(record);
      changed = true;
    } else if (property->format == row.format && property->data != nullptr) {
      row.apply(record, property->data);
      changed = true;
    }
  }
  return changed;
}

// As applyPropertyChange, but while a load is pending (`loadPending`, see
// playback_rules.h) a fact of a file is that of the file being replaced: it
// is dropped, so that nothing of that file shows beside the new load.
template <typename Record>
bool applyFilePropertyChange(std::span<const PropertyRow<Record>> rows, Record& record,
                             const mpv_event_property* property, bool loadPending) {
  if (loadPending && property != nullptr && property->name != nullptr) {
    for (const PropertyRow<Record>& row : rows) {
      if (std::strcmp(row.name, property->name) == 0 && !row.playerSetting) return false;
    }
  }
  return applyPropertyChange(rows, record, property);
}

// What the start of a new file resets, row by row.
template <typename Record>
void resetForNewFile(std::span<const PropertyRow<Record>> rows, Record& record) {
  for (const PropertyRow<Record>& row : rows) {
    if (row.startOfFile) row.startOfFile(record);
  }
}

// The field a path of member pointers leads to, and the record it starts at.
template <typename Class, typename Type>
Class recordOf(Type Class::*);

template <auto First, auto... Rest>
struct MemberPath {
  using Record = decltype(recordOf(First));
  // clang-format off
  static auto& in(Record& record) { return ((record.*First) .* ... .* Rest); }
  // clang-format on
};

template <auto... Path>
using RecordAt = typename MemberPath<Path...>::Record;

template <auto... Path>
auto& fieldAt(RecordAt<Path...>& record) {
  return MemberPath<Path...>::in(record);
}

template <auto... Path>
using FieldAt =
    std::remove_reference_t<decltype(MemberPath<Path...>::in(std::declval<RecordAt<Path...>&>()))>;

template <typename Field>
constexpr mpv_format formatFor() {
  if constexpr (std::is_same_v<Field, double>)
    return MPV_FORMAT_DOUBLE;
  else if constexpr (std::is_same_v<Field, int64_t>)
    return MPV_FORMAT_INT64;
  else if constexpr (std::is_same_v<Field, bool>)
    return MPV_FORMAT_FLAG;
  else if constexpr (std::is_same_v<Field, std::string>)
    return MPV_FORMAT_STRING;
  else
    static_assert(!sizeof(Field), "no engine format for this field");
}

template <typename Field>
Field valueAs(const void* data) {
  if constexpr (std::is_same_v<Field, double>)
    return doubleValue(data);
  else if constexpr (std::is_same_v<Field, int64_t>)
    return int64Value(data);
  else if constexpr (std::is_same_v<Field, bool>)
    return flagValue(data);
  else
    return stringValue(data);
}

template <auto... Path>
void setField(RecordAt<Path...>& record, const void* data) {
  fieldAt<Path...>(record) = valueAs<FieldAt<Path...>>(data);
}

// A field that takes each value and keeps the last over unavailability and
// new files (the path).
template <auto... Path>
constexpr PropertyRow<RecordAt<Path...>> valueRow(const char* name) {
  return {name, formatFor<FieldAt<Path...>>(), &setField<Path...>, nullptr, nullptr};
}

// A setting of the player (speed, volume): as valueRow, and taken also while
// a load is pending.
template <auto... Path>
constexpr PropertyRow<RecordAt<Path...>> settingRow(const char* name) {
  return {name, formatFor<FieldAt<Path...>>(), &setField<Path...>, nullptr, nullptr, true};
}

// A statistic of the playing file (an integer `Reset` also for doubles): back
// to `Reset` when the engine has no value and when a new file starts (rates
// 0, counts and buffer -1).
template <auto Reset, auto... Path>
void resetField(RecordAt<Path...>& record) {
  fieldAt<Path...>(record) = Reset;
}
// A field of the file that keeps its last value when the engine has none,
// back to `Reset` at a new file (the position).
template <auto Reset, auto... Path>
constexpr PropertyRow<RecordAt<Path...>> fileValueRow(const char* name) {
  return {name, formatFor<FieldAt<Path...>>(), &setField<Path...>, nullptr,
          &resetField<Reset, Path...>};
}

template <auto Reset, auto... Path>
constexpr PropertyRow<RecordAt<Path...>> statisticRow(const char* name) {
  return {name, formatFor<FieldAt<Path...>>(), &setField<Path...>, &resetField<Reset, Path...>,
          &resetField<Reset, Path...>};
}

// A text statistic (codec, channels, container): emptied like statisticRow.
template <auto... Path>
void clearText(RecordAt<Path...>& record) {
  fieldAt<Path...>(record).clear();
}
template <auto... Path>
constexpr PropertyRow<RecordAt<Path...>> textStatisticRow(const char* name) {
  return {name, MPV_FORMAT_STRING, &setField<Path...>, &clearText<Path...>, &clearText<Path...>};
}

}  // namespace engine
