// The running process itself: its console and its fatal end.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv::os {

class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  // Writes UTF-8 text to the console (or the redirected standard output).
  virtual void PrintToConsole(std::string_view text) = 0;
  // Ends the process at once with `code`; never returns.
  [[noreturn]] virtual void FatalExit(std::uint32_t code) = 0;
};

}  // namespace orv::os
