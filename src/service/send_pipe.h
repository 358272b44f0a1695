// SendPipe: the agent's client side of the settings program's pipe.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "os/named_pipe.h"

namespace orv::service {

// The settings program's pipe; test switch 6 appends kTestPipeSuffix for registration records.
inline constexpr std::string_view kSettingsPipeName = "\\\\.\\pipe\\tavoleniotsvc\\Reqeust";
inline constexpr std::string_view kTestPipeSuffix = "_TEST";

// How long a busy settings pipe is waited for. The pipe is written from the service main thread,
// so this bounds how long a stuck settings program can delay the agent's loop.
inline constexpr std::uint32_t kSendPipeBusyWaitMs = 1000;

class SendPipe {
 public:
  SendPipe(os::NamedPipes& pipes, std::string pipeName)
      : pipes_(pipes), pipeName_(std::move(pipeName)) {}

  // Opens the pipe, writes `data` in one write and closes it. False on failure, with ErrorText()
  // and LastError() telling which step failed and why; both are reset at each call.
  bool Send(std::span<const std::uint8_t> data);

  const std::string& PipeName() const { return pipeName_; }
  const std::string& ErrorText() const { return errorText_; }
  os::OsError LastError() const { return lastError_; }

 private:
  os::NamedPipes& pipes_;
  std::string pipeName_;
  std::string errorText_;
  os::OsError lastError_ = os::kSuccess;
};

inline constexpr std::string_view kSendPipeOpenFailed = "サービスに接続できません。";
inline constexpr std::string_view kSendPipeWriteFailed = "メッセージを送信できません。";

}  // namespace orv::service
