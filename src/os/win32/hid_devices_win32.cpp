#include "os/win32/hid_devices_win32.h"

// clang-format off
#include <windows.h>
// The lean <windows.h> an earlier header may have brought leaves out the device-control codes.
#include <winioctl.h>
#include <setupapi.h>
// MinGW's HID headers declare hid.dll's C functions without C linkage.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
#include <hidclass.h>
// clang-format on

#include <cstring>
#include <memory>
#include <vector>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

os::OsError LastError() {
  const DWORD error = ::GetLastError();
  return error != 0 ? error : os::kErrorInvalidHandle;
}

os::OsError HidPError(NTSTATUS status) {
  return status == HIDP_STATUS_SUCCESS ? os::kSuccess : static_cast<os::OsError>(status);
}

// One request to the device; owns what the driver may still write to after a time-out.
struct PendingRequest {
  OVERLAPPED overlapped{};
  UniqueHandle<KernelHandleTraits> done;
  std::vector<std::uint8_t> buffer;
};

// Sends `code` with `data` as its buffer (in and out) and copies back what the device wrote.
os::OsError DeviceRequest(HANDLE device, DWORD code, std::span<std::uint8_t> data) {
  auto request = std::make_unique<PendingRequest>();
  request->done = UniqueHandle<KernelHandleTraits>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!request->done) return LastError();
  request->overlapped.hEvent = request->done.get();
  request->buffer.assign(data.begin(), data.end());
  const auto size = static_cast<DWORD>(request->buffer.size());
  DWORD transferred = 0;
  if (!::DeviceIoControl(device, code, nullptr, 0, request->buffer.data(), size, &transferred,
                         &request->overlapped)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) return error != 0 ? error : os::kErrorInvalidHandle;
    if (::WaitForSingleObject(request->done.get(), Win32HidDevices::kDeviceWaitMs) != WAIT_OBJECT_0) {
      ::CancelIoEx(device, &request->overlapped);
      if (::WaitForSingleObject(request->done.get(), Win32HidDevices::kCancelWaitMs) != WAIT_OBJECT_0) {
        (void)request.release();  // the driver still holds it: abandoned, never freed
        return os::kErrorHidTimeout;
      }
      DWORD ignored = 0;
      (void)::GetOverlappedResult(device, &request->overlapped, &ignored, FALSE);
      return os::kErrorHidTimeout;
    }
    if (!::GetOverlappedResult(device, &request->overlapped, &transferred, FALSE)) return LastError();
  }
  std::memcpy(data.data(), request->buffer.data(), data.size());
  return os::kSuccess;
}

class Win32HidDevice final : public os::HidDevice {
 public:
  explicit Win32HidDevice(UniqueHandle<FileHandleTraits> file) : file_(std::move(file)) {}
  ~Win32HidDevice() override {
    if (preparsed_ != nullptr) ::HidD_FreePreparsedData(preparsed_);
  }

  os::OsError ReadString(os::HidString which, os::HidStringBuffer& raw) override {
    raw.fill(0);
    const DWORD code = which == os::HidString::Manufacturer ? IOCTL_HID_GET_MANUFACTURER_STRING
                       : which == os::HidString::Product    ? IOCTL_HID_GET_PRODUCT_STRING
                                                            : IOCTL_HID_GET_SERIALNUMBER_STRING;
    return DeviceRequest(file_.get(), code, raw);
  }

  os::OsError Capabilities(os::HidCapabilities& caps) override {
    caps = {};
    if (preparsed_ == nullptr && !::HidD_GetPreparsedData(file_.get(), &preparsed_)) {
      preparsed_ = nullptr;
      return LastError();
    }
    HIDP_CAPS hidCaps{};
    if (const os::OsError error = HidPError(::HidP_GetCaps(preparsed_, &hidCaps)); error != os::kSuccess) return error;
    caps.inputReportLength = hidCaps.InputReportByteLength;
    caps.featureReportLength = hidCaps.FeatureReportByteLength;

    USHORT valueCount = hidCaps.NumberFeatureValueCaps;
    std::vector<HIDP_VALUE_CAPS> values(valueCount);
    if (valueCount > 0) {
      const NTSTATUS status = ::HidP_GetValueCaps(HidP_Feature, values.data(), &valueCount, preparsed_);
      if (status != HIDP_STATUS_SUCCESS) return HidPError(status);
      values.resize(valueCount);
    }
    for (const HIDP_VALUE_CAPS& value : values) {
      caps.featureValues.push_back({value.UsagePage, value.IsRange ? value.Range.UsageMin : value.NotRange.Usage,
                                    value.ReportID, value.LinkCollection});
    }

    USHORT buttonCount = hidCaps.NumberInputButtonCaps;
    std::vector<HIDP_BUTTON_CAPS> buttons(buttonCount);
    if (buttonCount > 0) {
      const NTSTATUS status = ::HidP_GetButtonCaps(HidP_Input, buttons.data(), &buttonCount, preparsed_);
      if (status != HIDP_STATUS_SUCCESS) return HidPError(status);
      buttons.resize(buttonCount);
    }
    for (const HIDP_BUTTON_CAPS& button : buttons) caps.inputButtonReportIds.push_back(button.ReportID);
    return os::kSuccess;
  }

