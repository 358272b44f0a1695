// Registry adapter over the Win32 Reg* API, 64-bit view (Windows only).
#pragma once

#include "os/registry.h"

namespace orv::win32 {

class Win32Registry final : public os::Registry {
 public:
  os::OsResult<os::RegistryKey> OpenKey(os::RegistryRoot root, std::string_view path,
                                        os::RegistryAccess access) override;
  os::OsError ProbeKey(os::RegistryRoot root, std::string_view path,
                       os::RegistryAccess access) override;
  os::OsError QueryValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                         os::RegistryValue& out) override;
  os::OsError SetValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                       os::RegistryType type, std::span<const std::uint8_t> data) override;
  os::OsError DeleteValue(os::RegistryRoot root, std::string_view path,
                          std::string_view name) override;
  os::OsError EnumSubKeys(os::RegistryRoot root, std::string_view path,
                          std::vector<std::string>& names) override;
  os::OsError CreateKey(os::RegistryRoot root, std::string_view path) override;
  os::OsError DeleteKeyTree(os::RegistryRoot root, std::string_view path) override;
  os::OsResult<os::RegistryWatch> Watch(os::RegistryRoot root, std::string_view path) override;
};

}  // namespace orv::win32
