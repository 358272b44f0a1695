// What a round costs the system when nothing changes on the appliance: each key it reads is
// opened once, and nothing is written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/quiet_appliance.h"

namespace orv {
namespace {

using testing::QuietAppliance;
using testing::QuietSession;

constexpr std::uint64_t kMinute = 60'000;

class QuietRoundTest : public ::testing::Test {
 protected:
  QuietAppliance appliance;
  QuietSession run{appliance};
};

TEST_F(QuietRoundTest, OpensEachKeyOnceAndWritesNothing) {
  for (int warmUp = 0; warmUp < 2; ++warmUp) (void)run.session.Round();
  appliance.ResetCounts();
  constexpr int kRounds = 10;
  for (int round = 0; round < kRounds; ++round) (void)run.session.Round();

  const testing::PortCalls calls = appliance.Counts();
  EXPECT_EQ(calls.registry.writes, 0);
  EXPECT_EQ(calls.registry.deletes, 0);
  const auto uses = appliance.fake.registry.UsesByKey();
  EXPECT_FALSE(uses.empty());
  for (const auto& [key, use] : uses) EXPECT_LE(use.opens, kRounds) << key;
  EXPECT_EQ(appliance.fake.registry.Uses(kStatusKey).opens, 0) << "a key that opened stays open from round to round";
  EXPECT_LE(calls.deviceWalks, 1) << "the HID listing without a UPS is walked again only after a device came or went, "
                                     "or after ten passes";
}

// A day at one round a minute with a periodic status every 30 minutes: after the first round the
// monitors' keys are never written again, and the status key only takes the message numbers.
TEST_F(QuietRoundTest, AQuietDayWritesNoStateAfterTheFirstRound) {
  (void)run.session.Round();
  appliance.fake.registry.ResetUses();
  const std::size_t filesBefore = appliance.fake.files.FilesIn("C:\\orvsvc\\MessagePool").size();
  for (int minute = 1; minute < 24 * 60; ++minute) {
    appliance.fake.clock.Advance(kMinute);
    (void)run.session.Round();
  }
  for (const std::string_view key : {kCommonKey, kNasKey}) {
    const auto uses = appliance.fake.registry.Uses(key);
    EXPECT_EQ(uses.writes, 0) << key;
    EXPECT_EQ(uses.deletes, 0) << key;
  }
  const std::size_t files = appliance.fake.files.FilesIn("C:\\orvsvc\\MessagePool").size() - filesBefore;
  EXPECT_EQ(files, 47U) << "one periodic status every 30 minutes after the first round's";
  EXPECT_EQ(appliance.fake.registry.Uses(kStatusKey).writes, static_cast<int>(files)) << "FileCount, once a file";
  EXPECT_EQ(appliance.fake.registry.Uses(kStatusKey).deletes, 0);
}

}  // namespace
}  // namespace orv
