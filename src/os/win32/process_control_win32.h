// The console and the fatal end of the running process (Windows only).
#pragma once

#include "os/process_control.h"

namespace orv::win32 {

class Win32ProcessControl final : public os::ProcessControl {
 public:
  void PrintToConsole(std::string_view text) override;
  [[noreturn]] void FatalExit(std::uint32_t code) override;
  os::OsError LoadLibrariesFromSystemFolderOnly() override;
};

}  // namespace orv::win32
