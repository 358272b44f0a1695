// The Virtual Disk Service through its COM interfaces (Windows only): the service loaded on the
// local machine, its readiness asked a bounded number of times, then the packs of its software
// providers with their disks and volumes, and the drive-letter list.
#include "os/win32/virtual_disk_service_vds.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

// clang-format off
#include "os/win32/windows_api.h"
#include <ole2.h>
// MinGW's <vds.h> defines the LUN records itself and then includes <vdslun.h>, which defines
// them again; its include guard, set here, keeps the second copy out.
#define __vdslun_h__
#include <vds.h>
// clang-format on

#include "os/win32/com_owners.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

// MinGW's <vds.h> has the property records but neither the interfaces nor their GUIDs, so what
// is used here is declared here, with the values and method order of the Windows SDK's vds.idl.
// Each interface declares its methods up to the last one called: callers reach only that prefix
// of the table.
constexpr GUID kLoaderClass = {0x9c38ed61, 0xd565, 0x4728, {0xae, 0xee, 0xc8, 0x09, 0x52, 0xf0, 0xec, 0xde}};
constexpr GUID kServiceLoaderInterface = {0xe0393303, 0x90d4, 0x4a97, {0xab, 0x71, 0xe9, 0xb6, 0x71, 0xee, 0x27, 0x29}};
constexpr GUID kSwProviderInterface = {0x9aa58360, 0xce33, 0x4f92, {0xb6, 0x58, 0xed, 0x24, 0xb1, 0x44, 0x25, 0xb8}};
constexpr GUID kPackInterface = {0x3b69d7f5, 0x9d94, 0x4648, {0x91, 0xca, 0x79, 0x93, 0x9b, 0xa2, 0x63, 0xbf}};
constexpr GUID kDiskInterface = {0x07e5c822, 0xf00c, 0x47a1, {0x8f, 0xce, 0xb2, 0x44, 0xda, 0x56, 0xfd, 0x06}};
constexpr GUID kVolumeInterface = {0x88306bb2, 0xe71f, 0x478c, {0x86, 0xa2, 0x79, 0xda, 0x20, 0x0a, 0x0f, 0x11}};
constexpr GUID kVolumeMfInterface = {0xee2d5ded, 0x6236, 0x4169, {0x93, 0x1d, 0xb9, 0x77, 0x8c, 0xe0, 0x3d, 0xc6}};
constexpr GUID kVolumePlexInterface = {0x4daa0135, 0xe1d1, 0x40f1, {0xaa, 0xa5, 0x3c, 0xc1, 0xe5, 0x32, 0x21, 0xc3}};

// COM interfaces are released, never deleted through a base, and their vtables have no room for
// a destructor: the warning about non-virtual destructors does not apply to them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// IEnumVdsObject.
struct EnumVdsObject : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IUnknown** objects, ULONG* fetched) = 0;
};

// IVdsService.
struct VdsService : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE IsServiceReady() = 0;
  virtual HRESULT STDMETHODCALLTYPE WaitForServiceReady() = 0;  // never called: it waits without limit
  virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_SERVICE_PROP* properties) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryProviders(DWORD masks, EnumVdsObject** providers) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryMaskedDisks(EnumVdsObject** disks) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryUnallocatedDisks(EnumVdsObject** disks) = 0;
  // GetObject, a macro of <windows.h>.
  virtual HRESULT STDMETHODCALLTYPE ObjectById(VDS_OBJECT_ID id, VDS_OBJECT_TYPE type, IUnknown** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryDriveLetters(WCHAR firstLetter, DWORD count,
                                                      VDS_DRIVE_LETTER_PROP* letters) = 0;
};

// IVdsServiceLoader.
struct VdsServiceLoader : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE LoadService(LPWSTR machineName, VdsService** service) = 0;
};

// IVdsSwProvider.
struct VdsSwProvider : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryPacks(EnumVdsObject** packs) = 0;
};

// IVdsPack.
struct VdsPack : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_PACK_PROP* properties) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProvider(IUnknown** provider) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryVolumes(EnumVdsObject** volumes) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryDisks(EnumVdsObject** disks) = 0;
};

// IVdsDisk.
struct VdsDisk : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_DISK_PROP* properties) = 0;
};

// IVdsVolume.
struct VdsVolume : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_VOLUME_PROP* properties) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPack(VdsPack** pack) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryPlexes(EnumVdsObject** plexes) = 0;
};

// IVdsVolumeMF.
struct VdsVolumeMf : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetFileSystemProperties(VDS_FILE_SYSTEM_PROP* properties) = 0;
};

