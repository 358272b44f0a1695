#include "monitors/nas/raid_mode_monitor.h"

#include <cstdint>
#include <string>

#include "model/act_ids.h"
#include "platform/agent_registry.h"
#include "platform/event_log.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr std::string_view kPatternWord = "パターン";

std::string WithoutEvery(std::string text, std::string_view word) {
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at)) text.erase(at, word.size());
  return text;
}

// The first user property as text; empty when it is not a text or cannot be rendered.
std::string FirstDataString(EventLog& reader) {
  if (!reader.Render(reader.Current(), EventLog::Context::User)) return {};
  const std::vector<os::EventValue>& values = reader.UserValues();
  if (values.empty() || values.front().kind != os::EventValue::Kind::Text) return {};
  return values.front().text;
}

}  // namespace

RaidModeMonitor::RaidModeMonitor(const os::OsPorts& os, EventQueue& queue) : os_(os), queue_(queue) {}

void RaidModeMonitor::Check() {
  const RegHandle nas(os_.registry, os::RegistryRoot::LocalMachine, std::string(kNasKey));
  // A value that cannot be read reads as kMissingDword, and one stored as that counts as
  // missing too (the settings rule); the comparison uses what was read.
  const std::uint32_t low = nas.GetDword(kRaidChangeLow).value_or(RegHandle::kMissingDword);
  const std::uint32_t high = nas.GetDword(kRaidChangeHigh).value_or(RegHandle::kMissingDword);
  bool bothMissing = low == RegHandle::kMissingDword && high == RegHandle::kMissingDword;

  EventLog reader(os_.eventLogStore);
  auto query = reader.OpenQuery(kRaidModeLogChannel, kRaidModeRecords, os::QueryDirection::NewestFirst);
  if (query && reader.Next(query.get())) {
    const std::uint64_t created = reader.TimeCreated();
    const auto createdLow = static_cast<std::uint32_t>(created & 0xFFFFFFFFU);
    const auto createdHigh = static_cast<std::uint32_t>(created >> 32);
    const auto store = [&] {
      (void)nas.SetDword(kRaidChangeLow, createdLow);
      (void)nas.SetDword(kRaidChangeHigh, createdHigh);
    };
    if (bothMissing) {
      store();  // the record that was there first is the starting point, not a change
      return;
    }
    if (low == createdLow && high == createdHigh) return;

    const std::string provider = reader.ProviderName();
    const std::uint16_t eventId = reader.EventId();
    const std::string mode = FirstDataString(reader);
    AgentEvent event(act_id::kRaidMode, os_.clock);
    event.act_para = WithoutEvery(mode, kPatternWord);
    event.msg = "RAID動作モードが" + mode + "に変更されました。";
    event.source = provider;
    event.sourceEventId = eventId;
    queue_.Post(event);
    store();
    return;
  }
  if (bothMissing) {
    (void)nas.SetDword(kRaidChangeLow, 0);
    (void)nas.SetDword(kRaidChangeHigh, 0);
  }
}

}  // namespace orv
