#include "monitors/nas/encrypted_volume_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Posted;

class EncryptedVolumeTest : public ::testing::Test {
 public:
  EncryptedVolumeTest() {
    os.eventLogStore.AddChannel("Application");
    os.eventLogStore.AddPublisher("SEALVOL", {{1003, "Volume %1 has been encrypted."},
                                              {2003, "Volume %1 has been decrypted."},
                                              {6000, "The encrypted volumes have been locked."},
                                              {7000, "ボリューム %1 をアンロックしました。"}});
  }
  void Log(std::uint16_t id, const std::string& volume, const std::string& provider = "SEALVOL") {
    os.eventLogStore.Append("Application",
                            {provider, id, 0, {os::EventValue{os::EventValue::Kind::Text, volume, 0, 0}}, 0});
  }

  fakes::FakeOs os;
  EventQueue queue;
};

TEST_F(EncryptedVolumeTest, EachNewRecordIsOneEventInLogOrder) {
  Log(1003, "C:");  // before the monitor: never reported
  EncryptedVolumeMonitor monitor(os.Ports(), queue);
  monitor.Check();
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());

  Log(1003, "D:");
  Log(1111, "E:");             // another record of the product: not asked for
  Log(2003, "E:", "NOTSEAL");  // another provider's record
  Log(2003, "E:");
  Log(6000, "F:");
  Log(7000, "G:");
  monitor.Check();
  EXPECT_THAT(testing::DrainPosted(queue),
              ElementsAre(Posted{act_id::kEncryption, 0, "", "暗号化,D:", "ボリューム(D:)が暗号化されました。"},
                          Posted{act_id::kEncryption, 0, "", "暗号化解除,E:", "暗号化ボリューム(E:)が暗号解除されました。"},
                          Posted{act_id::kEncryption, 0, "", "ロック", "暗号化ボリュームがロックされました。"},
                          Posted{act_id::kEncryption, 0, "", "アンロック,G:", "暗号化ボリューム(G:)がアンロックされました。"}));

  monitor.Check();
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty()) << "each record once";
}

TEST_F(EncryptedVolumeTest, EventNamesTheRecordsProviderAndId) {
  EncryptedVolumeMonitor monitor(os.Ports(), queue);
  Log(7000, "H:");
  monitor.Check();
  std::vector<AgentEvent> posted;
  queue.Drain([&posted](const AgentEvent& event) { posted.push_back(event); });
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].source, "SEALVOL");
  EXPECT_EQ(posted[0].sourceEventId, 7000u);
}

TEST_F(EncryptedVolumeTest, FailedQueryReportsNothingAndKeepsThePosition) {
  Log(1003, "C:");
  EncryptedVolumeMonitor monitor(os.Ports(), queue);
  Log(1003, "D:");
  os.eventLogStore.failures.query = os::kErrorEvtChannelNotFound;
  monitor.Check();
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());

  os.eventLogStore.failures.query = os::kSuccess;
  Log(2003, "D:");
  monitor.Check();
  EXPECT_THAT(testing::DrainPosted(queue),
              ElementsAre(Posted{act_id::kEncryption, 0, "", "暗号化,D:", "ボリューム(D:)が暗号化されました。"},
                          Posted{act_id::kEncryption, 0, "", "暗号化解除,D:", "暗号化ボリューム(D:)が暗号解除されました。"}));
}

TEST_F(EncryptedVolumeTest, RecordWhoseMessageCannotBeFormattedIsReportedWithoutVolume) {
  EncryptedVolumeMonitor monitor(os.Ports(), queue);
  os.eventLogStore.failures.format = os::kErrorEvtMessageNotFound;
  Log(1003, "D:");
  monitor.Check();
  EXPECT_THAT(testing::DrainPosted(queue), ElementsAre(Posted{act_id::kEncryption, 0, "", "暗号化,", "ボリューム()が暗号化されました。"}));
}

TEST(VolumeTextIn, TakesTwoCharactersAfterVolumeElsePositionsSixAndSeven) {
  struct Case {
    const char* message;
    const char* volume;
  };
  const Case cases[] = {
      {"Volume D: has been encrypted.", "D:"},
      {"Encryption of Volume E: done; Volume F: next", "E:"},
      {"Volume D", "D"},
      {"Volume ", ""},
      {"Drive G: has been encrypted.", "G:"},  // no "Volume ": positions 6 and 7
      {"ボリューム D: を暗号化しました。", "D:"},  // positions count characters, not bytes
      {"ボリュームがロックされました", "ロッ"},
      {"", ""},
      {"Locked", ""},   // shorter than 8 characters: nothing is read past the end
      {"Locked.", ""},
      {"Locked!!", "!!"},
      {"abcde\xF0\x9F\x98\x80xyz", ""},  // position 6 is the second half of a character
      {"abcdefg\xF0\x9F\x98\x80", ""},   // position 7 is the first half of one
  };
  for (const Case& c : cases) EXPECT_EQ(VolumeTextIn(c.message), c.volume) << c.message;
}

}  // namespace
}  // namespace orv
