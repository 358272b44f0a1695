// An in-memory file system with Windows path rules: backslashes, names compared without
// regard to ASCII case, folders that must exist before what goes in them. Writes are stamped
// with the clock's time (FILETIME, UTC).
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "fakes/fake_clock.h"
#include "os/file_system.h"

namespace orv::fakes {

class FakeFileSystem final : public os::FileSystem {
 public:
  explicit FakeFileSystem(os::Clock& clock) : clock_(clock) {}

  bool FileExists(std::string_view path) override { return Exists(path, false); }
  bool DirectoryExists(std::string_view path) override { return Exists(path, true); }
  bool IsLink(std::string_view path) override;
  os::OsError MakeDirectory(std::string_view path) override;
  os::OsError WriteWholeFile(std::string_view path, std::span<const std::uint8_t> data,
                             os::CreateMode mode) override;
  os::OsError ReadWholeFile(std::string_view path, std::vector<std::uint8_t>& out) override;
  os::OsError ListDirectory(std::string_view path, std::vector<os::FileEntry>& entries) override;
  os::OsError RemoveFile(std::string_view path) override;
  os::OsError RemoveEmptyDirectory(std::string_view path) override;

  // --- Holding what the agent checks ---
  // A held path cannot be removed, replaced or renamed by a path-based call (sharing
  // violation); only through its hold.
  os::OsError MakePrivateDirectory(std::string_view path) override;
  os::OsResult<os::HeldPath> HoldPath(std::string_view path) override;
  os::OsResult<os::ReadHold> HoldForReading(std::string_view path) override;

  // Test set-up and inspection.
  void AddDirectory(std::string_view path);  // with its parents
  void AddFile(std::string_view path, std::string_view content, std::uint64_t lastWriteTime = 0);
  std::optional<std::string> Content(std::string_view path) const;
  // Paths of the files directly in a folder, sorted.
  std::vector<std::string> FilesIn(std::string_view folder) const;
  // Calls that create, write or remove anything, whether or not they succeeded.
  int changeAttempts() const {
    std::lock_guard lock(mutex_);
    return changeAttempts_;
  }
  void ClearRecords() {
    std::lock_guard lock(mutex_);
    removedFiles = {};
  }

  os::OsError writeError = os::kSuccess;   // every write fails with it while set
  os::OsError makeDirectoryError = os::kSuccess;
  std::set<std::string> undeletable;       // lower-cased paths whose removal fails
  // Lower-cased paths of folders that are junctions: what lies below one stands for the
  // target's content; removing the junction drops it from view without removing it.
  std::set<std::string> links;
  std::vector<std::string> removedFiles;    // every path RemoveFile removed, in order

  // Files that hold secrets: the descriptor each was created with, and the renames.
  os::OsError WriteNewSecuredFile(std::string_view path, std::span<const std::uint8_t> data,
                                  std::string_view sddl) override;
  os::OsError ReplaceWith(std::string_view from, std::string_view to) override;
  // The SDDL a file was created with; nullopt for one created without (it inherits).
  std::optional<std::string> SecurityOf(std::string_view path) const;
  os::OsError replaceError = os::kSuccess;
  // Runs just before a rename takes effect, without the lock: what another process could do
  // or see in that moment.
  std::function<void()> beforeReplace;
  // --- Owners, private folders and races ---
  // Owners by lower-cased path; what has no entry belongs to Administrators.
  std::map<std::string, os::PathOwner> owners;
  os::PathOwner ownerOfNewFolders = os::PathOwner::System;  // what MakePrivateDirectory's folder gets
  std::set<std::string> privateFolders;  // lower-cased paths MakePrivateDirectory made
  // Runs after each listing, with the folder listed: another user acting in between.
  std::function<void(const std::string& folder)> afterListing;
  // Another user replaces the folder `path` with a junction (what lies below it is gone from
  // view); fails with a sharing violation while it is held.
  os::OsError ReplaceWithLink(std::string_view path);
  bool IsHeld(std::string_view path) const;

 private:
  class Held;
  class Reading;
  void Release(const std::string& key);
  bool Exists(std::string_view path, bool directory) const;
  // Removes a file, a folder (a link: only the link), or either (`directory` unset).
  os::OsError RemoveLocked(const std::string& key, std::optional<bool> directory, bool throughHold);
  os::OsError ListLocked(const std::string& key, std::vector<os::FileEntry>& entries);

  struct Node {
    std::string path;  // as first written
    bool isDirectory = false;
    std::string data;
    std::uint64_t lastWriteTime = 0;
  };
  static std::string Key(std::string_view path);
  static std::string Parent(const std::string& key);
  std::uint64_t Now();

  os::Clock& clock_;
  mutable std::mutex mutex_;
  std::map<std::string, Node> nodes_;
  int changeAttempts_ = 0;
  std::map<std::string, std::string> security_;  // by key
  std::map<std::string, int> holds_;  // by lower-cased path
};

}  // namespace orv::fakes
