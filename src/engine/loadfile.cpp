#include "loadfile.h"

namespace engine {

namespace {

mpv_node stringNode(const std::string& text) {
  mpv_node node{};
  node.format = MPV_FORMAT_STRING;
  node.u.string = const_cast<char*>(text.c_str());  // the engine copies the command
  return node;
}

}  // namespace

int queueLoadfile(mpv_handle* mpv, uint64_t replyId, const std::string& url,
                  const LoadOptions& options, bool withIndex) {
  std::vector<char*> keys;
  std::vector<mpv_node> values;
  for (const auto& [name, value] : options) {
    keys.push_back(const_cast<char*>(name.c_str()));
    values.push_back(stringNode(value));
  }
  mpv_node_list optionList{int(options.size()), values.data(), keys.data()};
  mpv_node optionMap{};
  optionMap.format = MPV_FORMAT_NODE_MAP;
  optionMap.u.list = &optionList;

  static const std::string kLoadfile = "loadfile";
  static const std::string kReplace = "replace";
  mpv_node index{};
  index.format = MPV_FORMAT_INT64;
  index.u.int64 = -1;
  mpv_node args[5] = {stringNode(kLoadfile), stringNode(url), stringNode(kReplace), index,
                      optionMap};
  mpv_node_list argList{5, args, nullptr};
  mpv_node command{};
  command.format = MPV_FORMAT_NODE_ARRAY;
  command.u.list = &argList;

  return loadfileWithFallback(withIndex, [&](bool indexed) {
    if (!indexed) {
      args[3] = optionMap;  // the older form: options right after the flags
      argList.num = 4;
    }
    return mpv_command_node_async(mpv, replyId, &command);
  });
}

}  // namespace engine
