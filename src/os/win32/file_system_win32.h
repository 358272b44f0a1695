// Files and folders over the Win32 file API (Windows only).
#pragma once

#include "os/file_system.h"

namespace orv::win32 {

class Win32FileSystem final : public os::FileSystem {
 public:
  bool FileExists(std::string_view path) override;
  bool DirectoryExists(std::string_view path) override;
  bool IsLink(std::string_view path) override;
  os::OsError MakeDirectory(std::string_view path) override;
  os::OsError WriteWholeFile(std::string_view path, std::span<const std::uint8_t> data,
                             os::CreateMode mode) override;
  os::OsError ReadWholeFile(std::string_view path, std::vector<std::uint8_t>& out) override;
  os::OsError ListDirectory(std::string_view path, std::vector<os::FileEntry>& entries) override;
  os::OsError RemoveFile(std::string_view path) override;
  os::OsError RemoveEmptyDirectory(std::string_view path) override;
  os::OsError WriteNewSecuredFile(std::string_view path, std::span<const std::uint8_t> data,
                                  std::string_view sddl) override;
  os::OsError ReplaceWith(std::string_view from, std::string_view to) override;

  // --- Holding what the agent checks ---
  os::OsError MakePrivateDirectory(std::string_view path) override;
  os::OsResult<os::HeldPath> HoldPath(std::string_view path) override;
  os::OsResult<os::ReadHold> HoldForReading(std::string_view path) override;
};

}  // namespace orv::win32
