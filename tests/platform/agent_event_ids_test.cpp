// Event Viewer shows an entry's text only when the message table has its id: every id the
// agent writes must be in the table with the level the id's top bits carry, and the table must
// hold nothing the agent never writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/agent_event_ids.h"

namespace orv {
namespace {

// The ids of the message table, with the severity folded into the top two bits as the message
// compiler does.
std::vector<std::uint32_t> MessageTableIds() {
  static const std::map<std::string, std::uint32_t> kSeverityBits{
      {"Success", 0x0}, {"Informational", 0x1}, {"Warning", 0x2}, {"Error", 0x3}};
  std::ifstream in(ORV_MESSAGE_TABLE);
  std::vector<std::uint32_t> ids;
  std::uint32_t number = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("MessageId=")) number = static_cast<std::uint32_t>(std::stoul(line.substr(10), nullptr, 0));
    if (line.starts_with("Severity=")) ids.push_back(kSeverityBits.at(line.substr(9)) << 30 | number);
  }
  return ids;
}

TEST(AgentEventIds, TheMessageTableHoldsExactlyTheIdsTheAgentWritesAtTheirLevels) {
  std::vector<std::uint32_t> written(event_id::kAll.begin(), event_id::kAll.end());
  std::vector<std::uint32_t> table = MessageTableIds();
  ASSERT_FALSE(table.empty()) << "no entries read from " << ORV_MESSAGE_TABLE;
  std::sort(written.begin(), written.end());
  std::sort(table.begin(), table.end());
  EXPECT_EQ(std::adjacent_find(written.begin(), written.end()), written.end()) << "an id listed twice";
  EXPECT_THAT(table, ::testing::ElementsAreArray(written));
}

}  // namespace
}  // namespace orv
