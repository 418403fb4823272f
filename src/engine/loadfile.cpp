#include "loadfile.h"

namespace engine {

namespace {

mpv_node stringNode(const std::string& text) {
  mpv_node node{};
  node.format = MPV_FORMAT_STRING;
  node.u.string = const_cast<char*>(text.c_str());  // the engine copies the command
  return node;
}

// Without options the short form; else the form with the index when the
// engine takes it: engines before client API 2.3 refuse "-1" with error log
// lines of their own, so they get the form without it at once.
int waitForLoadfile(mpv_handle* mpv, const std::string& url, const LoadOptions& options) {
  if (options.empty()) {
    const char* args[] = {"loadfile", url.c_str(), "replace", nullptr};
    return mpv_command(mpv, args);
  }
  const std::string text = loadOptionsText(options);
  return loadfileWithFallback(loadfileTakesIndex(), [&](bool withIndex) {
    const char* withIndexArgs[] = {"loadfile", url.c_str(), "replace", "-1", text.c_str(), nullptr};
    const char* withoutIndexArgs[] = {"loadfile", url.c_str(), "replace", text.c_str(), nullptr};
    return mpv_command(mpv, withIndex ? withIndexArgs : withoutIndexArgs);
  });
}

}  // namespace

std::string loadOptionsText(const LoadOptions& options) {
  std::string text;
  for (const auto& [name, value] : options) {
    if (!text.empty()) text += ',';
    text += name;
    text += "=%";
    text += std::to_string(value.size());
    text += '%';
    text += value;
  }
  return text;
}

int sendLoadfile(mpv_handle* mpv, LoadfileCall call, uint64_t replyId, const std::string& url,
                 const LoadOptions& options) {
  if (call == LoadfileCall::waited) return waitForLoadfile(mpv, url, options);
  // An engine without the index argument would refuse the index form and log
  // that refusal as an engine error, which would show in the snapshot for
  // every load; such an engine gets the form without the index right away.
  return queueLoadfile(mpv, replyId, url, options, loadfileTakesIndex());
}

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
