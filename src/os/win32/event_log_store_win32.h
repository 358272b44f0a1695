// Event-log reading adapter over the Evt* API of wevtapi (Windows only).
//
// Under Wine 8 EvtQuery fails and every Evt* function past it aborts the process, so nothing
// here calls one without a handle that came from a successful EvtQuery (bookmarks are only
// made by callers that hold an open query).
#pragma once

#include "os/event_log_store.h"

namespace orv::win32 {

class Win32EventLogStore final : public os::EventLogStore {
 public:
  os::OsResult<os::EventQuery> Query(std::string_view channel, std::string_view filter,
                                     os::QueryDirection direction) override;
  os::OsError NextEntries(os::EventQuery& query, std::size_t maxCount,
                          std::vector<std::unique_ptr<os::EventEntry>>& entries) override;
  os::OsError Seek(os::EventQuery& query, os::SeekOrigin origin, std::int64_t offset) override;
  os::OsError SeekToBookmark(os::EventQuery& query, const os::EventBookmark& bookmark,
                             std::int64_t offset) override;
  os::OsResult<os::EventBookmark> NewBookmark(std::string_view xml) override;
  os::OsError UpdateBookmark(os::EventBookmark& bookmark, const os::EventEntry& entry) override;
  os::OsError RenderBookmark(const os::EventBookmark& bookmark, std::string& xml) override;
  os::OsError RenderSystem(const os::EventEntry& entry, os::EventSystemProperties& out) override;
  os::OsError RenderUser(const os::EventEntry& entry, std::vector<os::EventValue>& out) override;
  os::OsError FormatEventMessage(const os::EventEntry& entry, std::string_view providerName,
                                 std::string& text) override;
};

}  // namespace orv::win32
