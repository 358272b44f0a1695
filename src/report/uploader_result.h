// What the agent makes of the uploader's exit code.
//
// Failures that the next run may repair (configuration, data files) are held back and reported
// only at the next successful run, so a passing hiccup leaves no entry; failures of the server
// or the connection are reported at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/agent_event_ids.h"
#include "platform/agent_event_log.h"

namespace orv {

struct UploaderExitMeaning {
  bool success = false;
  std::string message;  // empty on success
  bool held = false;
};

// The meaning of `exitCode` for a run of `commandLine` (which the argument errors name).
UploaderExitMeaning DescribeUploaderExit(std::string_view commandLine, std::uint32_t exitCode);

// The held message, shared by the uploader threads of one AgentCtrl_Upload.
class HeldUploaderError {
 public:
  void Hold(std::string message) {
    std::lock_guard lock(mutex_);
    message_ = std::move(message);
  }
  // The held message, now forgotten; empty when none.
  std::string Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(message_, {});
  }

 private:
  std::mutex mutex_;
  std::string message_;
};

// Logs event 0xC0000526 as the exit code asks: at once, held in `held`, or (on success) the
// message held from an earlier run.
void ReportUploaderResult(const AgentEventLog& log, HeldUploaderError& held,
                          std::string_view commandLine, std::uint32_t exitCode);

}  // namespace orv
