#include "extra_options.h"

namespace orvanel {

std::vector<std::pair<std::string, std::string>> readHostedMpvExtraOptions(
    const Napi::CallbackInfo& info, size_t index) {
  std::vector<std::pair<std::string, std::string>> options;
  if (index >= info.Length() || !info[index].IsArray()) return options;
  auto array = info[index].As<Napi::Array>();
  for (uint32_t i = 0, count = array.Length(); i < count; ++i) {
    Napi::Value element = array.Get(i);
    if (!element.IsString()) continue;
    std::string text = element.As<Napi::String>().Utf8Value();
    size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) continue;
    options.emplace_back(text.substr(0, equals), text.substr(equals + 1));
  }
  return options;
}

}  // namespace orvanel
