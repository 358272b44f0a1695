#include "monitors/nas/raid_mode_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "fakes/fake_os.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using testing::Posted;

// Creation times with both halves in use, so a swapped or truncated half shows.
constexpr std::uint64_t kFirst = 0x01DB'4A2F'8000'0001;
constexpr std::uint64_t kSecond = 0x01DB'4A30'0000'0002;
constexpr std::uint64_t kThird = 0x01DB'4A31'0000'0003;

class RaidModeTest : public ::testing::Test {
 public:
  RaidModeTest() {
    os.registry.AddKey(kNasKey);
    os.eventLogStore.AddChannel("Application");
  }
  void Log(std::uint64_t created, const std::string& mode, std::uint16_t id = 1111,
           const std::string& provider = "ArraySetup") {
    os.eventLogStore.Append("Application",
                            {provider, id, created, {os::EventValue{os::EventValue::Kind::Text, mode, 0, 0}}, 0});
  }
  std::vector<Posted> Run() {
    monitor.Check();
    return testing::DrainPosted(queue);
  }
  std::pair<std::optional<std::uint32_t>, std::optional<std::uint32_t>> Stored() {
    const RegHandle nas(os.registry, os::RegistryRoot::LocalMachine, std::string(kNasKey));
    return {nas.GetDword(kRaidChangeLow), nas.GetDword(kRaidChangeHigh)};
  }
  void Store(std::uint32_t low, std::uint32_t high) {
    const RegHandle nas(os.registry, os::RegistryRoot::LocalMachine, std::string(kNasKey));
    ASSERT_TRUE(nas.SetDword(kRaidChangeLow, low));
    ASSERT_TRUE(nas.SetDword(kRaidChangeHigh, high));
  }

  fakes::FakeOs os;
  EventQueue queue;
  RaidModeMonitor monitor{os.Ports(), queue};
};

Posted ModeChanged(const std::string& para, const std::string& mode) {
  return {3020, 0, "", para, "RAID動作モードが" + mode + "に変更されました。"};
}

TEST_F(RaidModeTest, FirstRecordSeenIsTheStartingPointNotAChange) {
  Log(kFirst, "RAID1パターン");
  EXPECT_THAT(Run(), IsEmpty());
  EXPECT_THAT(Stored(), Pair(0x8000'0001u, 0x01DB'4A2Fu));
  EXPECT_THAT(Run(), IsEmpty());
}

TEST_F(RaidModeTest, NewerRecordIsReportedOnceAndOnlyTheNewestCounts) {
  Log(kFirst, "RAID1パターン");
  (void)Run();
  Log(kSecond, "RAID5パターン");
  Log(kThird, "RAID6パターン");
  Log(kThird + 1, "RAID0パターン", 1112);  // other records of the log do not count
  Log(kThird + 2, "RAID0パターン", 1111, "OtherTool");
  EXPECT_THAT(Run(), ElementsAre(ModeChanged("RAID6", "RAID6パターン")));
  EXPECT_THAT(Stored(), Pair(0x0000'0003u, 0x01DB'4A31u));
  EXPECT_THAT(Run(), IsEmpty());
}

TEST_F(RaidModeTest, ATimeDifferingInEitherWordAloneIsANewRecord) {
  // The high word alone changes, then the low word alone.
  const std::uint64_t rows[] = {kFirst + (std::uint64_t{1} << 32), kFirst + (std::uint64_t{1} << 32) + 1};
  Store(0x8000'0001u, 0x01DB'4A2Fu);
  for (const std::uint64_t created : rows) {
    Log(created, "RAID5パターン");
    EXPECT_THAT(Run(), ElementsAre(ModeChanged("RAID5", "RAID5パターン"))) << std::hex << created;
    EXPECT_THAT(Stored(), Pair(static_cast<std::uint32_t>(created), static_cast<std::uint32_t>(created >> 32)));
  }
}

TEST_F(RaidModeTest, EveryPatternWordLeavesTheParameterNotTheMessage) {
  Store(0, 0);
  const std::pair<const char*, const char*> modes[] = {
      {"パターンAパターンB", "AB"}, {"高速", "高速"}, {"", ""}, {"パターン", ""}};
  std::uint64_t created = kFirst;
  for (const auto& [mode, para] : modes) {
    Log(++created, mode);
    EXPECT_THAT(Run(), ElementsAre(ModeChanged(para, mode))) << mode;
  }
}

TEST_F(RaidModeTest, EventNamesTheRecordsProviderAndId) {
  Store(0, 0);
  Log(kFirst, "RAID1パターン");
  monitor.Check();
  std::vector<AgentEvent> posted;
  queue.Drain([&posted](const AgentEvent& event) { posted.push_back(event); });
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].source, "ArraySetup");
  EXPECT_EQ(posted[0].sourceEventId, 1111u);
}

TEST_F(RaidModeTest, PassWithoutRecordStoresZeroSoTheFirstLaterRecordIsReported) {
  EXPECT_THAT(Run(), IsEmpty());
  EXPECT_THAT(Stored(), Pair(0u, 0u));
  Log(kFirst, "RAID1パターン");
  EXPECT_THAT(Run(), ElementsAre(ModeChanged("RAID1", "RAID1パターン")));
}

TEST_F(RaidModeTest, FailedQueryReportsNothingAndOnlyFillsMissingValues) {
  Log(kFirst, "RAID1パターン");
  os.eventLogStore.failures.query = os::kErrorEvtChannelNotFound;
  EXPECT_THAT(Run(), IsEmpty());
  EXPECT_THAT(Stored(), Pair(0u, 0u));

  Store(0x8000'0001u, 0x01DB'4A2Fu);
  Log(kSecond, "RAID5パターン");
  EXPECT_THAT(Run(), IsEmpty());
  EXPECT_THAT(Stored(), Pair(0x8000'0001u, 0x01DB'4A2Fu));

  os.eventLogStore.failures.query = os::kSuccess;
  EXPECT_THAT(Run(), ElementsAre(ModeChanged("RAID5", "RAID5パターン")));
}

}  // namespace
}  // namespace orv