// IVdsVolumePlex.
struct VdsVolumePlex : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_VOLUME_PLEX_PROP* properties) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVolume(VdsVolume** volume) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryExtents(VDS_DISK_EXTENT** extents, LONG* count) = 0;
};

#pragma GCC diagnostic pop

// The service answers "not ready" while it starts its providers; it is asked this often, this
// many times (10 s in all), since WaitForServiceReady would wait without limit.
constexpr DWORD kReadyPollMs = 200;
constexpr int kReadyPolls = 50;
// An enumerator ends with S_FALSE; one that never does is not followed beyond this.
constexpr int kMostObjects = 4096;
constexpr DWORD kDriveLetters = 26;

// A property record with the strings the service allocated for it, freed with the record.
void FreeStrings(VDS_DISK_PROP& p) {
  for (LPWSTR text : {p.pwszDiskAddress, p.pwszName, p.pwszFriendlyName, p.pwszAdaptorName, p.pwszDevicePath}) {
    ::CoTaskMemFree(text);
  }
}
void FreeStrings(VDS_VOLUME_PROP& p) { ::CoTaskMemFree(p.pwszName); }
void FreeStrings(VDS_FILE_SYSTEM_PROP& p) { ::CoTaskMemFree(p.pwszLabel); }

template <typename Record>
class Properties {
 public:
  Properties() = default;
  Properties(const Properties&) = delete;
  Properties& operator=(const Properties&) = delete;
  ~Properties() { FreeStrings(record_); }
  Record* Receive() { return &record_; }  // once: the record must still be empty
  const Record* operator->() const { return &record_; }

 private:
  Record record_{};
};

std::string Text(const wchar_t* text) { return text ? Narrow(text) : std::string(); }

std::string GuidText(const GUID& id) {
  wchar_t text[39] = {};  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" and its end
  return ::StringFromGUID2(id, text, 39) > 0 ? Narrow(text) : std::string();
}

// Calls `visit` with each object that `query` lists and that has the interface `iid`. A query
// that fails lists nothing.
template <typename Interface, typename Query, typename Visit>
void ForEachObject(Query query, const GUID& iid, Visit visit) {
  UniqueCom<EnumVdsObject> objects;
  if (FAILED(query(objects.Receive())) || !objects) return;
  for (int i = 0; i < kMostObjects; ++i) {
    UniqueCom<IUnknown> object;
    ULONG fetched = 0;
    if (objects.get()->Next(1, object.Receive(), &fetched) != S_OK || fetched != 1 || !object) return;
    UniqueCom<Interface> wanted;
    if (SUCCEEDED(object.get()->QueryInterface(iid, reinterpret_cast<void**>(wanted.Receive()))) && wanted) {
      visit(wanted.get());
    }
  }
}

HRESULT WaitUntilReady(VdsService* service) {
  for (int poll = 1;; ++poll) {
    const HRESULT hr = service->IsServiceReady();
    if (hr == S_OK || FAILED(hr)) return hr;
    if (poll == kReadyPolls) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    ::Sleep(kReadyPollMs);
  }
}

HRESULT LoadReadyService(UniqueCom<VdsService>& service) {
  UniqueCom<VdsServiceLoader> loader;
  HRESULT hr = ::CoCreateInstance(kLoaderClass, nullptr, CLSCTX_LOCAL_SERVER, kServiceLoaderInterface,
                                  reinterpret_cast<void**>(loader.Receive()));
  if (FAILED(hr = FailureOr(hr, static_cast<bool>(loader)))) return hr;
  hr = loader.get()->LoadService(nullptr, service.Receive());
  if (FAILED(hr = FailureOr(hr, static_cast<bool>(service)))) return hr;
  return WaitUntilReady(service.get());
}

void AddDisk(VdsDisk* disk, std::vector<os::VdsDiskRecord>& disks) {
  Properties<VDS_DISK_PROP> p;
  if (FAILED(disk->GetProperties(p.Receive()))) return;
  std::string id = GuidText(p->id);
  const auto sameId = [&id](const os::VdsDiskRecord& known) { return known.id == id; };
  if (std::any_of(disks.begin(), disks.end(), sameId)) return;
  disks.push_back({std::move(id), static_cast<std::uint32_t>(p->status), static_cast<std::uint32_t>(p->health),
                   p->dwMediaType, static_cast<std::uint32_t>(p->BusType),
                   static_cast<std::uint32_t>(p->PartitionStyle), Text(p->pwszDiskAddress), Text(p->pwszName),
                   Text(p->pwszFriendlyName)});
}

