// The values the agent reads out of the Web API's answers, and the answer record they fill.
//
// The answers are JSON, but only a handful of string values is needed, so the body is scanned
// rather than parsed: string literals are walked with their escapes, and a key is a string
// literal followed by a colon. That keeps `dev_id` from matching inside `dev_id_changed` or
// inside some value, and every index stays inside the body however it is cut or mangled.
#include <cstddef>
#include <string>
#include <string_view>

#include "webapi/agent_ctrl_webapi.h"

namespace orv {

namespace {

constexpr std::string_view kEventDefinitionKey = "event_def";
constexpr std::string_view kDefinitionEnd = "</config>";

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::size_t SkipSpace(std::string_view text, std::size_t at) {
  while (at < text.size() && IsJsonSpace(text[at])) ++at;
  return at;
}

// The index of the quotation mark that closes the string opened at `open`, or npos when the
// body ends first.
std::size_t StringEnd(std::string_view text, std::size_t open) {
  for (std::size_t at = open + 1; at < text.size(); ++at) {
    if (text[at] == '\\') {
      ++at;  // the escaped character, whatever it is, cannot close the string
    } else if (text[at] == '"') {
      return at;
    }
  }
  return std::string_view::npos;
}

// Where the value of the first `key` starts: the index after the colon, or npos.
std::size_t FindKey(std::string_view body, std::string_view key) {
  std::size_t at = 0;
  while ((at = body.find('"', at)) != std::string_view::npos) {
    const std::size_t close = StringEnd(body, at);
    if (close == std::string_view::npos) return std::string_view::npos;
    const std::size_t next = SkipSpace(body, close + 1);
    if (next < body.size() && body[next] == ':' && body.substr(at + 1, close - at - 1) == key) {
      return next + 1;
    }
    at = close + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::string ExtractValue(std::string_view body, std::string_view key) {
  const std::size_t afterColon = FindKey(body, key);
  if (afterColon == std::string_view::npos) return {};
  const std::size_t open = SkipSpace(body, afterColon);
  // Every value the agent reads is sent as a string; anything else is no value at all.
  if (open >= body.size() || body[open] != '"') return {};
  const std::size_t close = StringEnd(body, open);
  if (key == kEventDefinitionKey) {
    // The definition ends with its root element: whatever the string holds after it is not
    // part of the file. A string that ends before the root element is closed is no file.
    const std::string_view value =
        body.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    const std::size_t end = value.find(kDefinitionEnd);
    if (end == std::string_view::npos) return {};
    return std::string(value.substr(0, end + kDefinitionEnd.size()));
  }
  if (close == std::string_view::npos) return {};
  return std::string(body.substr(open + 1, close - open - 1));
}

std::string UnescapeEventDefinition(std::string_view raw) {
  std::string text;
  text.reserve(raw.size());
  for (std::size_t at = 0; at < raw.size(); ++at) {
    const char c = raw[at];
    if (c != '\\' || at + 1 == raw.size()) {
      text += c;
      continue;
    }
    char decoded = 0;
    switch (raw[at + 1]) {
      case '"': decoded = '"'; break;
      case '\\': decoded = '\\'; break;
      case 'b': decoded = '\b'; break;
      case 'f': decoded = '\f'; break;
      case 'n': decoded = '\n'; break;
      case 'r': decoded = '\r'; break;
      case 't': decoded = '\t'; break;
      default: break;
    }
    if (decoded == 0) {
      text += c;
      continue;
    }
    text += decoded;
    ++at;
  }
  return text;
}

void ParseWebApiResponse(WebApiResponse& response, int kind, std::uint32_t status, std::string_view body) {
  response = WebApiResponse{};
  response.kind = kind;
  response.status = status;
  if (status != 200 && status != 201) {
    response.error_id = ExtractValue(body, "error_id");
    response.error_field = ExtractValue(body, "error_field");
    response.error_value = ExtractValue(body, "error_value");
    return;
  }
  switch (kind) {
    case kRequestRegistrationData:
      response.dev_id = ExtractValue(body, "dev_id");
      response.dev_id_changed = ExtractValue(body, "dev_id_changed");
      response.mac_adr_changed = ExtractValue(body, "mac_adr_changed");
      break;
    case kRequestLatestSoftware:
      response.ms_ver = ExtractValue(body, "ms_ver");
      response.agt_ver = ExtractValue(body, "agt_ver");
      response.ms_url = ExtractValue(body, "ms_url");
      response.agt_url = ExtractValue(body, "agt_url");
      response.event_def_raw = ExtractValue(body, kEventDefinitionKey);
      response.event_def = UnescapeEventDefinition(response.event_def_raw);
      break;
    case kRequestRegistration:
      response.dev_id = ExtractValue(body, "dev_id");
      response.dev_id_changed = ExtractValue(body, "dev_id_changed");
      response.agt_daily_sec = ExtractValue(body, "agt_daily_sec");
      response.agt_status_sec = ExtractValue(body, "agt_status_sec");
      break;
    default:
      break;
  }
}

}  // namespace orv
