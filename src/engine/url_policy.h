// Which URLs, per-load options and header texts a player hands its engine.
// The engine opens far more than network streams (local files, av://lavfi
// graphs, edl:// lists, ...): an application that plays what a page names
// gives the player the schemes it allows, and every check below refuses with
// a text that says why. Pure functions; no shared state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace engine {

// The schemes a player's engine may open, lower case, without ':'.
struct UrlPolicy {
  std::vector<std::string> schemes;
};

// The scheme as the engine reads it: the characters before the first "://"
// when there are some and all are letters, digits, '+', '-' or '.', in lower
// case. Anything else is a local path to the engine: "file".
std::string schemeOf(std::string_view url);

// Reads a comma-separated list such as "http,HTTPS:"; an empty list allows
// nothing. False, with `error` set, for an entry that is not a scheme.
bool parseUrlPolicy(std::string_view list, UrlPolicy& policy, std::string& error);

// The policy of schemes given one per text (an application's array), each
// read as parseUrlPolicy reads an entry. False when a text is not exactly one
// scheme: a comma would smuggle in a second.
bool urlPolicyFromSchemes(const std::vector<std::string>& texts, UrlPolicy& policy);

// Empty when `url` may be opened, else the refusal:
// URL refused: scheme "file" is not in allowedSchemes (http, https)
std::string urlRefusal(const UrlPolicy& policy, std::string_view url);

// libavformat's protocol_whitelist for what the demuxer and the network
// stream open on their own (segments, keys, redirects): the allowed schemes
// and the network transports under them, never a local one.
std::string protocolWhitelist(const UrlPolicy& policy);

// Empty when the per-load engine option `name`=`value` may be given, else the
// refusal. Always refused: an empty name, a name with anything but letters,
// digits and '-', and a value with CR, LF or NUL. Under a policy only the
// names of kPolicyLoadOptions pass; header options are read as headers.
std::string loadOptionRefusal(std::string_view name, std::string_view value, bool underPolicy);

// The per-load options a policy lets through: none opens a file or a URL,
// writes one, or widens what the engine opens.
extern const std::vector<std::string_view> kPolicyLoadOptions;

// Empty when the text may go into an HTTP request line as it is (user agent,
// referrer), else the refusal naming `what`: no CR, LF or NUL.
std::string headerTextRefusal(std::string_view what, std::string_view value);

// Empty when `name`: `value` is one well-formed header in the engine's header
// list, else the refusal: the name HTTP token characters only, the value
// without CR, LF or NUL and not ending in a backslash (the list's escape,
// which would join the next header to it).
std::string headerRefusal(std::string_view name, std::string_view value);

// Empty when every entry of an "http-header-fields" list text (entries split
// at commas not escaped by a backslash) is a header headerRefusal passes.
std::string headerListRefusal(std::string_view list);

}  // namespace engine
