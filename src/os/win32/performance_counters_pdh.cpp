// Performance counters through the performance data helper, PDH (Windows only).
//
// Under Wine 8 a "*" counter cannot be added (PDH_CSTATUS_NO_COUNTER) and
// PdhGetFormattedCounterArrayW is an unimplemented stub that ends the process when called; the
// arrays are only ever read from "*" counters, so there the agent reads zeros and goes on.
#include "os/win32/performance_counters_pdh.h"

#include "os/win32/windows_api.h"

#include <pdh.h>
#include <pdhmsg.h>

#include <utility>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

// Kept here rather than in unique_handle.h, so that only this adapter sees <pdh.h>.
struct PdhQueryTraits {
  using Handle = PDH_HQUERY;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::PdhCloseQuery(h); }
};
using UniquePdhQuery = UniqueHandle<PdhQueryTraits>;

// Loads are whole percentages, capped at 100, and rates whole packets.
constexpr DWORD kFormat = PDH_FMT_LONG;
// An array may grow between asking for its size and reading it (an adapter comes up); a few
// more tries cover that without looping for ever.
constexpr int kAttempts = 4;

os::OsError Code(PDH_STATUS status) { return static_cast<os::OsError>(static_cast<DWORD>(status)); }

bool HasValue(DWORD counterStatus) {
  return counterStatus == PDH_CSTATUS_VALID_DATA || counterStatus == PDH_CSTATUS_NEW_DATA;
}

// Reads an array of `Item`s with `read(size, count, buffer)` into a buffer of the size PDH asks
// for. The items' names point into the same buffer, so it is handed back with them.
template <typename Item, typename Read>
os::OsError ReadSized(Read read, std::unique_ptr<ULONGLONG[]>& buffer, DWORD& count) {
  buffer.reset();
  count = 0;
  os::OsError status = PDH_MORE_DATA;
  for (int attempt = 0; attempt < kAttempts && status == PDH_MORE_DATA; ++attempt) {
    // A size that was too small is not to be trusted as the new one; ask afresh each time.
    DWORD size = 0;
    status = Code(read(&size, &count, nullptr));
    if (status != PDH_MORE_DATA) {
      count = 0;  // without a buffer nothing was read: no instances, or a failure
      return status;
    }
    // The items hold 64-bit values; an array of them keeps the buffer aligned.
    buffer = std::make_unique<ULONGLONG[]>(size / sizeof(ULONGLONG) + 1);
    status = Code(read(&size, &count, reinterpret_cast<Item*>(buffer.get())));
  }
  if (status != ERROR_SUCCESS) {
    buffer.reset();
    count = 0;
  }
  return status;
}

std::string NameOf(const wchar_t* name) { return name != nullptr ? Narrow(name) : std::string(); }

class PdhQuery final : public os::CounterQuery {
 public:
  explicit PdhQuery(UniquePdhQuery query) : query_(std::move(query)) {}

  os::OsError AddEnglishCounter(std::string_view path, os::CounterId& id) override {
    // The English path is looked up in the system's language: PdhAddCounterW would need the
    // localised names and finds nothing on a Japanese system.
    PDH_HCOUNTER counter = nullptr;
    const os::OsError status = Code(::PdhAddEnglishCounterW(query_.get(), Wide(path).c_str(), 0, &counter));
    if (status != ERROR_SUCCESS) return status;
    id = static_cast<os::CounterId>(counters_.size());
    counters_.push_back(counter);
    return os::kSuccess;
  }

  os::OsError Collect() override { return Code(::PdhCollectQueryData(query_.get())); }

  os::OsError ReadArray(os::CounterId id, std::vector<os::CounterItem>& items) override {
    items.clear();
    if (id >= counters_.size()) return PDH_INVALID_HANDLE;
    const PDH_HCOUNTER counter = counters_[id];
    std::unique_ptr<ULONGLONG[]> buffer;
    DWORD count = 0;
    const os::OsError formatted = ReadSized<PDH_FMT_COUNTERVALUE_ITEM_W>(
        [counter](DWORD* size, DWORD* n, PDH_FMT_COUNTERVALUE_ITEM_W* out) {
          return ::PdhGetFormattedCounterArrayW(counter, kFormat, size, n, out);
        },
        buffer, count);
    if (formatted == ERROR_SUCCESS) {
      const auto* item = reinterpret_cast<const PDH_FMT_COUNTERVALUE_ITEM_W*>(buffer.get());
      for (DWORD i = 0; i < count; ++i) {
        os::CounterItem& out = items.emplace_back();
        out.instance = NameOf(item[i].szName);
        if (HasValue(item[i].FmtValue.CStatus)) {
          out.value = static_cast<std::int32_t>(item[i].FmtValue.longValue);
        } else {
          out.status = item[i].FmtValue.CStatus;
        }
      }
      return os::kSuccess;
    }
    // A rate after one sample cannot be formatted, and PDH may refuse the whole array for it;
    // the instances are still named by the raw values, which one sample gives.
    const os::OsError raw = ReadSized<PDH_RAW_COUNTER_ITEM_W>(
        [counter](DWORD* size, DWORD* n, PDH_RAW_COUNTER_ITEM_W* out) {
          return ::PdhGetRawCounterArrayW(counter, size, n, out);
        },
        buffer, count);
    if (raw != ERROR_SUCCESS) return formatted;
    const auto* item = reinterpret_cast<const PDH_RAW_COUNTER_ITEM_W*>(buffer.get());
    for (DWORD i = 0; i < count; ++i) items.push_back({NameOf(item[i].szName), formatted, 0});
    return os::kSuccess;
  }

  os::OsError ReadValue(os::CounterId id, std::int32_t& value) override {
    if (id >= counters_.size()) return PDH_INVALID_HANDLE;
    PDH_FMT_COUNTERVALUE formatted{};
    const os::OsError status = Code(::PdhGetFormattedCounterValue(counters_[id], kFormat, nullptr, &formatted));
    if (status != ERROR_SUCCESS) return status;
    if (!HasValue(formatted.CStatus)) return formatted.CStatus;
    value = static_cast<std::int32_t>(formatted.longValue);
    return os::kSuccess;
  }

 private:
  UniquePdhQuery query_;
  // Owned by the query: closing it removes them.
  std::vector<PDH_HCOUNTER> counters_;
};

}  // namespace

os::OsError PdhPerformanceCounters::OpenQuery(std::unique_ptr<os::CounterQuery>& query) {
  query.reset();
  UniquePdhQuery handle;
  const os::OsError status = Code(::PdhOpenQueryW(nullptr, 0, handle.Receive()));
  if (status != ERROR_SUCCESS) return status;
  query = std::make_unique<PdhQuery>(std::move(handle));
  return os::kSuccess;
}

}  // namespace orv::win32
