#include "os/win32/windows_update_wua.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <optional>

// clang-format off
#include "os/win32/windows_api.h"
#include <ole2.h>
#include <oleauto.h>
#include <wuapi.h>
// clang-format on

#include "os/win32/com_owners.h"

namespace orv::win32 {
namespace {

// MinGW has no import library with the Windows Update GUIDs, and its <wuapi.h> stops short of
// the interfaces Windows Vista added, so what is used here is declared here, with the values
// and layouts of the Windows SDK's wuapi.idl.
constexpr GUID kUnknownInterface = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kUpdateSessionClass = {0x4cb43d7f, 0x7eee, 0x4906, {0x86, 0x98, 0x60, 0xda, 0x1c, 0x38, 0xf2, 0xfe}};
constexpr GUID kUpdateSessionInterface = {0x816858a4, 0x260d, 0x4260, {0x93, 0x3a, 0x25, 0x85, 0xf1, 0xab, 0xc7, 0x6b}};
constexpr GUID kAutomaticUpdatesClass = {0xbfe18e9c, 0x6d87, 0x4450, {0xb3, 0x7c, 0xe0, 0x2f, 0x0b, 0x37, 0x38, 0x03}};
constexpr GUID kAutomaticUpdates2Interface = {0x4a2f5c31, 0xcfd9, 0x410e, {0xb7, 0xfb, 0x29, 0xa6, 0x53, 0x97, 0x3a, 0x0f}};
constexpr GUID kSearchCompletedCallbackInterface = {
    0x88aee058, 0xd4b0, 0x4725, {0xa2, 0xf1, 0x81, 0x4a, 0x67, 0xae, 0x96, 0x4c}};

// COM interfaces are released, never deleted through a base, and their vtables have no room for
// a destructor: the warning about non-virtual destructors does not apply to them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// IAutomaticUpdatesResults.
struct AutomaticUpdatesResults : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_LastSearchSuccessDate(VARIANT* retval) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LastInstallationSuccessDate(VARIANT* retval) = 0;
};

// IAutomaticUpdates2: IAutomaticUpdates and its results.
struct AutomaticUpdates2 : public IAutomaticUpdates {
  virtual HRESULT STDMETHODCALLTYPE get_Results(AutomaticUpdatesResults** retval) = 0;
};

// ISearchCompletedCallback.
struct SearchCompletedCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ISearchJob* searchJob, IUnknown* callbackArgs) = 0;
};

constexpr const char* kPendingSoftwareCriteria = "Type='Software' and IsInstalled=0";
// How often the search job is asked whether it completed, which is also the longest a stop
// waits to be noticed.
constexpr DWORD kPollMs = 250;
// How long an aborted search is given to wind down before it is released unfinished.
constexpr ULONGLONG kAbortGraceMs = 10'000;

// BeginSearch wants a completion callback; completion is read from the job instead, so this
// one has nothing to do. The agent may call and release it on any thread, also after Search
// has returned, so it counts its own references.
class IgnoredSearchCompletion final : public SearchCompletedCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == kUnknownInterface || iid == kSearchCompletedCallbackInterface) {
      *object = static_cast<SearchCompletedCallback*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(ISearchJob* /*searchJob*/, IUnknown* /*callbackArgs*/) override { return S_OK; }

 private:
  ~IgnoredSearchCompletion() = default;  // only Release ends it

  std::atomic<ULONG> references_{1};
};

#pragma GCC diagnostic pop

bool IsCompleted(ISearchJob* job, HRESULT& hr) {
  VARIANT_BOOL completed = VARIANT_FALSE;
  hr = job->get_IsCompleted(&completed);
  return SUCCEEDED(hr) && completed != VARIANT_FALSE;
}

// Asks the job to abort and gives it a short grace to finish, so that it can be ended and
// cleaned up. CleanUp waits for the operation without limit, so a job that has not finished
// by then is released unfinished: the callback it still holds owns itself.
void Abort(IUpdateSearcher* searcher, ISearchJob* job) {
  (void)job->RequestAbort();
  const ULONGLONG deadline = ::GetTickCount64() + kAbortGraceMs;
  HRESULT hr = S_OK;
  while (!IsCompleted(job, hr)) {
    if (FAILED(hr) || ::GetTickCount64() >= deadline) return;
    ::Sleep(kPollMs);
  }
  UniqueCom<ISearchResult> ignored;
  (void)searcher->EndSearch(job, ignored.Receive());
  (void)job->CleanUp();
}

std::vector<os::RestartNeed> RestartNeeds(IUpdateCollection* updates, LONG count) {
  std::vector<os::RestartNeed> needs;
  for (LONG i = 0; i < count; ++i) {
    UniqueCom<IUpdate> update;
    if (FAILED(updates->get_Item(i, update.Receive())) || !update) continue;
    UniqueCom<IInstallationBehavior> behaviour;
    if (FAILED(update.get()->get_InstallationBehavior(behaviour.Receive())) || !behaviour) continue;
    InstallationRebootBehavior reboot = irbNeverReboots;
    if (FAILED(behaviour.get()->get_RebootBehavior(&reboot))) continue;
    switch (reboot) {
      case irbAlwaysRequiresReboot: needs.push_back(os::RestartNeed::Always); break;
      case irbCanRequestReboot: needs.push_back(os::RestartNeed::Possible); break;
      default: needs.push_back(os::RestartNeed::Never); break;
    }
  }
  return needs;
}

