#include "fakes/fake_process_launcher.h"


namespace orv::fakes {
namespace {

class FakeChild final : public os::ChildProcess {
 public:
  FakeChild(FakeClock& clock, ScriptedProcess script, bool capture, int& terminated)
      : clock_(clock),
        script_(std::move(script)),
        capture_(capture),
        startedAt_(clock.MillisecondsSinceStart()),
        terminated_(terminated) {}
  FakeChild(const FakeChild&) = delete;
  FakeChild& operator=(const FakeChild&) = delete;

  bool Wait(std::uint32_t timeoutMs) override {
    if (Ended()) return true;
    const std::uint64_t now = clock_.MillisecondsSinceStart();
    const std::uint64_t endsAt = startedAt_ + script_.runsForMs;
    if (!script_.neverEnds && timeoutMs != os::kInfinite && endsAt <= now + timeoutMs) {
      clock_.AdvanceTo(endsAt);
      return true;
    }
    if (timeoutMs == os::kInfinite) {
      if (script_.neverEnds) return false;  // would hang: a test that gets here has a fault
      clock_.AdvanceTo(endsAt);
      return true;
    }
    clock_.Advance(timeoutMs);
    return false;
  }
  std::vector<std::uint8_t> ReadAvailableOutput() override {
    if (!capture_ || (delivered_ && !script_.outputWithoutEnd)) return {};
    delivered_ = true;
    return script_.output;
  }
  std::optional<std::uint32_t> ExitCode() override {
    if (killedWith_) return *killedWith_;
    return Ended() ? script_.exitCode : std::nullopt;
  }
  void Terminate(std::uint32_t exitCode) override {
    if (Ended()) return;
    killedWith_ = exitCode;
    ++terminated_;
  }

 private:
  bool Ended() const {
    return killedWith_.has_value() ||
           (!script_.neverEnds && clock_.MillisecondsSinceStart() >= startedAt_ + script_.runsForMs);
  }

  FakeClock& clock_;
  ScriptedProcess script_;
  bool capture_;
  std::uint64_t startedAt_;
  int& terminated_;
  bool delivered_ = false;
  std::optional<std::uint32_t> killedWith_;
};

}  // namespace

os::OsResult<os::ChildProcess> FakeProcessLauncher::Launch(const os::ProcessStart& start,
                                                           os::LaunchStep& failedAt) {
  std::unique_lock lock(mutex_);
  if (start.captureOutput && pipeFailure != os::kSuccess) {
    failedAt = os::LaunchStep::OutputPipe;
    return pipeFailure;
  }
  launched_.Add(start);
  const auto it = scripts_.find(start.commandLine);
  if (it == scripts_.end()) {
    failedAt = os::LaunchStep::Process;
    return os::kErrorFileNotFound;
  }
  auto child = std::make_unique<FakeChild>(clock_, it->second, start.captureOutput, terminated);
  const auto found = effects_.find(start.commandLine);
  const std::function<void()> effect = found == effects_.end() ? nullptr : found->second;
  lock.unlock();
  if (effect) effect();
  return child;
}

}  // namespace orv::fakes
