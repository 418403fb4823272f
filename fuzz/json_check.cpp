#include "json_check.h"

#include <cstdint>

namespace fuzz_check {

namespace {

struct Reader {
  std::string_view in;
  size_t pos = 0;
  int depth = 0;

  bool atEnd() const { return pos >= in.size(); }
  char peek() const { return atEnd() ? '\0' : in[pos]; }

  void skipSpace() {
    while (!atEnd() && (in[pos] == ' ' || in[pos] == '\t' || in[pos] == '\n' || in[pos] == '\r')) {
      ++pos;
    }
  }

  bool literal(std::string_view word) {
    if (in.substr(pos, word.size()) != word) return false;
    pos += word.size();
    return true;
  }

  static bool isDigit(char c) { return c >= '0' && c <= '9'; }

  bool number(std::string& out) {
    const size_t start = pos;
    if (peek() == '-') ++pos;
    if (peek() == '0') {
      ++pos;
    } else if (peek() >= '1' && peek() <= '9') {
      while (isDigit(peek())) ++pos;
    } else {
      return false;
    }
    if (peek() == '.') {
      ++pos;
      if (!isDigit(peek())) return false;
      while (isDigit(peek())) ++pos;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos;
      if (peek() == '+' || peek() == '-') ++pos;
      if (!isDigit(peek())) return false;
      while (isDigit(peek())) ++pos;
    }
    out.assign(in.substr(start, pos - start));
    return true;
  }

  bool hex4(uint32_t& out) {
    if (in.size() - pos < 4) return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = in[pos++];
      out <<= 4;
      if (c >= '0' && c <= '9')
        out |= c - '0';
      else if (c >= 'a' && c <= 'f')
        out |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        out |= c - 'A' + 10;
      else
        return false;
    }
    return true;
  }

  static void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool string(std::string& out) {
    if (peek() != '"') return false;
    ++pos;
    out.clear();
    while (true) {
      if (atEnd()) return false;
      const auto byte = static_cast<unsigned char>(in[pos++]);
      if (byte == '"') return true;
      if (byte < 0x20) return false;
      if (byte != '\\') {
        out += static_cast<char>(byte);
        continue;
      }
      if (atEnd()) return false;
      const char escape = in[pos++];
      switch (escape) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp = 0;
          if (!hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {  // needs its low surrogate
            uint32_t low = 0;
            if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
          }
          appendUtf8(out, cp);
          break;
        }
        default:
          return false;
      }
    }
  }

  bool value(JsonValue& out) {
    if (++depth > 64) return false;
    skipSpace();
    bool ok = false;
    switch (peek()) {
      case '{':
        ok = object(out);
        break;
      case '[':
        ok = array(out);
        break;
      case '"':
        out.kind = JsonValue::Kind::String;
        ok = string(out.text);
        break;
      case 't':
        out.kind = JsonValue::Kind::Boolean;
        out.boolean = true;
        ok = literal("true");
        break;
      case 'f':
        out.kind = JsonValue::Kind::Boolean;
        ok = literal("false");
        break;
      case 'n':
        out.kind = JsonValue::Kind::Null;
        ok = literal("null");
        break;
      default:
        out.kind = JsonValue::Kind::Number;
        ok = number(out.numberText);
    }
    skipSpace();
    --depth;
    return ok;
  }

  // Takes `c` when it comes next.
  bool consume(char c) {
    if (peek() != c) return false;
    ++pos;
    return true;
  }

  // An array's or object's members after its opening bracket, up to `close`:
  // `member` reads one.
  template <typename Member>
  bool members(char close, Member member) {
    ++pos;
    skipSpace();
    if (consume(close)) return true;
    while (true) {
      if (!member()) return false;
      if (consume(close)) return true;
      if (!consume(',')) return false;
    }
  }

  bool array(JsonValue& out) {
    out.kind = JsonValue::Kind::Array;
    return members(']', [&] {
      out.items.emplace_back();
      return value(out.items.back());
    });
  }

  bool object(JsonValue& out) {
    out.kind = JsonValue::Kind::Object;
    return members('}', [&] {
      skipSpace();
      std::string key;
      if (!string(key)) return false;
      skipSpace();
      if (!consume(':')) return false;
      out.keys.push_back(std::move(key));
      out.items.emplace_back();
      return value(out.items.back());
    });
  }
};

}  // namespace

bool parseJson(std::string_view json, JsonValue& out) {
  Reader reader{json};
  out = JsonValue{};
  return reader.value(out) && reader.atEnd();
}

bool isValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = 0;
    uint32_t cp = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < static_cast<size_t>(length)) return false;
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace fuzz_check