// A date of Automatic Updates (UTC) in the current time zone: nullopt for "never" (empty);
// false for a value that is no date.
bool LocalTime(const VARIANT& value, std::optional<os::CalendarTime>& local) {
  local.reset();
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return true;
  if (value.vt != VT_DATE) return false;
  SYSTEMTIME utc{};
  SYSTEMTIME zoned{};
  if (::VariantTimeToSystemTime(value.date, &utc) == FALSE) return false;
  if (::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &zoned) == FALSE) return false;
  local = os::CalendarTime{zoned.wYear, zoned.wMonth, zoned.wDayOfWeek, zoned.wDay,
                           zoned.wHour, zoned.wMinute, zoned.wSecond,    0};
  return true;
}

}  // namespace

os::UpdateResult WuaWindowsUpdate::Search(os::Event& stop, os::PendingUpdates& found) {
  const CallApartment apartment;  // declared first: left after everything below is released
  if (FAILED(apartment.Failure())) return apartment.Failure();

  UniqueCom<IUpdateSession> session;
  HRESULT hr = ::CoCreateInstance(kUpdateSessionClass, nullptr, CLSCTX_INPROC_SERVER, kUpdateSessionInterface,
                                  reinterpret_cast<void**>(session.Receive()));
  if (FAILED(hr = FailureOr(hr, static_cast<bool>(session)))) return hr;
  UniqueCom<IUpdateSearcher> searcher;
  hr = session.get()->CreateUpdateSearcher(searcher.Receive());
  if (FAILED(hr = FailureOr(hr, static_cast<bool>(searcher)))) return hr;

  const UniqueBstr criteria = MakeBstr(kPendingSoftwareCriteria);
  UniqueCom<SearchCompletedCallback> callback(new (std::nothrow) IgnoredSearchCompletion);
  if (!criteria || !callback) return E_OUTOFMEMORY;
  UniqueVariant state;  // empty: the job's state is not used
  UniqueCom<ISearchJob> job;
  hr = searcher.get()->BeginSearch(criteria.get(), callback.get(), *state, job.Receive());
  if (FAILED(hr = FailureOr(hr, static_cast<bool>(job)))) return hr;

  // The search runs on the agent's side; this thread only looks at it between waits on the
  // stop event, so a stop is seen within one poll whatever the update servers do.
  os::Event* const stopEvents[] = {&stop};
  while (!IsCompleted(job.get(), hr)) {
    if (FAILED(hr) || sync_.WaitAny(stopEvents, kPollMs) != os::kWaitTimeout) {
      Abort(searcher.get(), job.get());
      return FAILED(hr) ? hr : os::kUpdateAborted;
    }
  }

  UniqueCom<ISearchResult> result;
  hr = searcher.get()->EndSearch(job.get(), result.Receive());
  (void)job.get()->CleanUp();
  if (FAILED(hr = FailureOr(hr, static_cast<bool>(result)))) return hr;
  // A search that failed or was aborted on the agent's side can still end without an error,
  // with an empty list that would read as "nothing to install".
  OperationResultCode code = orcNotStarted;
  if (FAILED(hr = result.get()->get_ResultCode(&code))) return hr;
  if (code != orcSucceeded && code != orcSucceededWithErrors) return os::kUpdateFail;
  UniqueCom<IUpdateCollection> updates;
  hr = result.get()->get_Updates(updates.Receive());
  if (FAILED(hr = FailureOr(hr, static_cast<bool>(updates)))) return hr;
  LONG count = 0;
  if (FAILED(hr = updates.get()->get_Count(&count))) return hr;

  found.count = count > 0 ? static_cast<std::uint32_t>(count) : 0;
  found.restarts = RestartNeeds(updates.get(), count);
  return os::kUpdateOk;
}

os::AutoUpdateTimes WuaWindowsUpdate::LastSuccessTimes() {
  os::AutoUpdateTimes times;
  const CallApartment apartment;
  if (FAILED(times.result = apartment.Failure())) return times;

  UniqueCom<AutomaticUpdates2> automatic;
  HRESULT hr = ::CoCreateInstance(kAutomaticUpdatesClass, nullptr, CLSCTX_INPROC_SERVER, kAutomaticUpdates2Interface,
                                  reinterpret_cast<void**>(automatic.Receive()));
  if (FAILED(times.result = FailureOr(hr, static_cast<bool>(automatic)))) return times;
  UniqueCom<AutomaticUpdatesResults> results;
  hr = automatic.get()->get_Results(results.Receive());
  if (FAILED(times.result = FailureOr(hr, static_cast<bool>(results)))) return times;

  UniqueVariant installed;
  UniqueVariant searched;
  if (FAILED(times.result = results.get()->get_LastInstallationSuccessDate(installed.get())) ||
      FAILED(times.result = results.get()->get_LastSearchSuccessDate(searched.get()))) {
    return times;
  }
  if (!LocalTime(*installed, times.lastInstallation) || !LocalTime(*searched, times.lastSearch)) {
    times = {};
    times.result = DISP_E_TYPEMISMATCH;
  }
  return times;
}

}  // namespace orv::win32
