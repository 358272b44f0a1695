#include "platform/held_keys_registry.h"

#include <gtest/gtest.h>

#include <thread>

#include "fakes/fake_registry.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using Uses = fakes::FakeRegistry::KeyUses;
constexpr std::string_view kMissingKey = "SOFTWARE\\Nowhere";

class HeldKeysRegistryTest : public ::testing::Test {
 protected:
  HeldKeysRegistryTest() {
    fake.AddKey(kStatusKey);
    fake.AddKey(kNasKey);
    (void)RegHandle::SetDword(fake, kHklm, kStatusKey, "CheckInterval", 60);
    (void)RegHandle::SetDword(fake, kHklm, kNasKey, "RaidChangeLow", 7);
    fake.ResetUses();
  }
  std::uint32_t Read(std::string_view key, std::string_view name) {
    return RegHandle::GetDword(registry, kHklm, key, name).value_or(RegHandle::kMissingDword);
  }
  bool Write(std::string_view key, std::uint32_t value) {
    return RegHandle::SetDword(registry, kHklm, key, "RaidChangeHigh", value);
  }

  fakes::FakeRegistry fake;
  HeldKeysRegistry registry{fake};
};

TEST_F(HeldKeysRegistryTest, AHoldOpensEachKeyOnceAndStillReadsEveryValue) {
  {
    const auto hold = registry.HoldKeys();
    ASSERT_NE(hold, nullptr);
    for (int pass = 0; pass < 3; ++pass) {
      EXPECT_EQ(Read(kStatusKey, "CheckInterval"), pass == 0 ? 60U : 1U);
      EXPECT_EQ(Read(kNasKey, "RaidChangeLow"), 7U);
      EXPECT_EQ(Read(kMissingKey, "Anything"), RegHandle::kMissingDword);
      EXPECT_FALSE(RegHandle::KeyExists(registry, kHklm, kMissingKey));
      // What the settings program writes meanwhile is read at the next call.
      (void)RegHandle::SetDword(fake, kHklm, kStatusKey, "CheckInterval", 1);
    }
    EXPECT_EQ(fake.Uses(kStatusKey).opens, 1 + 3) << "one held opening; the settings program's own three";
    EXPECT_EQ(fake.Uses(kMissingKey).opens, 2) << "once to read, once with all access: both remembered";
  }
  fake.ResetUses();
  (void)Read(kNasKey, "RaidChangeLow");
  (void)Read(kNasKey, "RaidChangeLow");
  EXPECT_EQ(fake.Uses(kNasKey).opens, 2) << "after the hold, each call opens the key";
}

// The keys of one round serve the next; what changed in the registry meanwhile is still seen: a
// key that appeared, one deleted (its kept opening fails as on Windows), one created anew.
TEST_F(HeldKeysRegistryTest, KeysStayOpenFromHoldToHoldAndFollowKeysDeletedOrCreatedMeanwhile) {
  for (int round = 0; round < 3; ++round) {
    const auto hold = registry.HoldKeys();
    EXPECT_EQ(Read(kStatusKey, "CheckInterval"), 60U);
    EXPECT_TRUE(RegHandle::KeyExists(registry, kHklm, kNasKey));
    EXPECT_EQ(Read(kMissingKey, "Anything"), RegHandle::kMissingDword);
  }
  EXPECT_EQ(fake.Uses(kNasKey).opens, 1);
  EXPECT_EQ(fake.Uses(kMissingKey).opens, 3) << "a key that did not open is asked after at every hold";

  (void)fake.DeleteKeyTree(kHklm, kStatusKey);
  fake.AddKey(kStatusKey);
  (void)RegHandle::SetDword(fake, kHklm, kStatusKey, "CheckInterval", 5);
  (void)fake.DeleteKeyTree(kHklm, kNasKey);
  fake.AddKey(kMissingKey);
  (void)RegHandle::SetDword(fake, kHklm, kMissingKey, "Anything", 9);
  const auto hold = registry.HoldKeys();
  EXPECT_EQ(Read(kStatusKey, "CheckInterval"), 5U);
  EXPECT_FALSE(RegHandle::KeyExists(registry, kHklm, kNasKey));
  EXPECT_EQ(Read(kNasKey, "RaidChangeLow"), RegHandle::kMissingDword);
  EXPECT_EQ(Read(kMissingKey, "Anything"), 9U);
}

TEST_F(HeldKeysRegistryTest, AWriteOpensWithAllAccessOnceAndAReadOnlyKeyStillReads) {
  const auto hold = registry.HoldKeys();
  (void)Read(kNasKey, "RaidChangeLow");
  EXPECT_TRUE(Write(kNasKey, 1));
  EXPECT_EQ(Read(kNasKey, "RaidChangeHigh"), 1U);
  EXPECT_EQ(fake.Uses(kNasKey), (Uses{2, 2, 1, 0})) << "the all-access opening serves the later reads too";

  fake.MakeReadOnly(kStatusKey);
  EXPECT_EQ(Read(kStatusKey, "CheckInterval"), 60U);
  EXPECT_FALSE(Write(kStatusKey, 1));
  EXPECT_FALSE(Write(kStatusKey, 1));
  EXPECT_EQ(fake.Uses(kStatusKey), (Uses{2, 1, 0, 0})) << "the denied opening is asked for once";
}

TEST_F(HeldKeysRegistryTest, NestedHoldsShareTheOutermostAndOtherThreadsOpenPerCall) {
  const auto outer = registry.HoldKeys();
  registry.HoldKeys().reset();  // a nested hold ending closes nothing
  (void)Read(kNasKey, "RaidChangeLow");
  (void)Read(kNasKey, "RaidChangeLow");
  std::thread other([this] {
    EXPECT_EQ(registry.HoldKeys(), nullptr) << "one thread holds at a time";
    (void)Read(kStatusKey, "CheckInterval");
    (void)Read(kStatusKey, "CheckInterval");
  });
  other.join();
  EXPECT_EQ(fake.Uses(kNasKey).opens, 1);
  EXPECT_EQ(fake.Uses(kStatusKey).opens, 2);
}

}  // namespace
}  // namespace orv
