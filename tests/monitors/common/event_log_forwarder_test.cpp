#include "monitors/common/event_log_forwarder.h"

#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "support/posted_events.h"
#include "support/shared_names.h"

namespace orv {
namespace {


class ForwarderTest : public ::testing::Test {
 protected:
  ForwarderTest() {
    os.eventLogStore.AddChannel("Application");
    os.eventLogStore.AddChannel("System");
    definitions.SetPath(kDefinitionPath);
  }
  void LoadDefinitions(const std::string& rules) {
    os.files.AddFile(kDefinitionPath, "<config><ver>1.00</ver><addevent>" + rules +
                                          "</addevent></config>");
    definitions.Load();
  }
  void Write(const char* channel, const char* provider, std::uint16_t id) {
    os.eventLogStore.Append(channel, {provider, id, 0, {}, 0});
  }
  std::vector<testing::Notice> Drain() { return testing::DrainNotices(queue); }

  fakes::FakeOs os;
  AgentCtrl_ConfigFile definitions{os.files, os.xmlReader};
  EventQueue queue;
};

TEST_F(ForwarderTest, ForwardsOnlyEntriesWrittenSinceTheLastPassThatMatchARuleExactly) {
  LoadDefinitions(
      "<logtype path=\"Application\">"
      "<log><src>VaultBackup</src><evt_id>1010</evt_id><act_id>2010</act_id><msg>失敗</msg></log>"
      "<log><msg>二重</msg><act_id>2020</act_id><evt_id>1010</evt_id><src>VaultBackup</src></log>"
      "<log><src>Bad</src><evt_id>7</evt_id><act_id>x12</act_id><msg>数字なし</msg></log>"
      "</logtype>"
      "<logtype path=\"System\">"
      "<log><src>disk</src><evt_id>0153</evt_id><act_id>4100</act_id><msg>先頭ゼロ</msg></log>"
      "<log><src>EventLog</src><evt_id>6008</evt_id><act_id>1090</act_id><msg>停止</msg></log>"
      "</logtype>");
  ASSERT_EQ(definitions.GetLoadStatus(), AgentCtrl_ConfigFile::kLoaded);
  Write("Application", "VaultBackup", 1010);  // before monitoring started: never forwarded
  EventLogForwarder forwarder(os.eventLogStore, os.clock);

  Write("Application", "VaultBackup", 1010);
  Write("Application", "vaultbackup", 1010);  // provider case differs
  Write("Application", "EventLog", 6008);     // a System rule only
  Write("Application", "Bad", 7);
  Write("System", "disk", 153);               // the rule's leading zero never matches
  Write("System", "EventLog", 6008);
  forwarder.Forward(definitions, queue);
  EXPECT_EQ(Drain(), (std::vector<testing::Notice>{
                         {2010, "", "失敗"}, {2020, "", "二重"}, {0, "", "数字なし"}, {1090, "", "停止"}}));

  forwarder.Forward(definitions, queue);
  EXPECT_TRUE(Drain().empty()) << "nothing new, nothing forwarded";
  Write("System", "EventLog", 6008);
  forwarder.Forward(definitions, queue);
  EXPECT_EQ(Drain().size(), 1U);
  EXPECT_EQ(os.eventLogStore.openHandles(), 0);
}

TEST_F(ForwarderTest, ManyEntriesAreReadInBatchesAndNoneIsLost) {
  LoadDefinitions("<logtype path=\"System\"><log><src>P</src><evt_id>1</evt_id><act_id>1110</act_id>"
                  "<msg>m</msg></log></logtype>");
  EventLogForwarder forwarder(os.eventLogStore, os.clock);
  for (int i = 0; i < 37; ++i) Write("System", "P", 1);
  forwarder.Forward(definitions, queue);
  EXPECT_EQ(Drain().size(), 37U);
}

}  // namespace
}  // namespace orv
