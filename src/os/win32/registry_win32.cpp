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

os::OsError OpenNative(os::RegistryRoot root, std::string_view path, REGSAM access,
                       UniqueRegKey& key) {
  HKEY rootKey = RootKey(root);
  if (rootKey == nullptr) return os::kErrorInvalidHandle;
  const LSTATUS status = ::RegOpenKeyExW(rootKey, Wide(path).c_str(), 0,
                                         access | KEY_WOW64_64KEY, key.Receive());
  return static_cast<os::OsError>(status);
}

REGSAM AccessMask(os::RegistryAccess access) {
  return access == os::RegistryAccess::Read ? KEY_READ : KEY_ALL_ACCESS;
}

os::OsError QueryOpenKey(HKEY key, std::string_view name, os::RegistryValue& out) {
  const std::wstring valueName = Wide(name);
  std::vector<std::uint8_t> data(256);
  DWORD type = REG_NONE;
  // The value may grow between the size query and the read: retry until it fits.
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS status = ::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &size);
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

os::OsError SetOpenKey(HKEY key, std::string_view name, os::RegistryType type, std::span<const std::uint8_t> data) {
  if (data.size() > std::numeric_limits<DWORD>::max()) return os::kErrorInvalidParameter;
  return static_cast<os::OsError>(::RegSetValueExW(key, Wide(name).c_str(), 0, static_cast<DWORD>(type), data.data(),
                                                   static_cast<DWORD>(data.size())));
}

os::OsError DeleteFromOpenKey(HKEY key, std::string_view name) {
  return static_cast<os::OsError>(::RegDeleteValueW(key, Wide(name).c_str()));
}

os::OsError EnumOpenKey(HKEY key, std::vector<std::string>& names) {
  for (DWORD index = 0;; ++index) {
    wchar_t name[261];  // key names are at most 255 units
    DWORD length = static_cast<DWORD>(std::size(name));
    const LSTATUS status = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return os::kSuccess;
    if (status != ERROR_SUCCESS) return static_cast<os::OsError>(status);
    names.push_back(Narrow(std::wstring_view(name, length)));
  }
}

class Win32RegistryKey final : public os::RegistryKey {
 public:
  explicit Win32RegistryKey(UniqueRegKey key) : key_(std::move(key)) {}

  os::OsError QueryValue(std::string_view name, os::RegistryValue& out) override {
    return QueryOpenKey(key_.get(), name, out);
  }
  os::OsError SetValue(std::string_view name, os::RegistryType type, std::span<const std::uint8_t> data) override {
    return SetOpenKey(key_.get(), name, type, data);
  }
  os::OsError DeleteValue(std::string_view name) override { return DeleteFromOpenKey(key_.get(), name); }
  os::OsError EnumSubKeys(std::vector<std::string>& names) override { return EnumOpenKey(key_.get(), names); }

 private:
  UniqueRegKey key_;
};

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
  if (const os::OsError error = OpenNative(root, path, KEY_NOTIFY, key)) return error;
  return std::make_unique<Win32RegistryWatch>(std::move(key));
}

os::OsResult<os::RegistryKey> Win32Registry::OpenKey(os::RegistryRoot root, std::string_view path,
                                                     os::RegistryAccess access) {
  UniqueRegKey key;
  if (const os::OsError error = OpenNative(root, path, AccessMask(access), key)) return error;
  return std::make_unique<Win32RegistryKey>(std::move(key));
}

os::OsError Win32Registry::ProbeKey(os::RegistryRoot root, std::string_view path,
                                    os::RegistryAccess access) {
  UniqueRegKey key;
  return OpenNative(root, path, AccessMask(access), key);
}

os::OsError Win32Registry::QueryValue(os::RegistryRoot root, std::string_view path,
                                      std::string_view name, os::RegistryValue& out) {
  UniqueRegKey key;
  if (const os::OsError error = OpenNative(root, path, KEY_READ, key)) return error;
  return QueryOpenKey(key.get(), name, out);
}

os::OsError Win32Registry::SetValue(os::RegistryRoot root, std::string_view path,
                                    std::string_view name, os::RegistryType type,
                                    std::span<const std::uint8_t> data) {
  UniqueRegKey key;
  if (const os::OsError error = OpenNative(root, path, KEY_ALL_ACCESS, key)) return error;
  return SetOpenKey(key.get(), name, type, data);
}

os::OsError Win32Registry::DeleteValue(os::RegistryRoot root, std::string_view path,
                                       std::string_view name) {
  UniqueRegKey key;
  if (const os::OsError error = OpenNative(root, path, KEY_ALL_ACCESS, key)) return error;
  return DeleteFromOpenKey(key.get(), name);
}

os::OsError Win32Registry::EnumSubKeys(os::RegistryRoot root, std::string_view path,
                                       std::vector<std::string>& names) {
  UniqueRegKey key;
  if (const os::OsError error = OpenNative(root, path, KEY_READ, key)) return error;
  return EnumOpenKey(key.get(), names);
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
    if (const os::OsError error = OpenNative(root, path, KEY_ALL_ACCESS, key)) return error;
    if (const LSTATUS status = ::RegDeleteTreeW(key.get(), nullptr); status != ERROR_SUCCESS) {
      return static_cast<os::OsError>(status);
    }
  }
  return static_cast<os::OsError>(
      ::RegDeleteKeyExW(RootKey(root), Wide(path).c_str(), KEY_WOW64_64KEY, 0));
}

}  // namespace orv::win32
