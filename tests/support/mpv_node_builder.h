// Builds mpv_node trees for tests and fuzz targets, shaped as the engine hands
// them over. The builder owns every node list and string it hands out, so the
// trees stay valid as long as it lives.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

class MpvNodeBuilder {
 public:
  mpv_node none() { return mpv_node{}; }
  mpv_node string(const std::string& text) {
    mpv_node node = ofFormat(MPV_FORMAT_STRING);
    node.u.string = texts.emplace_back(text).data();
    return node;
  }
  mpv_node nullString() { return ofFormat(MPV_FORMAT_STRING); }
  mpv_node number(double value) {
    mpv_node node = ofFormat(MPV_FORMAT_DOUBLE);
    node.u.double_ = value;
    return node;
  }
  mpv_node integer(int64_t value) {
    mpv_node node = ofFormat(MPV_FORMAT_INT64);
    node.u.int64 = value;
    return node;
  }
  mpv_node flag(int value) {
    mpv_node node = ofFormat(MPV_FORMAT_FLAG);
    node.u.flag = value;
    return node;
  }
  mpv_node bytes(std::vector<uint8_t> content) {
    auto& stored = byteStore.emplace_back(std::move(content));
    auto& array = byteArrays.emplace_back(mpv_byte_array{stored.data(), stored.size()});
    mpv_node node = ofFormat(MPV_FORMAT_BYTE_ARRAY);
    node.u.ba = &array;
    return node;
  }
  mpv_node array(std::vector<mpv_node> values) {
    auto& stored = valueLists.emplace_back(std::move(values));
    auto& list = lists.emplace_back(mpv_node_list{int(stored.size()), stored.data(), nullptr});
    mpv_node node = ofFormat(MPV_FORMAT_NODE_ARRAY);
    node.u.list = &list;
    return node;
  }
  mpv_node map(const std::vector<std::pair<std::string, mpv_node>>& entries) {
    auto& keys = keyLists.emplace_back();
    auto& values = valueLists.emplace_back();
    for (const auto& [key, value] : entries) {
      keys.push_back(texts.emplace_back(key).data());
      values.push_back(value);
    }
    auto& list = lists.emplace_back(mpv_node_list{int(values.size()), values.data(), keys.data()});
    mpv_node node = ofFormat(MPV_FORMAT_NODE_MAP);
    node.u.list = &list;
    return node;
  }

 private:
  static mpv_node ofFormat(mpv_format format) {
    mpv_node node{};
    node.format = format;
    return node;
  }

  std::deque<std::string> texts;
  std::deque<std::vector<mpv_node>> valueLists;
  std::deque<std::vector<char*>> keyLists;
  std::deque<mpv_node_list> lists;
  std::deque<std::vector<uint8_t>> byteStore;
  std::deque<mpv_byte_array> byteArrays;
};
