// Named pipes over overlapped Win32 pipe handles, so every wait has a time-out (Windows only).
#pragma once

#include "os/named_pipe.h"
#include "os/win32/windows_api.h"

namespace orv::win32 {

class Win32NamedPipes final : public os::NamedPipes {
 public:
  os::OsResult<os::PipeEnd> Connect(std::string_view name, std::uint32_t waitMs) override;
  os::OsResult<os::PipeServer> CreateServer(std::string_view name) override;
  os::OsResult<os::PipeEnd> ConnectIdentifyOnly(std::string_view name, std::uint32_t waitMs) override;
  os::OsResult<os::PipeServer> CreateServerWith(std::string_view name,
                                                const os::PipeServerOptions& options) override;

 private:
  static os::OsResult<os::PipeEnd> Open(std::string_view name, std::uint32_t waitMs, DWORD flags);
};

}  // namespace orv::win32
