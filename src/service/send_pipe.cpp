#include "service/send_pipe.h"

namespace orv::service {

bool SendPipe::Send(std::span<const std::uint8_t> data) {
  errorText_.clear();
  lastError_ = os::kSuccess;
  const os::OsResult<os::PipeEnd> pipe = pipes_.ConnectIdentifyOnly(pipeName_, kSendPipeBusyWaitMs);
  if (!pipe) {
    errorText_ = kSendPipeOpenFailed;
    lastError_ = pipe.error();
    return false;
  }
  const os::OsError error = pipe->Write(data);
  if (error != os::kSuccess) {
    errorText_ = kSendPipeWriteFailed;
    lastError_ = error;
    return false;
  }
  return true;
}

}  // namespace orv::service