std::uint32_t FileSystemType(VdsVolume* volume) {
  UniqueCom<VdsVolumeMf> mountable;
  if (FAILED(volume->QueryInterface(kVolumeMfInterface, reinterpret_cast<void**>(mountable.Receive()))) ||
      !mountable) {
    return 0;
  }
  Properties<VDS_FILE_SYSTEM_PROP> p;
  if (FAILED(mountable.get()->GetFileSystemProperties(p.Receive()))) return 0;
  return static_cast<std::uint32_t>(p->type);
}

std::vector<std::string> ExtentDiskIds(VdsVolume* volume) {
  std::vector<std::string> ids;
  const auto plexes = [volume](EnumVdsObject** out) { return volume->QueryPlexes(out); };
  ForEachObject<VdsVolumePlex>(plexes, kVolumePlexInterface, [&ids](VdsVolumePlex* plex) {
    UniqueCoTaskMem<VDS_DISK_EXTENT> extents;
    LONG count = 0;
    if (FAILED(plex->QueryExtents(extents.Receive(), &count)) || !extents || count <= 0) return;
    for (const VDS_DISK_EXTENT& extent : std::span(extents.get(), static_cast<std::size_t>(count))) {
      ids.push_back(GuidText(extent.diskId));
    }
  });
  return ids;
}

void AddVolume(VdsVolume* volume, std::vector<os::VdsVolumeRecord>& volumes) {
  Properties<VDS_VOLUME_PROP> p;
  if (FAILED(volume->GetProperties(p.Receive()))) return;
  os::VdsVolumeRecord record;
  record.id = GuidText(p->id);
  record.name = Text(p->pwszName);
  record.type = static_cast<std::uint32_t>(p->type);
  record.status = static_cast<std::uint32_t>(p->status);
  record.health = static_cast<std::uint32_t>(p->health);
  record.fileSystemType = FileSystemType(volume);
  record.extentDiskIds = ExtentDiskIds(volume);
  volumes.push_back(std::move(record));
}

void AddPack(VdsPack* pack, os::VdsSnapshot& snapshot) {
  const auto disks = [pack](EnumVdsObject** out) { return pack->QueryDisks(out); };
  ForEachObject<VdsDisk>(disks, kDiskInterface, [&snapshot](VdsDisk* disk) { AddDisk(disk, snapshot.disks); });
  const auto volumes = [pack](EnumVdsObject** out) { return pack->QueryVolumes(out); };
  ForEachObject<VdsVolume>(volumes, kVolumeInterface,
                           [&snapshot](VdsVolume* volume) { AddVolume(volume, snapshot.volumes); });
}

void AddProviders(VdsService* service, os::VdsSnapshot& snapshot) {
  const auto providers = [service](EnumVdsObject** out) {
    return service->QueryProviders(VDS_QUERY_SOFTWARE_PROVIDERS, out);
  };
  ForEachObject<VdsSwProvider>(providers, kSwProviderInterface, [&snapshot](VdsSwProvider* provider) {
    const auto packs = [provider](EnumVdsObject** out) { return provider->QueryPacks(out); };
    ForEachObject<VdsPack>(packs, kPackInterface, [&snapshot](VdsPack* pack) { AddPack(pack, snapshot); });
  });
}

void AddDriveLetters(VdsService* service, std::vector<os::VdsDriveLetter>& letters) {
  std::vector<VDS_DRIVE_LETTER_PROP> found(kDriveLetters);
  if (FAILED(service->QueryDriveLetters(L'A', kDriveLetters, found.data()))) return;
  for (const VDS_DRIVE_LETTER_PROP& entry : found) {
    const bool used = entry.bUsed != FALSE;
    letters.push_back({static_cast<char16_t>(entry.wcLetter), used ? GuidText(entry.volumeId) : std::string(), used});
  }
}

}  // namespace

bool VdsDiskService::Enumerate(os::VdsSnapshot& snapshot, os::OsError& error) {
  snapshot = {};
  if (missingClassAnswers_ > 0) {
    --missingClassAnswers_;
    error = static_cast<os::OsError>(REGDB_E_CLASSNOTREG);
    return false;
  }
  const CallApartment apartment;  // declared first: left after everything below is released
  if (FAILED(apartment.Failure())) {
    error = static_cast<os::OsError>(apartment.Failure());
    return false;
  }
  UniqueCom<VdsService> service;
  const HRESULT hr = LoadReadyService(service);
  if (FAILED(hr)) {
    if (hr == REGDB_E_CLASSNOTREG) missingClassAnswers_ = kMissingClassLookupEvery - 1;
    error = static_cast<os::OsError>(hr);
    return false;
  }
  AddProviders(service.get(), snapshot);
  AddDriveLetters(service.get(), snapshot.driveLetters);
  error = os::kSuccess;
  return true;
}

}  // namespace orv::win32