  os::OsError GetFeatureReport(std::span<std::uint8_t> report) override {
    return DeviceRequest(file_.get(), IOCTL_HID_GET_FEATURE, report);
  }

  os::OsError GetInputReport(std::span<std::uint8_t> report) override {
    return DeviceRequest(file_.get(), IOCTL_HID_GET_INPUT_REPORT, report);
  }

  os::OsError FeatureUsageValue(const os::HidValueCapability& cap, std::span<const std::uint8_t> report,
                                std::uint32_t& value) override {
    value = 0;
    if (preparsed_ == nullptr) return os::kErrorInvalidHandle;
    // HidP_GetUsageValue only reads the report, whatever its prototype says.
    std::vector<std::uint8_t> copy(report.begin(), report.end());
    ULONG read = 0;
    const NTSTATUS status =
        ::HidP_GetUsageValue(HidP_Feature, cap.usagePage, cap.linkCollection, cap.usage, &read, preparsed_,
                             reinterpret_cast<PCHAR>(copy.data()), static_cast<ULONG>(copy.size()));
    if (status != HIDP_STATUS_SUCCESS) return HidPError(status);
    value = read;
    return os::kSuccess;
  }

 private:
  UniqueHandle<FileHandleTraits> file_;
  PHIDP_PREPARSED_DATA preparsed_ = nullptr;
};

class Win32HidDeviceSet final : public os::HidDeviceSet {
 public:
  Win32HidDeviceSet(HDEVINFO set, GUID hidClass) : set_(set), hidClass_(hidClass) {}
  ~Win32HidDeviceSet() override { ::SetupDiDestroyDeviceInfoList(set_); }
  Win32HidDeviceSet(const Win32HidDeviceSet&) = delete;
  Win32HidDeviceSet& operator=(const Win32HidDeviceSet&) = delete;

  os::OsError Interface(std::uint32_t index, std::string& hardwareId) override {
    hardwareId.clear();
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(set_, nullptr, &hidClass_, index, &data)) return LastError();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    DWORD size = 0;
    // Only the size query, for the device it fills in; DevInst 0 is a valid device under Wine,
    // so the call's own answer says whether `device` was filled.
    if (!::SetupDiGetDeviceInterfaceDetailW(set_, &data, nullptr, 0, &size, &device) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return os::kSuccess;  // no device to ask: no id, not a UPS
    }

    DWORD type = 0;
    DWORD bytes = 0;
    (void)::SetupDiGetDeviceRegistryPropertyW(set_, &device, SPDRP_HARDWAREID, &type, nullptr, 0, &bytes);
    if (bytes == 0) return os::kSuccess;
    // Room for two terminators more than asked, so a value without them still ends.
    std::vector<wchar_t> ids(bytes / sizeof(wchar_t) + 2, L'\0');
    if (!::SetupDiGetDeviceRegistryPropertyW(set_, &device, SPDRP_HARDWAREID, &type,
                                             reinterpret_cast<PBYTE>(ids.data()), bytes, nullptr)) {
      return os::kSuccess;
    }
    hardwareId = Narrow(std::wstring_view(ids.data()));  // the first id
    return os::kSuccess;
  }

  os::OsResult<os::HidDevice> Open(std::uint32_t index) override {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(set_, nullptr, &hidClass_, index, &data)) return LastError();
    DWORD size = 0;
    if (::SetupDiGetDeviceInterfaceDetailW(set_, &data, nullptr, 0, &size, nullptr)) return os::kErrorInvalidData;
    if (const DWORD error = ::GetLastError(); error != ERROR_INSUFFICIENT_BUFFER) {
      return error != 0 ? error : os::kErrorInvalidHandle;
    }
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return os::kErrorInvalidData;
    std::vector<std::uint8_t> storage(size + sizeof(wchar_t), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(set_, &data, detail, size, nullptr, nullptr)) return LastError();
    UniqueHandle<FileHandleTraits> file(::CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                      FILE_FLAG_OVERLAPPED, nullptr));
    if (!file) return LastError();
    return std::make_unique<Win32HidDevice>(std::move(file));
  }

 private:
  HDEVINFO set_;
  GUID hidClass_;
};

}  // namespace

bool Win32HidDevices::InterfacesMayHaveChanged() {
  if (watching_ && ::WaitForSingleObject(changed_.get(), 0) == WAIT_TIMEOUT) return false;
  watching_ = Watch();
  return true;
}

bool Win32HidDevices::Watch() {
  if (!changed_) changed_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!changed_) return false;
  if (!classKey_ &&
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4D1E55B2-F16F-11CF-88CB-001111000030}", 0,
                      KEY_NOTIFY, classKey_.Receive()) != ERROR_SUCCESS) {
    classKey_.reset();
    return false;
  }
  ::ResetEvent(changed_.get());
  // The notice is bound to this thread: should it end, the event is set, which only costs a walk.
  return ::RegNotifyChangeKeyValue(classKey_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                   changed_.get(), TRUE) == ERROR_SUCCESS;
}

os::OsResult<os::HidDeviceSet> Win32HidDevices::PresentInterfaces() {
  GUID hidClass{};
  ::HidD_GetHidGuid(&hidClass);
  HDEVINFO set = ::SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return LastError();
  return std::make_unique<Win32HidDeviceSet>(set, hidClass);
}

}  // namespace orv::win32
