// The storage layout as a test lays it out: the Virtual Disk Service's snapshot, the volumes'
// free space and file systems, and the encryption product's query library.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/fake_helpers.h"
#include "os/encryption_library.h"
#include "os/virtual_disk_service.h"
#include "os/volume_queries.h"

namespace orv::fakes {

// Until a test lays out disks, the service is missing as on a machine without it: a pass
// neither finds its bays empty nor reads a disk.
class FakeVirtualDiskService final : public os::VirtualDiskService {
 public:
  bool Enumerate(os::VdsSnapshot& out, os::OsError& error) override {
    ++enumerations;
    out = {};
    if (error_ != 0) return Fails(error, error_);
    out = snapshot;
    error = 0;
    return true;
  }
  void FailWith(os::OsError code) { error_ = code; }
  void Serve(os::VdsSnapshot disksAndVolumes) {
    snapshot = std::move(disksAndVolumes);
    error_ = 0;
  }

  os::VdsSnapshot snapshot;
  int enumerations = 0;

 private:
  os::OsError error_ = 0x80040154;  // REGDB_E_CLASSNOTREG, as where the service is not installed
};

class FakeVolumeQueries final : public os::VolumeQueries {
 public:
  struct Volume {
    os::VolumeSpace space;
    std::string fileSystem = "NTFS";
    os::OsError spaceError = 0;
  };

  bool QuerySpace(std::string_view root, os::VolumeSpace& space, os::OsError& error) override {
    const Volume* volume = Find(root, error);
    if (!volume) return false;
    if (volume->spaceError != 0) return Fails(error, volume->spaceError);
    space = volume->space;
    return true;
  }
  bool QueryFileSystemName(std::string_view root, std::string& name, os::OsError& error) override {
    name.clear();
    const Volume* volume = Find(root, error);
    if (!volume) return false;
    name = volume->fileSystem;
    return true;
  }

  std::map<std::string, Volume, std::less<>> volumes;  // by root, "D:\"; others are not ready (21)

 private:
  const Volume* Find(std::string_view root, os::OsError& error) const {
    const auto it = volumes.find(root);
    if (it != volumes.end()) return &it->second;
    error = 21;
    return nullptr;
  }
};

class FakeEncryptionLibrary final : public os::EncryptionLibrary {
 public:
  bool IsLoaded() const override { return loaded; }
  os::OsError Load(std::string_view path) override {
    loads.emplace_back(path);
    if (installedAt.empty() || path != installedAt) return os::kErrorFileNotFound;
    loaded = true;
    return 0;
  }
  void Unload() override {
    ++unloads;
    loaded = false;
  }
  std::uint32_t GetDriveNoByGUID(std::string_view volumeId, std::uint32_t& driveNumber) override {
    if (!loaded) return os::kEncryptionQueryUnavailable;
    const auto it = driveNumbers.find(volumeId);
    if (it == driveNumbers.end()) return 1;
    driveNumber = it->second;
    return 0;
  }

  std::string installedAt;  // the one path the library loads from; empty: nowhere
  std::map<std::string, std::uint32_t, std::less<>> driveNumbers;  // by volume identifier
  bool loaded = false;
  std::vector<std::string> loads;
  int unloads = 0;
};

}  // namespace orv::fakes
