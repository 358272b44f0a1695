// The update watcher's thread in simulated time: the clock moves only through the watcher's own
// waits, so each run ends at a known simulated moment, when its stop is set.
#include "monitors/common/windows_update_watcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "fakes/fake_os.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint64_t kMinute = 60'000;
constexpr std::uint64_t kHour = 60 * kMinute;

// One machine with the watcher's thread, which the clock follows.
struct WatcherBed {
  WatcherBed() : os(/*simulatedTime=*/true) {
    os.registry.AddKey(kCommonKey);
    stop = os.sync.NewEvent(os::EventReset::Manual, "").take();
  }
  ~WatcherBed() {
    stop->Set();
    if (watcher.valid()) watcher.wait();
  }

  void Start() {
    watcher = std::async(std::launch::async, [this] { RunWindowsUpdateWatcher(os.Ports(), *stop); });
  }
  bool EndsWithin(std::chrono::milliseconds realTime) { return watcher.wait_for(realTime) == std::future_status::ready; }
  // Runs the watcher until the simulated clock reaches `stopAt`; false when it then did not end.
  bool RunUntil(std::uint64_t stopAt) {
    os.clock.ScheduleAt(stopAt, [this] { stop->Set(); });
    Start();
    return EndsWithin(20s);
  }

  // The local time `offsetMs` from the clock's start.
  os::CalendarTime StartPlus(std::int64_t offsetMs) {
    const auto elapsed = static_cast<std::int64_t>(os.clock.MillisecondsSinceStart());
    return FromCalendarMilliseconds(ToCalendarMilliseconds(os.clock.LocalNow()) - elapsed + offsetMs);
  }
  void StoreLastCheck(std::span<const std::uint8_t> bytes) {
    RegHandle::SetBinary(os.registry, kHklm, kCommonKey, "WinUpdateLastCheck", bytes);
  }
  std::optional<std::vector<std::uint8_t>> LastCheck() {
    std::vector<std::uint8_t> bytes;
    if (!RegHandle::GetBinary(os.registry, kHklm, kCommonKey, "WinUpdateLastCheck", bytes)) return std::nullopt;
    return bytes;
  }
  std::optional<std::uint32_t> Stored(std::string_view name) {
    return RegHandle::GetDword(os.registry, kHklm, kCommonKey, name);
  }

  fakes::FakeOs os;
  std::unique_ptr<os::Event> stop;
  std::future<void> watcher;
};

class UpdateWatcherTest : public ::testing::Test, public WatcherBed {};

TEST(UpdateWatcherSchedule, SearchesWhenADayHasPassedSinceTheStoredSearch) {
  struct Case {
    const char* name;
    std::optional<std::int64_t> storedOffsetMs;  // from the start; nullopt: nothing stored
    std::uint64_t stopAt;
    std::vector<std::uint64_t> searchTicks;
  };
  const Case cases[] = {
      {"never searched", std::nullopt, 90'000, {kMinute}},
      {"a day ago", -24 * static_cast<std::int64_t>(kHour), 90'000, {kMinute}},
      {"23 hours ago", -23 * static_cast<std::int64_t>(kHour), 2 * kHour, {kHour}},
      {"an hour ahead: the clock was set back since", static_cast<std::int64_t>(kHour), 90'000, {kMinute}},
      {"then once a day", std::nullopt, 48 * kHour + 90'000, {kMinute, kMinute + 24 * kHour, kMinute + 48 * kHour}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WatcherBed run;
    if (c.storedOffsetMs) run.StoreLastCheck(EncodeSystemTime(run.StartPlus(*c.storedOffsetMs)));
    ASSERT_TRUE(run.RunUntil(c.stopAt));
    EXPECT_EQ(run.os.windowsUpdate.SearchTicks(), c.searchTicks);
  }
}

TEST_F(UpdateWatcherTest, AFoundListIsStoredWithTheTimeOfTheSearch) {
  os.windowsUpdate.pending = {3, {os::RestartNeed::Always}};
  ASSERT_TRUE(RunUntil(90'000));
  EXPECT_EQ(Stored("WinUpdateNum"), 3u);
  EXPECT_EQ(Stored("ReqReboot"), 1u);
  // 2026-12-07 (a Monday) 09:01:00.000 as SYSTEMTIME, the form other programs read.
  EXPECT_THAT(LastCheck(), ::testing::Optional(ElementsAre(0xEA, 0x07, 12, 0, 1, 0, 7, 0, 9, 0, 1, 0, 0, 0, 0, 0)));
  EXPECT_THAT(os.eventReporter.Entries(), IsEmpty());
}

// The stored restart code speaks for installing everything found, whatever order the search
// lists the updates in (a definition update often comes first).
TEST(UpdateWatcherRestart, TheStoredRestartCodeIsTheStrongestOfAllUpdates) {
  using enum os::RestartNeed;
  const std::pair<std::vector<os::RestartNeed>, std::uint32_t> cases[] = {
      {{Never, Possible, Never}, 2}, {{Possible, Always}, 1}, {{Never, Never}, 0}, {{Always, Possible}, 1},
  };
  for (const auto& [restarts, stored] : cases) {
    WatcherBed run;
    run.os.windowsUpdate.pending = {static_cast<std::uint32_t>(restarts.size()), restarts};
    ASSERT_TRUE(run.RunUntil(90'000));
    EXPECT_EQ(run.Stored("ReqReboot"), stored) << ::testing::PrintToString(restarts);
  }
}

TEST_F(UpdateWatcherTest, AFailedSearchIsLoggedOnceAndLeavesTheCountUnknownForTheDay) {
  RegHandle::SetDword(os.registry, kHklm, kCommonKey, "WinUpdateNum", 5);
  RegHandle::SetDword(os.registry, kHklm, kCommonKey, "ReqReboot", 1);
  os.windowsUpdate.searchResult = os::kUpdateNotImplemented;  // as under Wine
  ASSERT_TRUE(RunUntil(3 * kHour));
  EXPECT_THAT(os.windowsUpdate.SearchTicks(), ElementsAre(kMinute));
  const auto entries = os.eventReporter.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].kind, os::EventKind::Error);
  EXPECT_EQ(entries[0].eventId, event_id::kWindowsUpdateInfoFailed);
  EXPECT_EQ(entries[0].text, "WindowsUpdate情報の取得に失敗しました。");
  EXPECT_EQ(Stored("WinUpdateNum"), std::nullopt);
  EXPECT_EQ(Stored("ReqReboot"), std::nullopt);
  EXPECT_EQ(LastCheck(), EncodeSystemTime(StartPlus(static_cast<std::int64_t>(kMinute))));
}

// The stop comes from another thread in real time while the search waits for the update
// servers; the search is abandoned and nothing of it is stored.
TEST_F(UpdateWatcherTest, AStopDuringALongSearchEndsTheWatcherAndStoresNothing) {
  RegHandle::SetDword(os.registry, kHklm, kCommonKey, "WinUpdateNum", 5);
  os.windowsUpdate.searchMs = os::kInfinite;
  Start();
  ASSERT_TRUE(os.windowsUpdate.WaitForSearches(1));
  stop->Set();
  ASSERT_TRUE(EndsWithin(20s));
  EXPECT_EQ(Stored("WinUpdateNum"), std::nullopt) << "removed when the search began";
  EXPECT_EQ(LastCheck(), std::nullopt) << "the next start searches again";
  EXPECT_THAT(os.eventReporter.Entries(), IsEmpty()) << "a stop is no failure";
}

}  // namespace
}  // namespace orv
