// Facts about the running program and the machine.
#pragma once

#include <string>

#include "os/os_error.h"

namespace orv::os {

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // Full path of the running executable; empty on failure.
  virtual std::string ExecutablePath() = 0;
  // NetBIOS name of the machine; empty on failure.
  virtual std::string ComputerName() = 0;
  // The system's message text for `code` in the default language, without its trailing line
  // end; empty when the system has no text for it.
  virtual std::string ErrorText(OsError code) = 0;
};

}  // namespace orv::os
