// Named pipes over overlapped Win32 pipe handles, so every wait has a time-out (Windows only).
#pragma once

#include "os/named_pipe.h"

namespace orv::win32 {

class Win32NamedPipes final : public os::NamedPipes {
 public:
  std::unique_ptr<os::PipeEnd> Connect(std::string_view name, std::uint32_t waitMs,
                                       os::OsError& error) override;
  std::unique_ptr<os::PipeServer> CreateServer(std::string_view name, os::OsError& error) override;
};

}  // namespace orv::win32
