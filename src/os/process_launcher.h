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
#include "os/os_result.h"
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
  // One read of what the pipe holds now (at most its 64 KiB buffer), without blocking; empty
  // when not capturing. A child that keeps writing is read no faster than the caller asks.
  virtual std::vector<std::uint8_t> ReadAvailableOutput() = 0;
  // The exit code once ended; nullopt while it runs or when the system cannot tell it.
  virtual std::optional<std::uint32_t> ExitCode() = 0;
  virtual void Terminate(std::uint32_t exitCode) = 0;
};

// Where a launch failed: a captured child needs its output pipe before it can start.
enum class LaunchStep { OutputPipe, Process };

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // Starts `start.commandLine` (with no window unless `start.hidden` is false); the error on
  // failure, with `failedAt` telling the step.
  virtual OsResult<ChildProcess> Launch(const ProcessStart& start, LaunchStep& failedAt) = 0;
  // The same for callers to whom the failed step makes no difference.
  OsResult<ChildProcess> Launch(const ProcessStart& start) {
    LaunchStep failedAt = LaunchStep::Process;
    return Launch(start, failedAt);
  }
};

}  // namespace orv::os
