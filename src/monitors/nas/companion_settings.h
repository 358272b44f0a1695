// The maker's companion services' settings: the notification mail, which notifications are on,
// and the power schedule. The agent only watches them: a change of either snapshot is one event.
// The snapshots live in memory, so the first look after a start records and reports nothing.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/event_queue.h"
#include "os/os_ports.h"

namespace orv {

struct MailSettings {
  std::array<std::uint8_t, 1024> encryptedPassword{};  // compared as stored, never decrypted here
  std::string user;
  std::string host;
  std::array<std::string, 5> recipients;
  std::uint32_t port = 0;
  std::string sender;
  std::uint32_t smtpAuth = 0;
  std::array<bool, 13> notifications{};  // SVCMAIL ... RAIDCheck_S
  friend bool operator==(const MailSettings&, const MailSettings&) = default;
};

struct PowerSchedule {
  std::uint32_t forceDown = 0;
  std::uint32_t powerOffType = 0;
  std::array<std::uint8_t, 160> schedule{};
  std::uint32_t scheduleEnable = 0;
  std::uint32_t scheduleType = 0;
  std::uint32_t wakeupReboot = 0;
  friend bool operator==(const PowerSchedule&, const PowerSchedule&) = default;
};

class CompanionSettings {
 public:
  CompanionSettings(const os::OsPorts& os, bool meridexBrand, EventQueue& queue)
      : os_(os), meridexBrand_(meridexBrand), queue_(queue) {}

  // Each reads the settings into the snapshot; with `post`, a difference from the previous
  // snapshot posts one event (5040 for mail and notifications, 5030 for the schedule).
  void CheckMailSettings(bool post);
  void CheckPowerSchedule(bool post);

  MailSettings ReadMailSettings() const;
  PowerSchedule ReadPowerSchedule() const;

 private:
  std::string ProductRoot() const;
  void Post(std::int32_t actId, const char* message);

  os::OsPorts os_;
  bool meridexBrand_;
  EventQueue& queue_;
  MailSettings mail_;
  PowerSchedule power_;
};

}  // namespace orv
