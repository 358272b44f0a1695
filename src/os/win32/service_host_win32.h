// Service-process adapter over the service control dispatcher (Windows only).
#pragma once

#include "os/service_host.h"

namespace orv::win32 {

class Win32ServiceHost final : public os::ServiceHost {
 public:
  os::OsError RunDispatcher(std::string_view entryName,
                            os::ServiceMainCallback serviceMain) override;
  os::StatusHandle RegisterControlHandler(std::string_view serviceName,
                                          os::ControlHandlerCallback handler, void* context,
                                          os::OsError& error) override;
  os::OsError ReportStatus(os::StatusHandle handle, const os::ServiceStatusRecord& status) override;
  os::OsResult<os::DeviceNotification> RegisterDeviceInterfaceNotification(
      os::StatusHandle handle) override;

  // The handler and its context as the control manager hands them back to the trampoline.
  struct HandlerBinding {
    os::ControlHandlerCallback handler = nullptr;
    void* context = nullptr;
  };

 private:
  HandlerBinding binding_;
};

}  // namespace orv::win32
