#include "os/win32/registry_win32.h"

#include <limits>

#include "os/win32/synchronization_win32.h"
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

HKEY RootKey(os::RegistryRoot root) {
  switch (root) {
    case os::RegistryRoot::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case os::RegistryRoot::CurrentUser:
      return HKEY_CURRENT_USER;
    case os::RegistryRoot::Users:
      return HKEY_USERS;
    case os::RegistryRoot::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case os::RegistryRoot::None:
      break;
  }
  return nullptr;
}

os::OsError OpenKey(os::RegistryRoot root, std::string_view path, REGSAM access,
                    UniqueRegKey& key) {
  HKEY rootKey = RootKey(root);
  if (rootKey == nullptr) return os::kErrorInvalidHandle;
  const LSTATUS status = ::RegOpenKeyExW(rootKey, Wide(path).c_str(), 0,
                                         access | KEY_WOW64_64KEY, key.Receive());
  return static_cast<os::OsError>(status);
}

class Win32RegistryWatch final : public os::RegistryWatch {
 public:
  explicit Win32RegistryWatch(UniqueRegKey key) : key_(std::move(key)) {}

  os::OsError Arm(os::Event& changed) override {
    // The notice request belongs to the calling thread and ends with it, so the thread that
    // waits for the notices arms them.
    constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    return static_cast<os::OsError>(
        ::RegNotifyChangeKeyValue(key_.get(), TRUE, kFilter, NativeEventHandle(changed), TRUE));
  }

 private:
  UniqueRegKey key_;
};

}  // namespace

os::OsResult<os::RegistryWatch> Win32Registry::Watch(os::RegistryRoot root, std::string_view path) {
  UniqueRegKey key;
  if (const os::OsError error = OpenKey(root, path, KEY_NOTIFY, key)) return error;
  return std::make_unique<Win32RegistryWatch>(std::move(key));
}

os::OsError Win32Registry::ProbeKey(os::RegistryRoot root, std::string_view path,
                                    os::RegistryAccess access) {
  UniqueRegKey key;
  return OpenKey(root, path, access == os::RegistryAccess::Read ? KEY_READ : KEY_ALL_ACCESS, key);
}

os::OsError Win32Registry::QueryValue(os::RegistryRoot root, std::string_view path,
                                      std::string_view name, os::RegistryValue& out) {
  UniqueRegKey key;
  if (const os::OsError error = OpenKey(root, path, KEY_READ, key)) return error;
  const std::wstring valueName = Wide(name);
  std::vector<std::uint8_t> data(256);
  DWORD type = REG_NONE;
  // The value may grow between the size query and the read: retry until it fits.
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS status =
        ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, data.data(), &size);
    if (status == ERROR_SUCCESS) {
      data.resize(size);
      out.type = static_cast<os::RegistryType>(type);
      out.data = std::move(data);
      return os::kSuccess;
    }
    if (status != ERROR_MORE_DATA) return static_cast<os::OsError>(status);
    data.resize(size > data.size() ? size : data.size() * 2);
  }
  return os::kErrorMoreData;
}

os::OsError Win32Registry::SetValue(os::RegistryRoot root, std::string_view path,
                                    std::string_view name, os::RegistryType type,
                                    std::span<const std::uint8_t> data) {
  if (data.size() > std::numeric_limits<DWORD>::max()) return os::kErrorInvalidParameter;
  UniqueRegKey key;
  if (const os::OsError error = OpenKey(root, path, KEY_ALL_ACCESS, key)) return error;
  return static_cast<os::OsError>(::RegSetValueExW(key.get(), Wide(name).c_str(), 0,
                                                   static_cast<DWORD>(type), data.data(),
                                                   static_cast<DWORD>(data.size())));
}

os::OsError Win32Registry::DeleteValue(os::RegistryRoot root, std::string_view path,
                                       std::string_view name) {
  UniqueRegKey key;
  if (const os::OsError error = OpenKey(root, path, KEY_ALL_ACCESS, key)) return error;
  return static_cast<os::OsError>(::RegDeleteValueW(key.get(), Wide(name).c_str()));
}

os::OsError Win32Registry::EnumSubKeys(os::RegistryRoot root, std::string_view path,
                                       std::vector<std::string>& names) {
  UniqueRegKey key;
  if (const os::OsError error = OpenKey(root, path, KEY_READ, key)) return error;
  for (DWORD index = 0;; ++index) {
    wchar_t name[261];  // key names are at most 255 units
    DWORD length = static_cast<DWORD>(std::size(name));
    const LSTATUS status =
        ::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return os::kSuccess;
    if (status != ERROR_SUCCESS) return static_cast<os::OsError>(status);
    names.push_back(Narrow(std::wstring_view(name, length)));
  }
}

os::OsError Win32Registry::CreateKey(os::RegistryRoot root, std::string_view path) {
  HKEY rootKey = RootKey(root);
  if (rootKey == nullptr) return os::kErrorInvalidHandle;
  UniqueRegKey key;
  const LSTATUS status =
      ::RegCreateKeyExW(rootKey, Wide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.Receive(), nullptr);
  return static_cast<os::OsError>(status);
}

os::OsError Win32Registry::DeleteKeyTree(os::RegistryRoot root, std::string_view path) {
  {
    UniqueRegKey key;
    if (const os::OsError error = OpenKey(root, path, KEY_ALL_ACCESS, key)) return error;
    if (const LSTATUS status = ::RegDeleteTreeW(key.get(), nullptr); status != ERROR_SUCCESS) {
      return static_cast<os::OsError>(status);
    }
  }
  return static_cast<os::OsError>(
      ::RegDeleteKeyExW(RootKey(root), Wide(path).c_str(), KEY_WOW64_64KEY, 0));
}

}  // namespace orv::win32
