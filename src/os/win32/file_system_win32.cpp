#include "os/win32/file_system_win32.h"

#include <limits>

#include "os/win32/security_descriptor_win32.h"
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(Handle h) { ::FindClose(h); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

DWORD Attributes(std::string_view path) { return ::GetFileAttributesW(Wide(path).c_str()); }

std::uint64_t Combine(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace

bool Win32FileSystem::FileExists(std::string_view path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32FileSystem::DirectoryExists(std::string_view path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32FileSystem::IsLink(std::string_view path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

os::OsError Win32FileSystem::MakeDirectory(std::string_view path) {
  return ::CreateDirectoryW(Wide(path).c_str(), nullptr) ? os::kSuccess : ::GetLastError();
}

os::OsError Win32FileSystem::WriteWholeFile(std::string_view path,
                                            std::span<const std::uint8_t> data,
                                            os::CreateMode mode) {
  if (data.size() > std::numeric_limits<DWORD>::max()) return os::kErrorInvalidParameter;
  const std::wstring widePath = Wide(path);
  UniqueFileHandle file(::CreateFileW(
      widePath.c_str(), GENERIC_WRITE, 0, nullptr,
      mode == os::CreateMode::NewOnly ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError();
  DWORD written = 0;
  if (!::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
      written != data.size()) {
    const DWORD error = ::GetLastError();
    file.reset();
    // A cut message file would reach the cloud as broken JSON: remove it.
    ::DeleteFileW(widePath.c_str());
    return error != 0 ? error : ERROR_WRITE_FAULT;
  }
  return os::kSuccess;
}

os::OsError Win32FileSystem::WriteNewSecuredFile(std::string_view path,
                                                 std::span<const std::uint8_t> data,
                                                 std::string_view sddl) {
  if (data.size() > std::numeric_limits<DWORD>::max()) return os::kErrorInvalidParameter;
  SddlDescriptor descriptor(sddl);
  if (descriptor.error() != os::kSuccess) return descriptor.error();
  const std::wstring widePath = Wide(path);
  // CREATE_NEW: the descriptor applies only to a file this call creates; an existing file
  // would keep its own.
  UniqueFileHandle file(::CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, descriptor.attributes(),
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError();
  DWORD written = 0;
  if (!::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
      written != data.size() || !::FlushFileBuffers(file.get())) {
    const DWORD error = ::GetLastError();
    file.reset();
    ::DeleteFileW(widePath.c_str());
    return error != 0 ? error : ERROR_WRITE_FAULT;
  }
  return os::kSuccess;
}

os::OsError Win32FileSystem::ReplaceWith(std::string_view from, std::string_view to) {
  return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? os::kSuccess
             : ::GetLastError();
}

os::OsError Win32FileSystem::ReadWholeFile(std::string_view path, std::vector<std::uint8_t>& out) {
  UniqueFileHandle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError();
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return ::GetLastError();
  if (size.QuadPart < 0 || size.QuadPart > std::numeric_limits<DWORD>::max()) {
    return ERROR_FILE_TOO_LARGE;
  }
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!data.empty() &&
      !::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr)) {
    return ::GetLastError();
  }
  data.resize(read);
  out = std::move(data);
  return os::kSuccess;
}

os::OsError Win32FileSystem::ListDirectory(std::string_view path,
                                           std::vector<os::FileEntry>& entries) {
  WIN32_FIND_DATAW found{};
  std::wstring pattern = Wide(path);
  pattern += L"\\*.*";
  UniqueFindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0));
  if (!search) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? os::kSuccess : error;  // an empty folder
  }
  do {
    const std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    entries.push_back({Narrow(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       Combine(found.nFileSizeHigh, found.nFileSizeLow),
                       Combine(found.ftLastWriteTime.dwHighDateTime,
                               found.ftLastWriteTime.dwLowDateTime),
                       (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
  } while (::FindNextFileW(search.get(), &found));
  const DWORD error = ::GetLastError();
  return error == ERROR_NO_MORE_FILES ? os::kSuccess : error;
}

os::OsError Win32FileSystem::RemoveFile(std::string_view path) {
  return ::DeleteFileW(Wide(path).c_str()) ? os::kSuccess : ::GetLastError();
}

os::OsError Win32FileSystem::RemoveEmptyDirectory(std::string_view path) {
  return ::RemoveDirectoryW(Wide(path).c_str()) ? os::kSuccess : ::GetLastError();
}

}  // namespace orv::win32
