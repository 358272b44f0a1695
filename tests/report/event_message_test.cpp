#include "report/event_message.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "support/agent_fixture.h"
#include "model/act_ids.h"
#include "model/event_queue.h"
#include "platform/agent_registry.h"
#include "platform/json_escape.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "support/message_file_checks.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::HasSubstr;
using orv::testing::IsStrictJsonMessage;
using orv::testing::ReadGolden;


class EventMessageTest : public orv::testing::AgentFixture {
 protected:
  EventMessageTest() {
    os.registry.AddKey(kStatusKey);
    os.files.AddDirectory("C:\\orvsvc");
  }

  // An appliance of the LCD series on Storage Server 2012 R2 with its management tool.
  void MakeKnownAppliance() {
    os.registry.AddKey("SOFTWARE\\Wow6432Node\\Tavolen\\TavolenNas");
    RegHandle::SetDword(os.registry, os::RegistryRoot::LocalMachine,
                        "SOFTWARE\\Wow6432Node\\Tavolen\\TavolenNas", "ModelInfo", 0x100000 | 0x400 | 0x8);
    AddUninstallEntry("{TOOL}", "TavolenNas2", "2.1.0.7");
    AddUninstallEntry("{AGENT}", "Orvane Service Agent Program", "1.2.3.4");
    const DeviceId id{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                      0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    RegHandle::SetBinary(os.registry, os::RegistryRoot::LocalMachine, kStatusKey, "DEVICEID", id);
  }
  std::string WriteOne(const AgentEvent& event) {
    AgentCtrl_Upload upload(os.Ports());
    upload.Initialize();
    std::string body;
    EXPECT_TRUE(upload.BuildEventMessage(event, body));
    EXPECT_TRUE(upload.WriteMessage(MessageKind::Event, body));
    const auto files = os.files.FilesIn(kPool);
    EXPECT_EQ(files.size(), 1U);
    return files.empty() ? std::string() : *os.files.Content(files[0]);
  }

};

TEST_F(EventMessageTest, FanEventMatchesTheHandWrittenFileByteForByte) {
  MakeKnownAppliance();
  AgentEvent event(act_id::kCpuFan, os::CalendarTime{2024, 1, 3, 31, 9, 5, 59, 0});
  event.act_sts = 1;
  event.act_trg = "0";
  event.act_para = "0,1200";
  event.msg = "CPUファンの回転数が低下しました。";
  event.source = "never written";
  event.sourceEventId = 77;
  const std::string file = WriteOne(event);
  EXPECT_EQ(file, ReadGolden("event_fan.json"));
  EXPECT_TRUE(IsStrictJsonMessage(file));
}

// Fields the event leaves empty go as null; registry and device texts are escaped and made valid UTF-8.
TEST_F(EventMessageTest, EmptyFieldsAreNullAndInvalidUtf8AndStrayQuotesStillGiveValidJson) {
  AddUninstallEntry("{AGENT}", "Orvane Service Agent Program", "1.\"2.3");
  AgentEvent event(act_id::kTestNotice, os.clock);
  event.act_para = "bad \xC3 byte \"q\"";
  event.msg = "\xFF say \"hi\"\\path\nnext\tcol\x01" "end\r";
  const std::string file = WriteOne(event);
  EXPECT_TRUE(IsStrictJsonMessage(file));
  EXPECT_THAT(file, HasSubstr("\"agt_ver\":\"1.\\\"2\""));
  EXPECT_THAT(file, HasSubstr("\"act_trg\":null,\r\n    \"act_para\":\"bad \xEF\xBF\xBD byte \\\"q\\\"\",\r\n    \"act_sts\":null,"));
  EXPECT_THAT(file, HasSubstr("\"msg\":\"\xEF\xBF\xBD say \\\"hi\\\"\\\\path\\nnext\\tcol\\u0001end\\r\""));
}

// The seven short forms, other controls in hex; bytes that are not UTF-8 become replacement characters.
TEST(EscapeJson, ShortFormsControlsAndBytesThatAreNotUtf8) {
  constexpr const char* kReplacement = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> rows[] = {
      {"\"\\\b\f\n\r\t", "\\\"\\\\\\b\\f\\n\\r\\t"},
      {std::string("\x00\x1F\x7F", 3), "\\u0000\\u001F\x7F"},
      {"日本語 / text", "日本語 / text"},
      {"DISK\xE9", std::string("DISK") + kReplacement},                      // a Latin-1 byte from a device
      {"\xC3", kReplacement},                                               // a cut sequence
      {"\xFF\xFE\"", std::string(kReplacement) + kReplacement + "\\\""},  // escaping still applies
      {"\xED\xA0\x80", std::string(kReplacement) + kReplacement + kReplacement},  // a UTF-16 surrogate
      {"\xC0\xAF", std::string(kReplacement) + kReplacement},                // an overlong "/"
      {"caf\xC3\xA9 \xF0\x9F\x92\xBE", "caf\xC3\xA9 \xF0\x9F\x92\xBE"},       // valid text stays
  };
  for (const auto& [text, escaped] : rows) EXPECT_EQ(EscapeJson(text), escaped) << text;
}

}  // namespace
}  // namespace orv
