#include "os/host/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace orv::host {
namespace {

constexpr std::uint64_t kSecondsFrom1601To1970 = 11'644'473'600ULL;

std::string HostPath(std::string_view path) {
  std::string host(path);
  for (char& c : host) {
    if (c == '\\') c = '/';
  }
  return host;
}

// The Windows codes the agent's callers know.
os::OsError FromErrno(int error) {
  switch (error) {
    case ENOENT: return os::kErrorFileNotFound;
    case EEXIST: return os::kErrorFileExists;
    case EACCES:
    case EPERM: return os::kErrorAccessDenied;
    case ENOSPC: return 112;  // disk full
    default: return static_cast<os::OsError>(0x20000000U | static_cast<unsigned>(error));
  }
}

std::uint64_t FileTime(const struct stat& info) {
  return (static_cast<std::uint64_t>(info.st_mtim.tv_sec) + kSecondsFrom1601To1970) * 10'000'000ULL +
         static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100;
}

}  // namespace

bool PosixFileSystem::FileExists(std::string_view path) {
  struct stat info {};
  return ::stat(HostPath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool PosixFileSystem::DirectoryExists(std::string_view path) {
  struct stat info {};
  return ::stat(HostPath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PosixFileSystem::IsLink(std::string_view path) {
  struct stat info {};
  return ::lstat(HostPath(path).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

os::OsError PosixFileSystem::MakeDirectory(std::string_view path) {
  if (::mkdir(HostPath(path).c_str(), 0755) == 0) return os::kSuccess;
  return errno == EEXIST ? os::kErrorAlreadyExists : FromErrno(errno);
}

namespace {
// Writes all of `data` to the new file `fd` and closes it; a failed write removes the file, so
// no part of one is left behind.
os::OsError WriteAllAndClose(int fd, const std::string& host, std::span<const std::uint8_t> data) {
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const os::OsError error = FromErrno(errno);
      ::close(fd);
      ::unlink(host.c_str());
      return error;
    }
    written += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 ? os::kSuccess : FromErrno(errno);
}
}  // namespace

os::OsError PosixFileSystem::WriteWholeFile(std::string_view path,
                                            std::span<const std::uint8_t> data,
                                            os::CreateMode mode) {
  const std::string host = HostPath(path);
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC |
                    (mode == os::CreateMode::NewOnly ? O_EXCL : O_TRUNC);
  const int fd = ::open(host.c_str(), flags, 0644);
  if (fd < 0) return FromErrno(errno);
  return WriteAllAndClose(fd, host, data);
}

// POSIX has no access lists here: the nearest is a file only its owner may read.
os::OsError PosixFileSystem::WriteNewSecuredFile(std::string_view path,
                                                 std::span<const std::uint8_t> data,
                                                 std::string_view /*sddl*/) {
  const std::string host = HostPath(path);
  const int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return FromErrno(errno);
  return WriteAllAndClose(fd, host, data);
}

os::OsError PosixFileSystem::ReplaceWith(std::string_view from, std::string_view to) {
  return ::rename(HostPath(from).c_str(), HostPath(to).c_str()) == 0 ? os::kSuccess : FromErrno(errno);
}

os::OsError PosixFileSystem::ReadWholeFile(std::string_view path, std::vector<std::uint8_t>& out) {
  const int fd = ::open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno);
  std::vector<std::uint8_t> data;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const os::OsError error = FromErrno(errno);
      ::close(fd);
      return error;
    }
    if (n == 0) break;
    data.insert(data.end(), buffer, buffer + n);
  }
  ::close(fd);
  out = std::move(data);
  return os::kSuccess;
}

os::OsError PosixFileSystem::ListDirectory(std::string_view path,
                                           std::vector<os::FileEntry>& entries) {
  const std::string host = HostPath(path);
  DIR* dir = ::opendir(host.c_str());
  if (dir == nullptr) return FromErrno(errno);
  while (const dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    if (::stat((host + "/" + name).c_str(), &info) != 0) continue;  // removed meanwhile
    struct stat self {};
    const bool link = ::lstat((host + "/" + name).c_str(), &self) == 0 && S_ISLNK(self.st_mode);
    entries.push_back({name, S_ISDIR(info.st_mode), static_cast<std::uint64_t>(info.st_size),
                       FileTime(info), link});
  }
  ::closedir(dir);
  return os::kSuccess;
}

os::OsError PosixFileSystem::RemoveFile(std::string_view path) {
  return ::unlink(HostPath(path).c_str()) == 0 ? os::kSuccess : FromErrno(errno);
}

os::OsError PosixFileSystem::RemoveEmptyDirectory(std::string_view path) {
  return ::rmdir(HostPath(path).c_str()) == 0 ? os::kSuccess : FromErrno(errno);
}

}  // namespace orv::host
