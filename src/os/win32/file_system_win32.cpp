#include "os/win32/file_system_win32.h"

#include "os/win32/windows_api.h"
// After <windows.h>: these headers need its types.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

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

// --- Holding what the agent checks ---

namespace {

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::LocalFree(h); }
};
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

// Full control for SYSTEM and Administrators, passed on to what is created inside; "P": the
// parent's entries (C:\Windows\Temp lets Users create there) are not inherited.
constexpr wchar_t kPrivateFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// True when `sid` is the user of this process's token. (Under Wine every file reads as owned
// by the one Unix user the prefix runs as, which is also the service's account there.)
bool IsOwnAccount(PSID sid) {
  UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  DWORD size = 0;
  (void)::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return false;
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  return ::EqualSid(sid, user->User.Sid) != FALSE;
}

class Win32HeldPath final : public os::HeldPath {
 public:
  Win32HeldPath(UniqueFileHandle handle, bool link) : handle_(std::move(handle)), link_(link) {}

  bool IsLink() override { return link_; }

  os::PathOwner Owner() override {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!handle_ || ::GetSecurityInfo(handle_.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
      return os::PathOwner::Other;
    }
    const UniqueLocalMemory owned(descriptor);
    if (owner != nullptr && ::IsWellKnownSid(owner, WinLocalSystemSid)) return os::PathOwner::System;
    if (owner != nullptr && ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return os::PathOwner::Administrators;
    if (owner != nullptr && IsOwnAccount(owner)) return os::PathOwner::Self;
    return os::PathOwner::Other;
  }

  os::OsError MoveTo(std::string_view path) override {
    if (!handle_) return ERROR_INVALID_HANDLE;
    const std::wstring target = Wide(path);
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    if (nameBytes > std::numeric_limits<DWORD>::max() - sizeof(FILE_RENAME_INFO)) return ERROR_FILENAME_EXCED_RANGE;
    // A structure that ends in its name, kept aligned for the structure.
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + nameBytes;
    std::vector<std::uint64_t> buffer((bytes + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(target.begin(), target.end(), rename->FileName);
    rename->FileName[target.size()] = L'\0';
    return ::SetFileInformationByHandle(handle_.get(), FileRenameInfo, rename, static_cast<DWORD>(bytes))
               ? os::kSuccess
               : ::GetLastError();
  }

  os::OsError Remove() override {
    if (!handle_) return ERROR_INVALID_HANDLE;
    // Through the handle, so it is the object that was checked; opened on the reparse point,
    // a link goes and its target stays.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
      return ::GetLastError();
    }
    handle_.reset();  // the removal takes effect at the last close: now, before the parent's
    return os::kSuccess;
  }

 private:
  UniqueFileHandle handle_;
  bool link_;
};

class Win32ReadHold final : public os::ReadHold {
 public:
  explicit Win32ReadHold(UniqueFileHandle handle) : handle_(std::move(handle)) {}

 private:
  UniqueFileHandle handle_;
};

}  // namespace

os::OsError Win32FileSystem::MakePrivateDirectory(std::string_view path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateFolderSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return ::GetLastError();
  }
  const UniqueLocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  return ::CreateDirectoryW(Wide(path).c_str(), &attributes) ? os::kSuccess : ::GetLastError();
}

os::OsResult<os::HeldPath> Win32FileSystem::HoldPath(std::string_view path) {
  // Not shared for deletion: no one else can remove or rename it while it is held. Opened on
  // the reparse point itself, so a link is what is held and examined.
  UniqueFileHandle handle(::CreateFileW(Wide(path).c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle.get(), &information)) return ::GetLastError();
  const bool link = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return std::make_unique<Win32HeldPath>(std::move(handle), link);
}

os::OsResult<os::ReadHold> Win32FileSystem::HoldForReading(std::string_view path) {
  // Read sharing only: the signature check and the process start still read it; nobody writes,
  // removes or renames it.
  UniqueFileHandle handle(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return ::GetLastError();
  return std::make_unique<Win32ReadHold>(std::move(handle));
}

}  // namespace orv::win32
