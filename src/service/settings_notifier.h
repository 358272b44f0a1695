// SettingsNotifier: what the controller tells the settings program through its pipe.
//
// The program may not be running; a notice it misses is simply not seen, and the event log
// holds the outcome all the same. Only the registration record reports a failed send.
#pragma once

#include <string_view>

#include "model/pipe_records.h"
#include "os/os_ports.h"

namespace orv {

class SettingsNotifier {
 public:
  explicit SettingsNotifier(const os::OsPorts& os) : os_(os) {}

  // A notice (a loop started, the outcome of a software check) on the program's pipe.
  void Notify(const service::PipeNotice& notice);
  // The registration record, on the pipe's "_TEST" twin under test switch 6; false with the
  // pipe's error in `error`.
  bool SendRecord(const service::RegistrationRecord& record, os::OsError& error);

 private:
  bool Send(std::span<const std::uint8_t> bytes, std::string_view pipeSuffix, os::OsError& error);

  os::OsPorts os_;
};

}  // namespace orv
