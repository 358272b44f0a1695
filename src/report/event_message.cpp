#include "report/event_message.h"

#include <cstdio>

#include "platform/json_escape.h"

namespace orv {
namespace {

std::string Quoted(std::string_view text) { return '"' + std::string(text) + '"'; }
// Texts from the registry (versions, names) are escaped too: one stray quotation mark in a
// version text must not break the file for the cloud's parser.
std::string QuotedEscaped(std::string_view text) { return Quoted(EscapeJson(text)); }

std::string FormatMinute(const os::CalendarTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u", unsigned{time.year},
                unsigned{time.month}, unsigned{time.day}, unsigned{time.hour},
                unsigned{time.minute});
  return text;
}

}  // namespace

void AppendEventMessage(const AgentEvent& event, const MessageHeader& header, std::string& body) {
  const std::string members[] = {
      "\"type\":\"event\"",
      "\"ver\":\"1.00\"",
      "\"prdct\":\"NAS\"",
      "\"dev_id\":" + QuotedEscaped(header.devId),
      "\"date\":" + Quoted(FormatMinute(event.time)),
      "\"ms_name\":" + QuotedEscaped(header.msName),
      "\"ms_ver\":" + QuotedEscaped(header.msVer),
      "\"agt_name\":" + QuotedEscaped(header.agtName),
      "\"agt_ver\":" + QuotedEscaped(header.agtVer),
      "\"ev_id\":null",
      "\"ev_src\":null",
      "\"act_id\":" + std::to_string(event.act_id),
      "\"act_trg\":" + JsonTokenOrQuoted(event.act_trg),
      "\"act_para\":" + (event.act_para.empty() ? std::string("null") : Quoted(EscapeJson(event.act_para))),
      "\"act_sts\":" + (event.act_sts == 0 ? std::string("null") : std::to_string(event.act_sts)),
      "\"msg\":" + Quoted(EscapeJson(event.msg)),
  };
  const std::size_t last = std::size(members) - 1;
  for (std::size_t i = 0; i <= last; ++i) {
    body.append("    ").append(members[i]).append(i == last ? "\r\n" : ",\r\n");
  }
}

}  // namespace orv
