#include "monitors/nas/companion_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr const char* kMeridexRoot = "SOFTWARE\\Wow6432Node\\MERIDEX\\Applications\\UnitDeck";
constexpr const char* kTavolenRoot = "SOFTWARE\\Wow6432Node\\Tavolen\\Applications\\TavolenNas";
constexpr std::uint32_t kAutomatic = 2;
constexpr std::uint32_t kManual = 3;

class CompanionSettingsTest : public ::testing::Test {
 public:
  CompanionSettingsTest() {
    for (const char* root : {kMeridexRoot, kTavolenRoot}) {
      for (const char* key : {"SVCMAIL", "SVCPOWMGR", "SVCBKCHK", "TEMPCHK", "SVCRAIDCHK"}) {
        os.registry.AddKey(std::string(root) + "\\" + key);
      }
    }
    for (const char* service : {"SVCMAIL", "SVCHDDCHK", "SVCBKCHK", "SVCTEMPCHK"}) Service(service, kAutomatic);
  }
  void Service(const char* name, std::uint32_t startType) {
    os.serviceManager.services[name].config.startType = startType;
  }
  std::string Path(const char* root, const char* key) { return std::string(root) + "\\" + key; }
  void SetDword(const std::string& path, const char* name, std::uint32_t value) {
    (void)RegHandle::SetDword(os.registry, os::RegistryRoot::LocalMachine, path, name, value);
  }
  void SetText(const std::string& path, const char* name, const char* value) {
    (void)RegHandle::SetString(os.registry, os::RegistryRoot::LocalMachine, path, name, value);
  }
  std::vector<int> Check(CompanionSettings& settings) {
    settings.CheckMailSettings(true);
    settings.CheckPowerSchedule(true);
    std::vector<int> posted;
    queue.Drain([&posted](const AgentEvent& e) {
      EXPECT_EQ(e.act_sts, 0);
      EXPECT_TRUE(e.act_para.empty());
      EXPECT_EQ(e.msg, e.act_id == act_id::kMailSettingsChanged ? "お知らせメール通知設定が変更されました。" : "スケジュール電源管理設定が変更されました。");
      posted.push_back(e.act_id);
    });
    return posted;
  }

  fakes::FakeOs os;
  EventQueue queue;
};

TEST_F(CompanionSettingsTest, EachChangedSnapshotPostsOneEventAndTheFirstLookNone) {
  struct Case {
    const char* name;
    std::function<void(CompanionSettingsTest&)> change;
    std::vector<int> posted;
  };
  const Case cases[] = {
      {"two recipients at once",
       [](CompanionSettingsTest& t) {
         t.SetText(t.Path(kMeridexRoot, "SVCMAIL"), "mail1", "owner@example.jp");
         t.SetText(t.Path(kMeridexRoot, "SVCMAIL"), "mail2", "admin@example.jp");
       },
       {act_id::kMailSettingsChanged}},
      {"a notification service set to manual start", [](CompanionSettingsTest& t) { t.Service("SVCHDDCHK", kManual); },
       {act_id::kMailSettingsChanged}},
      {"the backup companion's own mail switch",
       [](CompanionSettingsTest& t) { t.SetDword(t.Path(kMeridexRoot, "SVCBKCHK"), "SendMail", 1); }, {act_id::kMailSettingsChanged}},
      {"the schedule", [](CompanionSettingsTest& t) { t.SetDword(t.Path(kMeridexRoot, "SVCPOWMGR"), "ScheduleEnable", 1); },
       {act_id::kPowerScheduleChanged}},
      {"a setting of the other brand's root", [](CompanionSettingsTest& t) {
         t.SetText(t.Path(kTavolenRoot, "SVCMAIL"), "host", "smtp.example.jp");
       }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompanionSettings settings(os.Ports(), /*meridexBrand=*/true, queue);
    settings.CheckMailSettings(false);
    settings.CheckPowerSchedule(false);
    EXPECT_TRUE(!queue.HasPending()) << "the first look records only";
    c.change(*this);
    EXPECT_EQ(Check(settings), c.posted);
    EXPECT_TRUE(Check(settings).empty()) << "the new values are the snapshot now";
  }
}

}  // namespace
}  // namespace orv
