// Executable path, computer name and system error texts (Windows only).
#pragma once

#include "os/system_info.h"

namespace orv::win32 {

class Win32SystemInfo final : public os::SystemInfo {
 public:
  std::string ExecutablePath() override;
  std::string SystemDirectory() override;
  std::string ComputerName() override;
  std::string ErrorText(os::OsError code) override;
  std::string ModuleErrorText(std::string_view module, os::OsError code) override;
  std::string AnsiToUtf8(std::span<const std::uint8_t> bytes) override;
  std::vector<std::uint8_t> Utf8ToAnsi(std::string_view text) override;
  bool Utf8ToAnsiExact(std::string_view text, std::vector<std::uint8_t>& bytes) override;
  bool IsNetworkAlive() override;
};

}  // namespace orv::win32
