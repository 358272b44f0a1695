// Disk device control requests through DeviceIoControl (Windows only). Under Wine a physical
// drive opens, but SMART_RCV_DRIVE_DATA fails with ERROR_NOT_SUPPORTED (50).
#include "os/win32/storage_device_win32.h"

#include "os/win32/windows_api.h"

#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

namespace request = os::smart_request;

// The portable code builds the request block by these offsets; the system's structures must
// agree with them byte for byte.
static_assert(sizeof(SENDCMDINPARAMS) == request::kSize);
static_assert(offsetof(SENDCMDINPARAMS, cBufferSize) == request::kBufferSize);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bFeaturesReg) == request::kFeatures);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bSectorCountReg) == request::kSectorCount);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bSectorNumberReg) ==
              request::kSectorNumber);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCylLowReg) == request::kCylinderLow);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCylHighReg) == request::kCylinderHigh);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bDriveHeadReg) == request::kDriveHead);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCommandReg) == request::kCommand);
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == request::kDriveNumber);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == request::kAnswerStatusSize);

// A failed call that left no code still failed.
os::OsError LastError() {
  const DWORD code = ::GetLastError();
  return code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE;
}

// One DeviceIoControl on the device opened for it; the handle is closed before returning.
bool Control(std::string_view deviceName, DWORD access, DWORD code, std::vector<std::uint8_t>& input,
             std::size_t answerSize, std::vector<std::uint8_t>& answer, os::OsError& error) {
  answer.clear();
  UniqueFileHandle device(::CreateFileW(Wide(deviceName).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  if (!device) {
    error = LastError();
    return false;
  }
  std::vector<std::uint8_t> buffer(std::min<std::size_t>(answerSize, MAXDWORD));
  DWORD returned = 0;
  if (!::DeviceIoControl(device.get(), code, input.data(), static_cast<DWORD>(input.size()), buffer.data(),
                         static_cast<DWORD>(buffer.size()), &returned, nullptr)) {
    error = LastError();
    return false;
  }
  buffer.resize(std::min<std::size_t>(returned, buffer.size()));
  answer = std::move(buffer);
  error = os::kSuccess;
  return true;
}

}  // namespace

bool Win32StorageDevice::SmartReceive(std::string_view deviceName, std::span<const std::uint8_t> request,
                                      std::size_t answerSize, std::vector<std::uint8_t>& answer,
                                      os::OsError& error) {
  std::vector<std::uint8_t> input(request.begin(), request.end());
  // The request's access bits ask for a handle opened for reading and writing.
  return Control(deviceName, GENERIC_READ | GENERIC_WRITE, SMART_RCV_DRIVE_DATA, input, answerSize, answer, error);
}

bool Win32StorageDevice::QueryProperty(std::string_view deviceName, std::uint32_t propertyId,
                                       std::size_t answerSize, std::vector<std::uint8_t>& answer,
                                       os::OsError& error) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = static_cast<STORAGE_PROPERTY_ID>(propertyId);
  query.QueryType = PropertyStandardQuery;
  const auto* first = reinterpret_cast<const std::uint8_t*>(&query);
  std::vector<std::uint8_t> input(first, first + sizeof query);
  // The query needs no access right, so it works on disks the service could not open for
  // writing.
  return Control(deviceName, 0, IOCTL_STORAGE_QUERY_PROPERTY, input, answerSize, answer, error);
}

}  // namespace orv::win32
