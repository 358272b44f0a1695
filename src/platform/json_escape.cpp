#include "platform/json_escape.h"

#include <algorithm>

#include "platform/text_encoding.h"

namespace orv {

std::string EscapeJson(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // Bytes from devices (identify and descriptor texts) and cut texts need not be UTF-8; a
  // strict reader refuses the whole file over one bad sequence, so each becomes U+FFFD.
  std::string valid;
  if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    valid = Utf16ToUtf8(Utf8ToUtf16(text));
    text = valid;
  }
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
          // A raw control character would make the whole file unreadable for the cloud.
          out += "\\u00";
          out.push_back(kHex[byte >> 4]);
          out.push_back(kHex[byte & 0x0F]);
        } else {
          out.push_back(c);
        }
      }
    }
  }
  return out;
}

}  // namespace orv

namespace orv {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsJsonNumber(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && t[i] == '-') ++i;
  if (i >= t.size()) return false;
  if (t[i] == '0') {
    ++i;
  } else if (IsDigit(t[i])) {
    while (i < t.size() && IsDigit(t[i])) ++i;
  } else {
    return false;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    if (i >= t.size() || !IsDigit(t[i])) return false;
    while (i < t.size() && IsDigit(t[i])) ++i;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (i >= t.size() || !IsDigit(t[i])) return false;
    while (i < t.size() && IsDigit(t[i])) ++i;
  }
  return i == t.size();
}

bool IsJsonString(std::string_view t) {
  if (t.size() < 2 || t.front() != '"' || t.back() != '"') return false;
  for (std::size_t i = 1; i + 1 < t.size(); ++i) {
    const auto c = static_cast<unsigned char>(t[i]);
    if (c < 0x20 || c == '"') return false;
    if (c != '\\') continue;
    if (++i + 1 >= t.size()) return false;  // an escape needs a character before the closing quote
    const char e = t[i];
    if (e == 'u') {
      if (i + 4 >= t.size() - 1) return false;
      for (int k = 1; k <= 4; ++k) {
        const char h = t[i + static_cast<std::size_t>(k)];
        if (!IsDigit(h) && !((h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F'))) return false;
      }
      i += 4;
    } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsJsonValueToken(std::string_view token) {
  return token == "null" || token == "true" || token == "false" || IsJsonNumber(token) ||
         IsJsonString(token);
}

std::string JsonTokenOrQuoted(std::string_view token) {
  if (token.empty()) return "null";
  if (IsJsonValueToken(token)) return std::string(token);
  return '"' + EscapeJson(token) + '"';
}

}  // namespace orv
