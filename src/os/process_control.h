// The running process itself: its console and its fatal end.
#pragma once

#include <cstdint>
#include <string_view>

#include "os/os_error.h"

namespace orv::os {

class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  // Writes UTF-8 text to the console (or the redirected standard output).
  virtual void PrintToConsole(std::string_view text) = 0;
  // Ends the process at once with `code`; never returns.
  [[noreturn]] virtual void FatalExit(std::uint32_t code) = 0;

  // --- Where libraries come from ---
  // Libraries loaded by name are looked up in the system folder only, never in the program's
  // folder, the current folder or PATH; kSuccess, or the error when the system refuses.
  virtual OsError LoadLibrariesFromSystemFolderOnly() = 0;
};

}  // namespace orv::os
