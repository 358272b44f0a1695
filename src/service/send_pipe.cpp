#include "service/send_pipe.h"

namespace orv::service {

bool SendPipe::Send(std::span<const std::uint8_t> data) {
  errorText_.clear();
  lastError_ = os::kSuccess;
  os::OsError error = os::kSuccess;
  std::unique_ptr<os::PipeEnd> pipe = pipes_.Connect(pipeName_, kSendPipeBusyWaitMs, error);
  if (!pipe) {
    errorText_ = kSendPipeOpenFailed;
    // A port that failed without a code must still not read as success to the caller.
    lastError_ = error != os::kSuccess ? error : os::kErrorInvalidHandle;
    return false;
  }
  error = pipe->Write(data);
  if (error != os::kSuccess) {
    errorText_ = kSendPipeWriteFailed;
    lastError_ = error;
    return false;
  }
  return true;
}

}  // namespace orv::service
