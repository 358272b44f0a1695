// Facts about the running program and the machine.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // Full path of the running executable; empty on failure.
  virtual std::string ExecutablePath() = 0;
  // The system folder ("C:\\Windows\\System32"); empty on failure.
  virtual std::string SystemDirectory() = 0;
  // NetBIOS name of the machine; empty on failure.
  virtual std::string ComputerName() = 0;
  // The system's message text for `code` in the default language, without its trailing line
  // end; empty when the system has no text for it.
  virtual std::string ErrorText(OsError code) = 0;
  // The text for `code` from the message table of `module` (a DLL such as "winhttp.dll"),
  // else from the system's table, as ErrorText gives it; empty when neither has one.
  virtual std::string ModuleErrorText(std::string_view module, OsError code) {
    (void)module;
    return ErrorText(code);
  }
  // Text in the system's ANSI code page (what console programs and some records use) as
  // UTF-8, and back; characters the code page lacks become its default character.
  virtual std::string AnsiToUtf8(std::span<const std::uint8_t> bytes) = 0;
  virtual std::vector<std::uint8_t> Utf8ToAnsi(std::string_view text) = 0;
  // `text` in the ANSI code page only when every character has a code of its own there: false
  // when one would need a best-fit stand-in (code page 932 writes "¥" as the backslash byte)
  // or the default character.
  virtual bool Utf8ToAnsiExact(std::string_view text, std::vector<std::uint8_t>& bytes) = 0;
  // True when the system reports any network connection as alive.
  virtual bool IsNetworkAlive() = 0;
};

}  // namespace orv::os
