#include "monitors/common/system_state_monitor.h"

#include <string>

#include "model/act_ids.h"
#include "platform/agent_registry.h"
#include "platform/event_log.h"

namespace orv {
namespace {

constexpr std::string_view kSystemStartFilter =
    R"(*[System[(EventID=12 and Provider[@Name="Microsoft-Windows-Kernel-General"])]])";
constexpr std::string_view kShutdownFilter = R"(*[System[(EventID=6008 and Provider[@Name="EventLog"])]])";
constexpr std::string_view kStopErrorFilter =
    R"(*[System[(EventID=1001 and Provider[@Name="Microsoft-Windows-WER-SystemErrorReporting"])]])";

constexpr std::uint64_t kFileTimeUnitsPerSecond = 10'000'000;

}  // namespace

SystemStateMonitor::SystemStateMonitor(const os::OsPorts& os, EventQueue& queue)
    : os_(os), queue_(queue), common_(os.registry, os::RegistryRoot::LocalMachine, std::string(kCommonKey)) {}

void SystemStateMonitor::Check() {
  CheckHostName();
  CheckStartAndShutdown();
  CheckStopError();
}

void SystemStateMonitor::CheckHostName() {
  const std::string current = os_.system.ComputerName();
  std::string stored;
  if (common_.GetString("HostName", stored) && stored != current) {
    Post(act_id::kHostRenamed, stored + "," + current, "ホスト名が「" + stored + "」から 「" + current + "」へ変更されました。");
  }
  (void)common_.SetString("HostName", current);
}

void SystemStateMonitor::CheckStartAndShutdown() {
  constexpr StoredTime kWakeup{"WakeupTimeLow", "WakeupTimeHigh"};
  constexpr StoredTime kShutdown{"IllegalShutdownLow", "IllegalShutdownHigh"};
  const std::optional<std::uint64_t> started = NewestEntryTime(kSystemStartFilter);
  const bool newStart = TakeNewest(kWakeup, started);
  StoreZeroWhenMissing(kWakeup);
  const std::optional<std::uint64_t> shutDown = NewestEntryTime(kShutdownFilter);
  const bool newShutdown = TakeNewest(kShutdown, shutDown);
  StoreZeroWhenMissing(kShutdown);
  if (!newStart && !newShutdown) return;

  // Compared at whole seconds, as the times are shown; a kind without an entry is time 0.
  // The shutdown entry is written at the start that follows it, so "not older" means the
  // start came after an unexpected shutdown.
  if (shutDown.value_or(0) / kFileTimeUnitsPerSecond >= started.value_or(0) / kFileTimeUnitsPerSecond) {
    Post(act_id::kUnexpectedShutdown, "", "予期せぬシャットダウンを検出しました。");
  } else {
    Post(act_id::kSystemStarted, "", "システムを開始しました。");
  }
}

void SystemStateMonitor::CheckStopError() {
  constexpr StoredTime kBluescreen{"BluescreenLow", "BluescreenHigh"};
  if (TakeNewest(kBluescreen, NewestEntryTime(kStopErrorFilter))) {
    Post(act_id::kMemoryDump, "", "メモリダンプの生成を検出しました。");
  }
  StoreZeroWhenMissing(kBluescreen);
}

std::optional<std::uint64_t> SystemStateMonitor::NewestEntryTime(std::string_view filter) {
  EventLog reader(os_.eventLogStore);
  const std::unique_ptr<os::EventQuery> query = reader.OpenQuery("System", filter, os::QueryDirection::NewestFirst);
  if (!query || !reader.Next(query.get())) return std::nullopt;
  return reader.TimeCreated();
}

std::optional<std::uint64_t> SystemStateMonitor::ReadPair(StoredTime pair) const {
  const std::uint32_t low = common_.GetDword(pair.low).value_or(RegHandle::kMissingDword);
  const std::uint32_t high = common_.GetDword(pair.high).value_or(RegHandle::kMissingDword);
  if (low == RegHandle::kMissingDword && high == RegHandle::kMissingDword) return std::nullopt;
  return static_cast<std::uint64_t>(high) << 32 | low;
}

void SystemStateMonitor::StorePair(StoredTime pair, std::uint64_t time) const {
  (void)common_.SetDword(pair.low, static_cast<std::uint32_t>(time));
  (void)common_.SetDword(pair.high, static_cast<std::uint32_t>(time >> 32));
}

void SystemStateMonitor::StoreZeroWhenMissing(StoredTime pair) const {
  if (!ReadPair(pair)) StorePair(pair, 0);
}

bool SystemStateMonitor::TakeNewest(StoredTime pair, std::optional<std::uint64_t> newest) const {
  if (!newest) return false;
  const std::optional<std::uint64_t> stored = ReadPair(pair);
  if (stored == newest) return false;
  StorePair(pair, *newest);
  return stored.has_value();
}

void SystemStateMonitor::Post(std::int32_t actId, std::string_view para, std::string msg) {
  AgentEvent event(actId, os_.clock);
  event.act_para = para;
  event.msg = std::move(msg);
  queue_.Post(event);
}

}  // namespace orv
