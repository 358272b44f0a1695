// The encryption product's query library, loaded from an absolute path (Windows only).
#pragma once

#include "os/encryption_library.h"

namespace orv::win32 {

class Win32EncryptionLibrary final : public os::EncryptionLibrary {
 public:
  Win32EncryptionLibrary() = default;
  Win32EncryptionLibrary(const Win32EncryptionLibrary&) = delete;
  Win32EncryptionLibrary& operator=(const Win32EncryptionLibrary&) = delete;
  ~Win32EncryptionLibrary() override { Unload(); }

  bool IsLoaded() const override { return module_ != nullptr; }
  os::OsError Load(std::string_view path) override;
  void Unload() override;
  std::uint32_t GetDriveNoByGUID(std::string_view volumeId, std::uint32_t& driveNumber) override;

 private:
  void* module_ = nullptr;  // HMODULE
  // The library's own entry, resolved when loaded: the identifier text in, the zero-based
  // drive number out, 0 for success.
  using DriveNoByGuid = unsigned long(__stdcall*)(const wchar_t*, unsigned long*);
  DriveNoByGuid driveNoByGuid_ = nullptr;
};

}  // namespace orv::win32
