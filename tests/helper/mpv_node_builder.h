// Builds mpv_node trees for tests, shaped as the engine hands them over. The
// builder owns every string and list; nodes stay valid while it lives.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

struct NodeBuilder {
  std::deque<std::string> strings;
  std::deque<std::vector<mpv_node>> values;
  std::deque<std::vector<char*>> keys;
  std::deque<mpv_node_list> lists;

  char* text(const std::string& s) {
    strings.push_back(s);
    return strings.back().data();
  }
  mpv_node str(const std::string& s) {
    mpv_node n{};
    n.format = MPV_FORMAT_STRING;
    n.u.string = text(s);
    return n;
  }
  mpv_node i64(int64_t v) {
    mpv_node n{};
    n.format = MPV_FORMAT_INT64;
    n.u.int64 = v;
    return n;
  }
  mpv_node dbl(double v) {
    mpv_node n{};
    n.format = MPV_FORMAT_DOUBLE;
    n.u.double_ = v;
    return n;
  }
  mpv_node flag(bool v) {
    mpv_node n{};
    n.format = MPV_FORMAT_FLAG;
    n.u.flag = v ? 1 : 0;
    return n;
  }
  mpv_node list(mpv_format format, std::vector<mpv_node> items, std::vector<char*> names) {
    values.push_back(std::move(items));
    keys.push_back(std::move(names));
    mpv_node_list l{};
    l.num = static_cast<int>(values.back().size());
    l.values = values.back().data();
    l.keys = format == MPV_FORMAT_NODE_MAP ? keys.back().data() : nullptr;
    lists.push_back(l);
    mpv_node n{};
    n.format = format;
    n.u.list = &lists.back();
    return n;
  }
  mpv_node map(const std::vector<std::pair<std::string, mpv_node>>& entries) {
    std::vector<mpv_node> items;
    std::vector<char*> names;
    for (const auto& [key, value] : entries) {
      names.push_back(text(key));
      items.push_back(value);
    }
    return list(MPV_FORMAT_NODE_MAP, std::move(items), std::move(names));
  }
  mpv_node array(std::vector<mpv_node> items) {
    return list(MPV_FORMAT_NODE_ARRAY, std::move(items), {});
  }
};
