#include "os/win32/event_reporter_win32.h"

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {

os::OsError Win32EventReporter::Report(std::string_view source, os::EventKind kind,
                                       std::uint32_t eventId, std::string_view text) {
  UniqueEventSource eventSource(::RegisterEventSourceW(nullptr, Wide(source).c_str()));
  if (!eventSource) return ::GetLastError();
  const std::wstring insertion = Wide(text);
  LPCWSTR strings[] = {insertion.c_str()};
  if (!::ReportEventW(eventSource.get(), static_cast<WORD>(kind), 0, eventId, nullptr, 1, 0,
                      strings, nullptr)) {
    return ::GetLastError();
  }
  return os::kSuccess;
}

}  // namespace orv::win32
