#include "os/win32/service_host_win32.h"

#include <atomic>
#include <vector>

#include "os/win32/windows_api.h"
// <dbt.h> needs the types of <windows.h>.
#include <dbt.h>

#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

// The dispatcher calls a plain WINAPI function with no context: the portable callback it
// forwards to is kept here, once per process.
std::atomic<os::ServiceMainCallback> g_serviceMain{nullptr};

void WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv) {
  std::vector<std::string> args;
  for (DWORD i = 0; argv != nullptr && i < argc; ++i) args.push_back(Narrow(argv[i]));
  if (const os::ServiceMainCallback serviceMain = g_serviceMain.load()) serviceMain(args);
}

DWORD WINAPI HandlerTrampoline(DWORD control, DWORD eventType, LPVOID eventData,
                               LPVOID context) {
  const auto* binding = static_cast<const Win32ServiceHost::HandlerBinding*>(context);
  if (binding == nullptr || binding->handler == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  return binding->handler(control, eventType, eventData, binding->context);
}

}  // namespace

os::OsError Win32ServiceHost::RunDispatcher(std::string_view entryName,
                                            os::ServiceMainCallback serviceMain) {
  g_serviceMain.store(serviceMain);
  std::wstring name = Wide(entryName);
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), &ServiceMainTrampoline}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? os::kSuccess : ::GetLastError();
}

os::StatusHandle Win32ServiceHost::RegisterControlHandler(std::string_view serviceName,
                                                          os::ControlHandlerCallback handler,
                                                          void* context, os::OsError& error) {
  binding_ = {handler, context};
  SERVICE_STATUS_HANDLE handle =
      ::RegisterServiceCtrlHandlerExW(Wide(serviceName).c_str(), &HandlerTrampoline, &binding_);
  error = handle == nullptr ? ::GetLastError() : os::kSuccess;
  return reinterpret_cast<os::StatusHandle>(handle);
}

os::OsError Win32ServiceHost::ReportStatus(os::StatusHandle handle,
                                           const os::ServiceStatusRecord& status) {
  SERVICE_STATUS record{};
  record.dwServiceType = status.serviceType;
  record.dwCurrentState = status.currentState;
  record.dwControlsAccepted = status.controlsAccepted;
  record.dwWin32ExitCode = status.win32ExitCode;
  record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
  record.dwCheckPoint = status.checkPoint;
  record.dwWaitHint = status.waitHint;
  return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &record)
             ? os::kSuccess
             : ::GetLastError();
}

namespace {

class Win32DeviceNotification final : public os::DeviceNotification {
 public:
  explicit Win32DeviceNotification(HDEVNOTIFY notification) : notification_(notification) {}
  ~Win32DeviceNotification() override { ::UnregisterDeviceNotification(notification_); }
  Win32DeviceNotification(const Win32DeviceNotification&) = delete;
  Win32DeviceNotification& operator=(const Win32DeviceNotification&) = delete;

 private:
  HDEVNOTIFY notification_;
};

}  // namespace

os::OsResult<os::DeviceNotification> Win32ServiceHost::RegisterDeviceInterfaceNotification(
    os::StatusHandle handle) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HDEVNOTIFY notification = ::RegisterDeviceNotificationW(
      reinterpret_cast<HANDLE>(handle), &filter,
      DEVICE_NOTIFY_SERVICE_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
  if (notification == nullptr) return ::GetLastError();
  return std::make_unique<Win32DeviceNotification>(notification);
}

}  // namespace orv::win32
