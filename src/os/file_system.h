// Files and folders: the message pool, the event definition file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"
#include "os/os_result.h"

namespace orv::os {

// Last-write times are FILETIME values: 100-nanosecond units since 1601-01-01 UTC.
struct FileEntry {
  std::string name;  // without the folder
  bool isDirectory = false;
  std::uint64_t size = 0;
  std::uint64_t lastWriteTime = 0;
  // A junction or symbolic link: removing it removes the link, never what it points to.
  bool isLink = false;
};

enum class CreateMode : std::uint8_t {
  ReplaceExisting,  // an existing file of the name is overwritten
  NewOnly,          // an existing file of the name makes the write fail (kErrorFileExists)
};

inline constexpr OsError kErrorFileExists = 80;
inline constexpr OsError kErrorAlreadyExists = 183;

// --- Holding what the agent checks, in folders other users can reach ---
// Between a check and the act that relies on it, someone else may swap a folder for a link or
// rewrite a file; what is checked is therefore held open, and acted on through the hold.

inline constexpr OsError kErrorSharingViolation = 32;
inline constexpr OsError kErrorInvalidOwner = 1307;

// Who owns a file or folder, as far as the agent cares. Self: the account the agent runs as
// (SYSTEM for the service itself, so the same as System there).
enum class PathOwner : std::uint8_t { System, Administrators, Self, Other };

// A file, folder or link opened as itself (a link is never followed) and held until
// destroyed: meanwhile no one else can remove or rename it.
class HeldPath {
 public:
  virtual ~HeldPath() = default;
  // True when what is held is a junction or symbolic link, as the open handle tells it.
  virtual bool IsLink() = 0;
  // The owner of what is held (of a link itself); Other when it cannot be read.
  virtual PathOwner Owner() = 0;
  // Renames what is held (a link as itself) to `path` on the same volume; fails when `path`
  // exists.
  virtual OsError MoveTo(std::string_view path) = 0;
  // Removes what is held: a link as itself, never what it points to; a folder only when empty.
  virtual OsError Remove() = 0;
};

// A file held open for reading: others may read it, never write, remove or rename it.
class ReadHold {
 public:
  virtual ~ReadHold() = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True when `path` names an existing file (not a folder).
  virtual bool FileExists(std::string_view path) = 0;
  // True when `path` names an existing folder.
  virtual bool DirectoryExists(std::string_view path) = 0;
  // True when `path` itself is a junction or symbolic link (not followed).
  virtual bool IsLink(std::string_view path) = 0;
  // Creates one folder level; its parent must exist.
  virtual OsError MakeDirectory(std::string_view path) = 0;
  // Creates the file with exclusive access and writes all of `data`; a failed write leaves no
  // partial file behind.
  virtual OsError WriteWholeFile(std::string_view path, std::span<const std::uint8_t> data,
                                 CreateMode mode) = 0;
  // Reads the whole file into `out` (left unchanged on failure).
  virtual OsError ReadWholeFile(std::string_view path, std::vector<std::uint8_t>& out) = 0;
  // The entries of a folder, without "." and "..", in no particular order.
  virtual OsError ListDirectory(std::string_view path, std::vector<FileEntry>& entries) = 0;
  virtual OsError RemoveFile(std::string_view path) = 0;
  // Removes a folder that holds nothing.
  virtual OsError RemoveEmptyDirectory(std::string_view path) = 0;

  // --- Files that hold secrets ---
  // Creates a new file (kErrorFileExists when the name exists) with the security descriptor
  // `sddl` (SDDL text) from its first moment, and writes all of `data`; a failed write leaves
  // no file behind.
  virtual OsError WriteNewSecuredFile(std::string_view path, std::span<const std::uint8_t> data,
                                      std::string_view sddl) = 0;
  // Renames the file `from` to `to` in one step, replacing a file `to` (same folder): a reader
  // of `to` finds the old file or the new one, never part of one. `to` then has the security
  // `from` had.
  virtual OsError ReplaceWith(std::string_view from, std::string_view to) = 0;
  // --- Holding what the agent checks (see HeldPath) ---
  // Creates one folder level that only SYSTEM and Administrators may use, with full control
  // over it and over what is created in it; it inherits nothing from its parent.
  virtual OsError MakePrivateDirectory(std::string_view path) = 0;
  // Holds `path` itself, to check it and then move or remove it.
  virtual OsResult<HeldPath> HoldPath(std::string_view path) = 0;
  // Holds the file `path` so that what was read of it stays what it is.
  virtual OsResult<ReadHold> HoldForReading(std::string_view path) = 0;
};

}  // namespace orv::os
