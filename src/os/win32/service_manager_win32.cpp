#include "os/win32/service_manager_win32.h"

#include <vector>

#include "os/win32/security_descriptor_win32.h"
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

class Win32ScmService final : public os::ScmService {
 public:
  explicit Win32ScmService(UniqueScHandle handle) : handle_(std::move(handle)) {}

  os::OsError Delete() override {
    return ::DeleteService(handle_.get()) ? os::kSuccess : ::GetLastError();
  }

  os::OsError Control(std::uint32_t control, os::ServiceStatusRecord& status) override {
    SERVICE_STATUS record{};
    if (!::ControlService(handle_.get(), control, &record)) return ::GetLastError();
    status = FromRecord(record);
    return os::kSuccess;
  }

  os::OsError SetDescription(std::string_view description) override {
    std::wstring text = Wide(description);
    SERVICE_DESCRIPTIONW info{text.data()};
    return ::ChangeServiceConfig2W(handle_.get(), SERVICE_CONFIG_DESCRIPTION, &info)
               ? os::kSuccess
               : ::GetLastError();
  }

  os::OsError QueryStatus(os::ServiceStatusRecord& status) override {
    SERVICE_STATUS record{};
    if (!::QueryServiceStatus(handle_.get(), &record)) return ::GetLastError();
    status = FromRecord(record);
    return os::kSuccess;
  }

  os::OsError QueryConfig(os::ServiceConfig& config) override {
    DWORD needed = 0;
    ::QueryServiceConfigW(handle_.get(), nullptr, 0, &needed);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return ::GetLastError();
    // QUERY_SERVICE_CONFIGW holds pointers: keep the buffer aligned for them.
    std::vector<std::uint64_t> buffer((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* record = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!::QueryServiceConfigW(handle_.get(), record,
                               static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)),
                               &needed)) {
      return ::GetLastError();
    }
    const auto text = [](const wchar_t* value) { return value ? Narrow(value) : std::string(); };
    config.serviceType = record->dwServiceType;
    config.startType = record->dwStartType;
    config.errorControl = record->dwErrorControl;
    config.binaryPath = text(record->lpBinaryPathName);
    config.displayName = text(record->lpDisplayName);
    config.account = text(record->lpServiceStartName);
    return os::kSuccess;
  }

  os::OsError QuerySecurity(os::ObjectSecurity& security) override {
    DWORD needed = 0;
    ::QueryServiceObjectSecurity(handle_.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return ::GetLastError();
    std::vector<std::uint64_t> buffer((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    if (!::QueryServiceObjectSecurity(handle_.get(), DACL_SECURITY_INFORMATION, buffer.data(),
                                      static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)),
                                      &needed)) {
      return ::GetLastError();
    }
    return ReadDacl(buffer.data(), security);
  }

  os::OsError SetSecurity(std::string_view sddl) override {
    const SddlDescriptor descriptor(sddl);
    if (descriptor.error() != os::kSuccess) return descriptor.error();
    return ::SetServiceObjectSecurity(handle_.get(), DACL_SECURITY_INFORMATION, descriptor.get())
               ? os::kSuccess
               : ::GetLastError();
  }

 private:
  static os::ServiceStatusRecord FromRecord(const SERVICE_STATUS& record) {
    return {record.dwServiceType,   record.dwCurrentState,           record.dwControlsAccepted,
            record.dwWin32ExitCode, record.dwServiceSpecificExitCode, record.dwCheckPoint,
            record.dwWaitHint};
  }

  UniqueScHandle handle_;
};

class Win32ScmConnection final : public os::ScmConnection {
 public:
  explicit Win32ScmConnection(UniqueScHandle handle) : handle_(std::move(handle)) {}

  os::OsResult<os::ScmService> OpenExisting(std::string_view name, std::uint32_t access) override {
    UniqueScHandle service(::OpenServiceW(handle_.get(), Wide(name).c_str(), access));
    if (!service) return ::GetLastError();
    return std::make_unique<Win32ScmService>(std::move(service));
  }

  os::OsResult<os::ScmService> AddService(const os::ServiceCreation& creation) override {
    const std::wstring name = Wide(creation.name);
    const std::wstring display = Wide(creation.displayName);
    const std::wstring binary = Wide(creation.binaryPath);
    // Dependencies are a list closed by an empty item.
    const std::wstring dependencies = Wide(creation.dependencies) + std::wstring(2, L'\0');
    const std::wstring account = Wide(creation.account);
    const std::wstring password = Wide(creation.password);
    const auto optional = [](const std::wstring& text, bool given) {
      return given ? text.c_str() : nullptr;
    };
    UniqueScHandle service(::CreateServiceW(
        handle_.get(), name.c_str(), display.c_str(), creation.access, creation.serviceType,
        creation.startType, creation.errorControl, binary.c_str(), nullptr, nullptr,
        optional(dependencies, !creation.dependencies.empty()),
        optional(account, !creation.account.empty()),
        optional(password, !creation.password.empty())));
    if (!service) return ::GetLastError();
    return std::make_unique<Win32ScmService>(std::move(service));
  }

 private:
  UniqueScHandle handle_;
};

}  // namespace

os::OsResult<os::ScmConnection> Win32ServiceManager::Connect(std::uint32_t access) {
  UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, access));
  if (!manager) return ::GetLastError();
  return std::make_unique<Win32ScmConnection>(std::move(manager));
}

}  // namespace orv::win32
