#include "platform/event_log.h"

#include <utility>

namespace orv {
namespace {

bool Fail(os::OsError* error, os::OsError code) {
  if (error != nullptr) *error = code;
  return false;
}

}  // namespace

std::unique_ptr<os::EventQuery> EventLog::OpenQuery(std::string_view channel,
                                                    std::string_view filter,
                                                    os::QueryDirection direction,
                                                    os::OsError* error) const {
  os::OsResult<os::EventQuery> query = store_->Query(channel, filter, direction);
  if (!query) Fail(error, query.error());
  return std::move(query).take();
}

bool EventLog::SeekToBookmark(os::EventQuery* query, os::OsError* error) {
  if (query == nullptr) return Fail(error, os::kErrorInvalidHandle);
  if (!bookmark_) return Fail(error, os::kErrorNotFound);
  const os::OsResult<os::EventBookmark> bookmark = store_->NewBookmark(bookmark_->text);
  if (!bookmark) return Fail(error, bookmark.error());
  os::OsError code = os::kSuccess;
  if (code = store_->SeekToBookmark(*query, *bookmark, 1); code != os::kSuccess) {
    return Fail(error, code);
  }
  if (!bookmark_->recordId) return true;

  // When nothing was written after the bookmarked entry, the log lands on that entry itself
  // instead of past it; reading it again would forward it twice. Look at what the seek found:
  // the bookmarked entry is consumed, anything else is put back by seeking again.
  std::vector<std::unique_ptr<os::EventEntry>> found;
  code = store_->NextEntries(*query, 1, found);
  if (code == os::kErrorNoMoreItems) return true;
  if (code != os::kSuccess) return Fail(error, code);
  os::EventSystemProperties properties;
  if (!found.empty() && store_->RenderSystem(*found.front(), properties) == os::kSuccess &&
      properties.recordId == *bookmark_->recordId) {
    return true;
  }
  if (code = store_->SeekToBookmark(*query, *bookmark, 1); code != os::kSuccess) {
    return Fail(error, code);
  }
  return true;
}

void EventLog::BookmarkNewest(std::string_view channel, std::string_view filter) {
  const auto query = OpenQuery(channel, filter, os::QueryDirection::OldestFirst);
  (void)SaveBookmark(query.get(), os::SeekOrigin::Last);
}

bool EventLog::ReadSinceBookmark(std::string_view channel, std::string_view filter,
                                 const std::function<void(const FetchedEntry&)>& each) {
  const auto query = OpenQuery(channel, filter, os::QueryDirection::OldestFirst);
  if (!query) return false;
  (void)SeekToBookmark(query.get());
  std::vector<FetchedEntry> batch;
  std::unique_ptr<os::EventEntry> lastRead;
  while (NextBatch(query.get(), batch)) {
    for (FetchedEntry& fetched : batch) {
      each(fetched);
      lastRead = std::move(fetched.entry);
    }
  }
  if (lastRead) (void)SaveBookmarkAt(*lastRead);
  return true;
}

bool EventLog::SaveBookmark(os::EventQuery* query, os::SeekOrigin origin, os::OsError* error) {
  if (query == nullptr) return Fail(error, os::kErrorInvalidHandle);
  bookmark_.reset();
  if (const os::OsError code = store_->Seek(*query, origin, 0); code != os::kSuccess) {
    return Fail(error, code);
  }
  std::vector<std::unique_ptr<os::EventEntry>> entries;
  if (const os::OsError code = store_->NextEntries(*query, 1, entries); code != os::kSuccess) {
    return Fail(error, code);
  }
  if (entries.empty()) return Fail(error, os::kErrorNoMoreItems);
  os::OsError code = os::kSuccess;
  std::optional<Bookmark> bookmark = BookmarkOf(*entries.front(), code);
  if (!bookmark) return Fail(error, code);
  bookmark_ = std::move(bookmark);
  return true;
}

bool EventLog::SaveBookmarkAt(const os::EventEntry& entry, os::OsError* error) {
  os::OsError code = os::kSuccess;
  std::optional<Bookmark> bookmark = BookmarkOf(entry, code);
  if (!bookmark) return Fail(error, code);
  bookmark_ = std::move(bookmark);
  return true;
}

std::optional<EventLog::Bookmark> EventLog::BookmarkOf(const os::EventEntry& entry,
                                                       os::OsError& error) const {
  const os::OsResult<os::EventBookmark> bookmark = store_->NewBookmark({});
  if (!bookmark) {
    error = bookmark.error();
    return std::nullopt;
  }
  if (error = store_->UpdateBookmark(*bookmark, entry); error != os::kSuccess) return std::nullopt;
  Bookmark result;
  if (error = store_->RenderBookmark(*bookmark, result.text); error != os::kSuccess) {
    return std::nullopt;
  }
  // Without the record id the bookmark still works; only the landing check is skipped.
  os::EventSystemProperties properties;
  if (store_->RenderSystem(entry, properties) == os::kSuccess) {
    result.recordId = properties.recordId;
  }
  return result;
}

const std::string& EventLog::BookmarkText() const {
  static const std::string kNone;
  return bookmark_ ? bookmark_->text : kNone;
}

void EventLog::ClearValues() {
  system_ = {};
  user_.clear();
}

bool EventLog::Render(const os::EventEntry* entry, Context context, os::OsError* error) {
  ClearValues();
  if (entry == nullptr) return Fail(error, os::kErrorInvalidHandle);
  os::OsError code = os::kErrorInvalidParameter;
  switch (context) {
    case Context::System: {
      os::EventSystemProperties properties;
      code = store_->RenderSystem(*entry, properties);
      if (code == os::kSuccess) system_ = std::move(properties);
      break;
    }
    case Context::User: {
      std::vector<os::EventValue> values;
      code = store_->RenderUser(*entry, values);
      if (code == os::kSuccess) user_ = std::move(values);
      break;
    }
  }
  return code == os::kSuccess || Fail(error, code);
}

bool EventLog::FormatEventMessage(const os::EventEntry* entry, std::string_view providerName,
                                  std::string& text, os::OsError* error) const {
  text.clear();
  if (entry == nullptr) return Fail(error, os::kErrorInvalidHandle);
  std::string formatted;
  if (const os::OsError code = store_->FormatEventMessage(*entry, providerName, formatted);
      code != os::kSuccess) {
    return Fail(error, code);
  }
  text = std::move(formatted);
  return true;
}

bool EventLog::Next(os::EventQuery* query, os::OsError* error) {
  current_.reset();
  ClearValues();
  if (query == nullptr) return Fail(error, os::kErrorInvalidHandle);
  std::vector<std::unique_ptr<os::EventEntry>> entries;
  if (const os::OsError code = store_->NextEntries(*query, 1, entries); code != os::kSuccess) {
    return Fail(error, code);
  }
  if (entries.empty()) return Fail(error, os::kErrorNoMoreItems);
  current_ = std::move(entries.front());
  return Render(current_.get(), Context::System, error);
}

bool EventLog::NextBatch(os::EventQuery* query, std::vector<FetchedEntry>& batch,
                         os::OsError* error) const {
  batch.clear();
  if (query == nullptr) return Fail(error, os::kErrorInvalidHandle);
  std::vector<std::unique_ptr<os::EventEntry>> entries;
  if (const os::OsError code = store_->NextEntries(*query, kBatchSize, entries);
      code != os::kSuccess) {
    return Fail(error, code);
  }
  if (entries.empty()) return Fail(error, os::kErrorNoMoreItems);
  batch.reserve(entries.size());
  for (auto& entry : entries) {
    FetchedEntry fetched;
    fetched.renderError = store_->RenderSystem(*entry, fetched.system);
    if (fetched.renderError != os::kSuccess) fetched.system = {};
    fetched.entry = std::move(entry);
    batch.push_back(std::move(fetched));
  }
  return true;
}

}  // namespace orv
