#include "platform/agent_event_ids.h"
#include "report/agent_ctrl_upload.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "support/agent_fixture.h"
#include "model/act_ids.h"
#include "model/event_queue.h"
#include "platform/agent_registry.h"
#include "support/message_file_checks.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::HasSubstr;

class UploadTest : public orv::testing::AgentFixture {
 protected:
  UploadTest() {
    os.registry.AddKey(kStatusKey);
    os.files.AddDirectory("C:\\orvsvc");
  }
  std::vector<std::uint32_t> LoggedIds() { return os.eventReporter.Ids(); }

};

TEST_F(UploadTest, SetupReadsPathsVersionAndIntervals) {
  os.system.executablePath = "C:\\Program Files\\Orvane\\ORVSVC.exe";
  os.files.AddDirectory("C:\\Program Files\\Orvane");
  AddUninstallEntry("{1}", "Orvane Service Agent Program", "1.1.0.0");
  AddUninstallEntry("{2}", "Orvane Service Agent Program", "2.5.1.9");
  AddUninstallEntry("{3}", "Orvane Service Agent Program (old)", "9.9.9");
  SetDword("CheckInterval", 15);
  const AgentCtrl_Upload upload(os.Ports());
  EXPECT_EQ(upload.ModuleFolder(), "C:\\Program Files\\Orvane\\");
  EXPECT_EQ(upload.ModuleName(), "ORVSVC");
  EXPECT_EQ(upload.AgentVersion(), "2.5") << "the last matching entry wins";
  EXPECT_EQ(upload.PoolFolder(), "C:\\Program Files\\Orvane\\MessagePool");
  EXPECT_EQ(upload.EventDefinitionPath(), "C:\\Program Files\\Orvane\\ORVCONFIG.xml");
  EXPECT_EQ(upload.CheckInterval(), 15U);
  EXPECT_EQ(upload.OutputInterval(), 1800U) << "default when missing";
  EXPECT_EQ(upload.HostName(), "NAS-0001");
}

