// Starting other programs: console commands whose output the agent reads, the uploader, the
// unzip tool and the update installer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"
#include "os/synchronization.h"  // kInfinite

namespace orv::os {

struct ProcessStart {
  std::string commandLine;
  std::string workingFolder;    // empty: the agent's own
  bool captureOutput = false;   // standard output and error into one pipe the agent reads
  // false: started as a plain program would be (no creation flags, default start-up
  // information), so it may show whatever windows it shows itself.
  bool hidden = true;
};

// A started process; destroying it closes the agent's handles, not the process.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // True when the process has ended within `timeoutMs` (kInfinite allowed).
  virtual bool Wait(std::uint32_t timeoutMs) = 0;
  // Whatever output the pipe holds now, without blocking; empty when not capturing.
  virtual std::vector<std::uint8_t> ReadAvailableOutput() = 0;
  // The exit code once ended; nullopt while it runs or when the system cannot tell it.
  virtual std::optional<std::uint32_t> ExitCode() = 0;
  virtual void Terminate(std::uint32_t exitCode) = 0;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // Starts `start.commandLine` (with no window unless `start.hidden` is false); nullptr and
  // `error` set on failure.
  virtual std::unique_ptr<ChildProcess> Launch(const ProcessStart& start, OsError& error) = 0;
};

}  // namespace orv::os
