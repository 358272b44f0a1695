// HID devices port over SetupAPI and the HID class driver (Windows only).
//
// Devices are opened overlapped and every request to the device (strings, feature and input
// reports) is an overlapped DeviceIoControl waited for at most kDeviceWaitMs: HidD_GetFeature
// and its companions wait without limit on a device that does not answer, which would hold a
// service stop behind the controller's pass. A request not answered in time is cancelled
// (CancelIoEx) and, if the driver does not report the cancel within kCancelWaitMs, abandoned
// together with its buffer and event, which are never freed, so the late completion writes to
// memory that is still ours. The preparsed data and the HidP_* parsing come from the class
// driver alone and do not wait on the device.
#pragma once

#include "os/hid_devices.h"
#include "os/win32/unique_handle.h"

namespace orv::win32 {

class Win32HidDevices final : public os::HidDevices {
 public:
  static constexpr unsigned long kDeviceWaitMs = 1000;
  static constexpr unsigned long kCancelWaitMs = 2000;

  os::OsResult<os::HidDeviceSet> PresentInterfaces() override;
  // Told by the registry: the HID interface class's key, where the system adds and removes an
  // interface's entries as devices come and go, is watched (the whole tree, names and values);
  // any failure to watch it answers true.
  bool InterfacesMayHaveChanged() override;

 private:
  bool Watch();

  UniqueRegKey classKey_;
  UniqueKernelHandle changed_;  // manual reset, set by the registry
  bool watching_ = false;
};

}  // namespace orv::win32