TEST_F(UploadTest, TheRoundWaitIsNeitherZeroNorInfinite) {
  struct Case {
    std::optional<std::uint32_t> stored;
    std::uint32_t waitMs;
  };
  const Case cases[] = {
      {std::nullopt, 60'000},
      {0, 60'000},  // not back-to-back rounds
      {4'294'967, 4'294'967'000},
      {4'294'968, 0xFFFFFFFE},  // the 32-bit product would wrap to 704 ms
  };
  for (const Case& c : cases) {
    if (c.stored) {
      SetDword("CheckInterval", *c.stored);
    } else {
      RegHandle::DeleteValue(os.registry, kHklm, kStatusKey, "CheckInterval");
    }
    EXPECT_EQ(AgentCtrl_Upload(os.Ports()).RoundWaitMs(), c.waitMs) << c.stored.value_or(0xFFFFFFFF);
  }
}

TEST_F(UploadTest, TheConfiguredPoolIsUsedOnlyWhenItExists) {
  RegHandle::SetString(os.registry, kHklm, kStatusKey, "MessagePoolPath", "D:\\Pool");
  EXPECT_EQ(AgentCtrl_Upload(os.Ports()).PoolFolder(), "C:\\orvsvc\\MessagePool");
  os.files.AddDirectory("D:\\Pool");
  EXPECT_EQ(AgentCtrl_Upload(os.Ports()).PoolFolder(), "D:\\Pool");
}

TEST_F(UploadTest, InitializeCreatesThePoolAndTheDefaultDefinitionFile) {
  SetDword("AgentDailySecond", 3600);
  AgentCtrl_Upload upload(os.Ports());
  upload.Initialize();
  EXPECT_TRUE(os.files.DirectoryExists(kPool));
  EXPECT_EQ(os.files.Content(kDefinitionPath),
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<config>\r\n  <ver>1.00</ver>\r\n</config>");
  EXPECT_EQ(upload.EventDefinitions().GetLoadStatus(), AgentCtrl_ConfigFile::kLoaded);
  EXPECT_EQ(upload.EventDefinitions().GetVersion(), "1.00");
  EXPECT_EQ(upload.DailySecond(), 3600U);
  EXPECT_EQ(upload.StatusSecond(), 0U);
  EXPECT_TRUE(LoggedIds().empty());
}

TEST_F(UploadTest, DefinitionFileProblemsAreLoggedAndTheAgentGoesOn) {
  os.files.AddFile(kDefinitionPath, "<config><ver>1.00</ver><addevent>");
  AgentCtrl_Upload upload(os.Ports());
  upload.Initialize();
  EXPECT_EQ(LoggedIds(), std::vector<std::uint32_t>{event_id::kDefinitionMalformed});
  EXPECT_EQ(os.eventReporter.Entries()[0].text, "イベント定義ファイルの構成が異常です。");
}

TEST_F(UploadTest, StoppedEventsAreDroppedWithoutTakingANumber) {
  os.files.AddFile(kDefinitionPath,
                   "<config><ver>1.00</ver><stopevent><act_id>1070</act_id><act_id>+9010</act_id>"
                   "</stopevent></config>");
  AgentCtrl_Upload upload(os.Ports());
  upload.Initialize();
  EXPECT_TRUE(upload.IsEventStopped(act_id::kHostRenamed));
  EXPECT_FALSE(upload.IsEventStopped(act_id::kTestNotice)) << "the text must equal \"%d\" exactly";

  CommonEventQueue().Post(AgentEvent(act_id::kHostRenamed, os.clock));
  NasEventQueue().Post(AgentEvent(act_id::kCpuFan, os.clock));
  CommonEventQueue().Post(AgentEvent(act_id::kTestNotice, os.clock));
  int written = 0;
  EXPECT_TRUE(upload.WriteQueuedEvents(written));
  EXPECT_EQ(written, 2);
  EXPECT_FALSE(EventsPending());
  const auto files = os.files.FilesIn(kPool);
  ASSERT_EQ(files, (std::vector<std::string>{"C:\\orvsvc\\MessagePool\\RE[0].json",
                                              "C:\\orvsvc\\MessagePool\\RE[1].json"}));
  EXPECT_NE(os.files.Content(files[0])->find("\"act_id\":9010"), std::string::npos) << "common first";
  EXPECT_NE(os.files.Content(files[1])->find("\"act_id\":4080"), std::string::npos);
  for (const auto& file : files) EXPECT_TRUE(orv::testing::IsStrictJsonMessage(*os.files.Content(file)));
}

TEST_F(UploadTest, StatusMessagesCarryTheApplianceIdentityAndParseStrictly) {
  os.registry.AddKey("SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters");
  RegHandle::SetString(os.registry, kHklm, "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                       "Domain", "corp.example");
  AgentCtrl_Upload upload(os.Ports());
  upload.Initialize();
  os.clock.Advance(36ULL * 3600 * 1000);
  std::string body;
  EXPECT_TRUE(upload.BuildStatusMessage(StatusKind::AfterEvents, PowerState::Running, CommonStatusData{}, NasStatusData{}, body));
  EXPECT_TRUE(upload.WriteMessage(MessageKind::Status, body));
  const auto files = os.files.FilesIn(kPool);
  ASSERT_EQ(files.size(), 1U);
  const std::string file = *os.files.Content(files[0]);
  EXPECT_TRUE(orv::testing::IsStrictJsonMessage(file));
  EXPECT_THAT(file, HasSubstr("\"uptime\":2160,"));
  EXPECT_THAT(file, HasSubstr("\"ng_type\":100,"));
  EXPECT_THAT(file, HasSubstr("\"host_name\":\"NAS-0001\","));
  EXPECT_TRUE(file.ends_with("    \"ups\":[\r\n    ]\r\n}"));
}

}  // namespace
}  // namespace orv
