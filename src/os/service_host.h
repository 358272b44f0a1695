// Service-process side of the service control manager: the dispatcher, the control handler,
// status reports and device-interface notifications.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"
#include "os/os_result.h"

namespace orv::os {

// The control manager's SERVICE_STATUS, field for field.
struct ServiceStatusRecord {
  std::uint32_t serviceType = 0;
  std::uint32_t currentState = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
};

// Plain functions, because the control manager calls back without an object; they reach the
// process's single service object themselves.
using ServiceMainCallback = void (*)(const std::vector<std::string>& args);
using ControlHandlerCallback = std::uint32_t (*)(std::uint32_t control, std::uint32_t eventType,
                                                 void* eventData, void* context);

// Opaque handle of the control manager; 0 means none.
using StatusHandle = std::uintptr_t;

// A subscription to device-interface arrivals and removals; destroying it unsubscribes.
class DeviceNotification {
 public:
  virtual ~DeviceNotification() = default;
};

class ServiceHost {
 public:
  virtual ~ServiceHost() = default;

  // Connects the process to the control manager with one dispatch-table entry and blocks until
  // every service of the process has stopped; the error when the connection failed.
  virtual OsError RunDispatcher(std::string_view entryName, ServiceMainCallback serviceMain) = 0;
  // Registers the extended control handler; 0 and `error` set on failure.
  virtual StatusHandle RegisterControlHandler(std::string_view serviceName,
                                              ControlHandlerCallback handler, void* context,
                                              OsError& error) = 0;
  virtual OsError ReportStatus(StatusHandle handle, const ServiceStatusRecord& status) = 0;
  // Subscribes the service to arrivals and removals of every device-interface class; the
  // error on failure.
  virtual OsResult<DeviceNotification> RegisterDeviceInterfaceNotification(StatusHandle handle) = 0;
};

}  // namespace orv::os
