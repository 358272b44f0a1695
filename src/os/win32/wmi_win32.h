// WMI adapter over COM (Windows only): CoInitializeEx, CoInitializeSecurity, the WbemLocator,
// IWbemServices with its proxy security, semi-synchronous IEnumWbemClassObject and
// IWbemClassObject::Get.
//
// Every interface lives in a small owner that releases it, so no early return leaks one, and
// an object releases what it owns before the apartment that made it is left (WmiBase keeps the
// order). Connecting waits at most WMI's own maximum (WBEM_FLAG_CONNECT_USE_MAX_WAIT); Next
// has no infinite wait.
#pragma once

#include "os/wmi.h"

namespace orv::win32 {

class Win32WmiConnector final : public os::WmiConnector {
 public:
  std::unique_ptr<os::WmiApartment> JoinApartment(os::WmiResult& result) override;
  os::WmiResult InitializeSecurity() override;
  std::unique_ptr<os::WmiSession> Connect(std::string_view nameSpace,
                                          os::WmiResult& result) override;
};

}  // namespace orv::win32
