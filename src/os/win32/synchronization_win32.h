// Events, waits and threads over kernel objects (Windows only).
#pragma once

#include "os/synchronization.h"
#include "os/win32/windows_api.h"

namespace orv::win32 {

class Win32Synchronization final : public os::Synchronization {
 public:
  os::OsResult<os::Event> NewEvent(os::EventReset reset, std::string_view name) override;
  os::OsResult<os::Event> OpenNamedEvent(std::string_view name) override;
  std::uint32_t WaitAny(std::span<os::Event* const> events, std::uint32_t timeoutMs) override;
  os::OsResult<os::Thread> StartThread(std::function<void()> body) override;
  os::OsResult<os::Event> NewSecuredEvent(os::EventReset reset, std::string_view name,
                                          std::string_view sddl,
                                          std::optional<std::string>& existingOwner) override;
};

// The kernel handle of an event this adapter made (every event of this process), for the other
// adapters that hand events to the system.
HANDLE NativeEventHandle(os::Event& event);

}  // namespace orv::win32
