#include "os/win32/event_reporter_win32.h"

#include "os/win32/wide_text.h"

namespace orv::win32 {

os::OsError Win32EventReporter::Report(std::string_view source, os::EventKind kind,
                                       std::uint32_t eventId, std::string_view text) {
  const std::wstring insertion = Wide(text);
  LPCWSTR strings[] = {insertion.c_str()};
  std::lock_guard lock(mutex_);
  // A kept registration that no longer works (the event log service restarted) is replaced once.
  for (int attempt = 0;; ++attempt) {
    auto kept = sources_.find(source);
    const bool fresh = kept == sources_.end();
    if (fresh) {
      UniqueEventSource registered(::RegisterEventSourceW(nullptr, Wide(source).c_str()));
      if (!registered) return ::GetLastError();
      kept = sources_.emplace(std::string(source), std::move(registered)).first;
    }
    if (::ReportEventW(kept->second.get(), static_cast<WORD>(kind), 0, eventId, nullptr, 1, 0, strings,
                       nullptr)) {
      return os::kSuccess;
    }
    const DWORD error = ::GetLastError();
    sources_.erase(kept);
    if (fresh || attempt > 0) return error;
  }
}

}  // namespace orv::win32
