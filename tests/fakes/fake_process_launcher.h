// Child processes as scripts: each command line the test expects gets how long it runs, what
// it prints and its exit code. Time passes on the FakeClock.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_helpers.h"
#include "os/process_launcher.h"

namespace orv::fakes {

struct ScriptedProcess {
  std::uint64_t runsForMs = 0;
  bool neverEnds = false;
  std::vector<std::uint8_t> output;  // delivered at the first read
  std::optional<std::uint32_t> exitCode = 0;  // nullopt: the system cannot tell it
  bool outputWithoutEnd = false;  // every read finds `output` in the pipe again
};

class FakeProcessLauncher final : public os::ProcessLauncher {
 public:
  explicit FakeProcessLauncher(FakeClock& clock) : clock_(clock) {}

  using os::ProcessLauncher::Launch;
  os::OsResult<os::ChildProcess> Launch(const os::ProcessStart& start,
                                        os::LaunchStep& failedAt) override;

  // Scripts by exact command line; an unscripted command fails to start with error 2.
  void Script(std::string commandLine, ScriptedProcess script) {
    std::lock_guard lock(mutex_);
    scripts_[std::move(commandLine)] = std::move(script);
  }
  // What the scripted program does to the world when it starts (files it writes).
  void OnLaunch(std::string commandLine, std::function<void()> effect) {
    std::lock_guard lock(mutex_);
    effects_[std::move(commandLine)] = std::move(effect);
  }
  std::vector<os::ProcessStart> Launched() const { return launched_.Items(); }
  void ClearRecords() { launched_.Clear(); }
  int terminated = 0;
  os::OsError pipeFailure = os::kSuccess;  // set: no captured child gets its output pipe

 private:
  FakeClock& clock_;
  mutable std::mutex mutex_;
  std::map<std::string, ScriptedProcess> scripts_;
  std::map<std::string, std::function<void()>> effects_;
  Record<os::ProcessStart> launched_;
};

}  // namespace orv::fakes
