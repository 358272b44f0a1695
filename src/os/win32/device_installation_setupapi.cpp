#include "os/win32/device_installation_setupapi.h"

#include "os/win32/windows_api.h"

#include <objbase.h>
#include <setupapi.h>

#include <vector>

#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

// The device information set of one query; destroyed with everything built on it.
class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  ~DeviceInfoSet() {
    if (valid()) ::SetupDiDestroyDeviceInfoList(set_);
  }
  bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

// A text property; the error of the read when the device does not have it.
DWORD ReadTextProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property, std::string& text) {
  std::vector<BYTE> buffer(512);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD required = 0;
    if (::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, buffer.data(),
                                            static_cast<DWORD>(buffer.size()), &required)) {
      // The stored text may lack its terminator: never read past what was returned.
      std::wstring wide(reinterpret_cast<const wchar_t*>(buffer.data()), buffer.size() / sizeof(wchar_t));
      wide.resize(wcsnlen(wide.c_str(), wide.size()));
      text = Narrow(wide);
      return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || required <= buffer.size()) return error;
    buffer.assign(required + sizeof(wchar_t), 0);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

os::PresentDevice Describe(HDEVINFO set, SP_DEVINFO_DATA& device) {
  os::PresentDevice present;
  if (ReadTextProperty(set, device, SPDRP_FRIENDLYNAME, present.name) == ERROR_INVALID_DATA) {
    (void)ReadTextProperty(set, device, SPDRP_DEVICEDESC, present.name);
  }
  if (!::SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER)) {
    present.driverListError = ::GetLastError();
    return present;
  }
  SP_DRVINFO_DATA_W driver{};
  driver.cbSize = sizeof driver;
  for (DWORD index = 0; ::SetupDiEnumDriverInfoW(set, &device, SPDIT_COMPATDRIVER, index, &driver); ++index) {
    const std::uint64_t date =
        static_cast<std::uint64_t>(driver.DriverDate.dwHighDateTime) << 32 | driver.DriverDate.dwLowDateTime;
    present.drivers.push_back({date, driver.DriverVersion});
  }
  ::SetupDiDestroyDriverInfoList(set, &device, SPDIT_COMPATDRIVER);
  return present;
}

}  // namespace

bool SetupApiDeviceInstallation::PresentDevices(std::string_view classGuid,
                                                std::vector<os::PresentDevice>& devices,
                                                os::OsError& error) {
  devices.clear();
  GUID guid{};
  std::wstring guidText = Wide(classGuid);
  if (::CLSIDFromString(guidText.data(), &guid) != NOERROR) {
    error = os::kErrorInvalidParameter;
    return false;
  }
  const DeviceInfoSet set(::SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT));
  if (!set.valid()) {
    error = ::GetLastError();
    return false;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
    devices.push_back(Describe(set.get(), device));
  }
  return true;
}

}  // namespace orv::win32
