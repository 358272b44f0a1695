#include "monitors/nas/companion_settings.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "model/act_ids.h"
#include "platform/reg_handle.h"
#include "platform/service_queries.h"

namespace orv {
namespace {

constexpr std::uint32_t kAutoStart = 2;
// This key holds the two RAID switches on every appliance, whatever its brand.
constexpr std::string_view kRaidSwitchesKey = "SOFTWARE\\Wow6432Node\\MERIDEX\\Applications\\UnitDeck\\SVCRAIDCHK";

RegHandle Key(os::Registry& registry, std::string path) {
  return RegHandle(registry, os::RegistryRoot::LocalMachine, std::move(path));
}

std::uint32_t Dword(const RegHandle& key, std::string_view name) {
  return key.GetDword(name).value_or(RegHandle::kMissingDword);
}

std::string Text(const RegHandle& key, std::string_view name) {
  std::string text;
  (void)key.GetString(name, text);
  return text;
}

// The first N bytes of a binary value, zeros where it is shorter or cannot be read.
template <std::size_t N>
std::array<std::uint8_t, N> Bytes(const RegHandle& key, std::string_view name) {
  std::array<std::uint8_t, N> out{};
  std::vector<std::uint8_t> stored;
  if (key.GetBinary(name, stored)) std::copy_n(stored.begin(), std::min(N, stored.size()), out.begin());
  return out;
}

}  // namespace

std::string CompanionSettings::ProductRoot() const {
  return meridexBrand_ ? "SOFTWARE\\Wow6432Node\\MERIDEX\\Applications\\UnitDeck"
                       : "SOFTWARE\\Wow6432Node\\Tavolen\\Applications\\TavolenNas";
}

MailSettings CompanionSettings::ReadMailSettings() const {
  const std::string root = ProductRoot();
  const RegHandle mail = Key(os_.registry, root + "\\SVCMAIL");
  MailSettings now;
  now.encryptedPassword = Bytes<1024>(mail, "authpassEnc");
  now.user = Text(mail, "authuser");
  now.host = Text(mail, "host");
  for (std::size_t i = 0; i < now.recipients.size(); ++i) now.recipients[i] = Text(mail, "mail" + std::to_string(i + 1));
  now.port = Dword(mail, "port");
  now.sender = Text(mail, "sendermail");
  now.smtpAuth = Dword(mail, "smtpauth");

  const auto autoStart = [this](std::string_view service) {
    return QueryStartType(os_.serviceManager, service) == kAutoStart;
  };
  const auto isOne = [this](const std::string& path, std::string_view name) {
    return Key(os_.registry, path).GetDword(name) == 1u;
  };
  // A companion that keeps its own mail switch is followed by it; else by whether it starts.
  const auto ownSwitchOr = [&](const std::string& path, std::string_view service) {
    const std::optional<std::uint32_t> sendMail = Key(os_.registry, path).GetDword("SendMail");
    return sendMail ? *sendMail == 1 : autoStart(service);
  };
  now.notifications = {
      autoStart("SVCMAIL"),
      ownSwitchOr(root + "\\TEMPCHK", "SVCTEMPCHK"),
      ownSwitchOr(root + "\\POWERCHK", "SVCPOWCHK"),
      autoStart("SVCHDDCHK"),
      autoStart("SVCNOTIFY"),
      autoStart("SVCLANCHK"),
      autoStart("SVCSLCHK"),
      isOne(root + "\\SVCRAIDCHK", "RAIDCheck"),
      isOne(root + "\\SVCAUTOUPD", "ErrorMail"),
      meridexBrand_ ? isOne(root + "\\SVCBKCHK", "SendMail") : autoStart("SVCBKCHK"),
      meridexBrand_ ? isOne(root + "\\DISKCAPA", "SendMail") : autoStart("SVCDISKCHK"),
      isOne(std::string(kRaidSwitchesKey), "RAIDCheck_H"),
      isOne(std::string(kRaidSwitchesKey), "RAIDCheck_S"),
  };
  return now;
}

PowerSchedule CompanionSettings::ReadPowerSchedule() const {
  const RegHandle manager = Key(os_.registry, ProductRoot() + "\\SVCPOWMGR");
  PowerSchedule now;
  now.forceDown = Dword(manager, "ForceDown");
  now.powerOffType = Dword(manager, "PowerOffType");
  now.schedule = Bytes<160>(manager, "Schedule");
  now.scheduleEnable = Dword(manager, "ScheduleEnable");
  now.scheduleType = Dword(manager, "ScheduleType");
  now.wakeupReboot = Dword(manager, "WakeupReboot");
  return now;
}

void CompanionSettings::CheckMailSettings(bool post) {
  MailSettings now = ReadMailSettings();
  const bool changed = !(now == mail_);
  mail_ = std::move(now);
  if (post && changed) Post(act_id::kMailSettingsChanged, "お知らせメール通知設定が変更されました。");
}

void CompanionSettings::CheckPowerSchedule(bool post) {
  const PowerSchedule now = ReadPowerSchedule();
  const bool changed = !(now == power_);
  power_ = now;
  if (post && changed) Post(act_id::kPowerScheduleChanged, "スケジュール電源管理設定が変更されました。");
}

void CompanionSettings::Post(std::int32_t actId, const char* message) {
  AgentEvent event(actId, os_.clock);
  event.msg = message;
  queue_.Post(event);
}

}  // namespace orv
