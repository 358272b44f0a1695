#include "os/win32/event_log_store_win32.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"
#include "os/win32/windows_api.h"

#include <winevt.h>

namespace orv::win32 {
namespace {

struct EvtHandleTraits {
  using Handle = EVT_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::EvtClose(h); }
};
using UniqueEvtHandle = UniqueHandle<EvtHandleTraits>;

// Queries, entries and bookmarks are all EVT_HANDLEs; one owner type per port object.
template <typename Base>
class EvtObject final : public Base {
 public:
  explicit EvtObject(UniqueEvtHandle handle) : handle_(std::move(handle)) {}
  EVT_HANDLE get() const { return handle_.get(); }

 private:
  UniqueEvtHandle handle_;
};

using Win32EventQuery = EvtObject<os::EventQuery>;
using Win32EventEntry = EvtObject<os::EventEntry>;
using Win32EventBookmark = EvtObject<os::EventBookmark>;

EVT_HANDLE HandleOf(const os::EventQuery& query) {
  return static_cast<const Win32EventQuery&>(query).get();
}
EVT_HANDLE HandleOf(const os::EventEntry& entry) {
  return static_cast<const Win32EventEntry&>(entry).get();
}
EVT_HANDLE HandleOf(const os::EventBookmark& bookmark) {
  return static_cast<const Win32EventBookmark&>(bookmark).get();
}

// Wine's EvtQuery fails without setting an error; a failure must never read as success.
os::OsError LastError() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : static_cast<os::OsError>(ERROR_NOT_SUPPORTED);
}

// Rendered values hold pointers and 64-bit numbers: the buffer is kept 8-byte aligned.
using RenderBuffer = std::vector<std::uint64_t>;

os::OsError RenderInto(EVT_HANDLE context, EVT_HANDLE fragment, DWORD flags, RenderBuffer& buffer,
                       DWORD& usedBytes, DWORD& count) {
  // The first answer names the size needed; one more try covers a value that grew meanwhile.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (buffer.size() > std::numeric_limits<DWORD>::max() / sizeof(std::uint64_t)) {
      return ERROR_INSUFFICIENT_BUFFER;
    }
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    usedBytes = 0;
    count = 0;
    if (::EvtRender(context, fragment, flags, size, buffer.data(), &usedBytes, &count)) {
      return os::kSuccess;
    }
    const os::OsError error = LastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return error;
    buffer.resize(usedBytes / sizeof(std::uint64_t) + 1);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

std::string NarrowOrEmpty(const wchar_t* text) {
  return text != nullptr ? Narrow(text) : std::string();
}

std::string FromAnsi(const char* text) {
  if (text == nullptr || *text == '\0') return {};
  const int units = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 1) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
  wide.resize(static_cast<std::size_t>(units - 1));
  return Narrow(wide);
}

DWORD TypeOf(const EVT_VARIANT& value) { return value.Type & EVT_VARIANT_TYPE_MASK; }
bool IsArray(const EVT_VARIANT& value) { return (value.Type & EVT_VARIANT_TYPE_ARRAY) != 0; }

os::EventValue ToValue(const EVT_VARIANT& variant) {
  using Kind = os::EventValue::Kind;
  os::EventValue value;
  const auto unsignedValue = [&value](std::uint64_t number) {
    value.kind = Kind::Unsigned;
    value.unsignedValue = number;
  };
  const auto signedValue = [&value](std::int64_t number) {
    value.kind = Kind::Signed;
    value.signedValue = number;
  };
  if (IsArray(variant)) {
    value.kind = Kind::Other;
    return value;
  }
  switch (TypeOf(variant)) {
    case EvtVarTypeNull:
      break;
    case EvtVarTypeString:
      value.kind = Kind::Text;
      value.text = NarrowOrEmpty(variant.StringVal);
      break;
    case EvtVarTypeEvtXml:
      value.kind = Kind::Text;
      value.text = NarrowOrEmpty(variant.XmlVal);
      break;
    case EvtVarTypeAnsiString:
      value.kind = Kind::Text;
      value.text = FromAnsi(variant.AnsiStringVal);
      break;
    case EvtVarTypeSByte:
      signedValue(variant.SByteVal);
      break;
    case EvtVarTypeInt16:
      signedValue(variant.Int16Val);
      break;
    case EvtVarTypeInt32:
      signedValue(variant.Int32Val);
      break;
    case EvtVarTypeInt64:
      signedValue(variant.Int64Val);
      break;
    case EvtVarTypeByte:
      unsignedValue(variant.ByteVal);
      break;
    case EvtVarTypeUInt16:
      unsignedValue(variant.UInt16Val);
      break;
    case EvtVarTypeUInt32:
    case EvtVarTypeHexInt32:
      unsignedValue(variant.UInt32Val);
      break;
    case EvtVarTypeUInt64:
    case EvtVarTypeHexInt64:
      unsignedValue(variant.UInt64Val);
      break;
    case EvtVarTypeFileTime:
      unsignedValue(variant.FileTimeVal);
      break;
    case EvtVarTypeSizeT:
      unsignedValue(variant.SizeTVal);
      break;
    case EvtVarTypeBoolean:
      unsignedValue(variant.BooleanVal != 0 ? 1U : 0U);
      break;
    default:
      value.kind = Kind::Other;
      break;
  }
  return value;
}

os::OsError RenderValues(const os::EventEntry& entry, EVT_RENDER_CONTEXT_FLAGS kind,
                         RenderBuffer& buffer, DWORD& count) {
  UniqueEvtHandle context(::EvtCreateRenderContext(0, nullptr, static_cast<DWORD>(kind)));
  if (!context) return LastError();
  DWORD usedBytes = 0;
  if (const os::OsError error = RenderInto(context.get(), HandleOf(entry), EvtRenderEventValues,
                                           buffer, usedBytes, count)) {
    return error;
  }
  // Never trust a count beyond what the buffer holds.
  const std::size_t fits = usedBytes / sizeof(EVT_VARIANT);
  if (count > fits) count = static_cast<DWORD>(fits);
  return os::kSuccess;
}

}  // namespace

os::OsResult<os::EventQuery> Win32EventLogStore::Query(std::string_view channel,
                                                       std::string_view filter,
                                                       os::QueryDirection direction) {
  DWORD flags = EvtQueryChannelPath;
  if (direction == os::QueryDirection::NewestFirst) flags |= EvtQueryReverseDirection;
  ::SetLastError(ERROR_SUCCESS);
  UniqueEvtHandle handle(::EvtQuery(nullptr, Wide(channel).c_str(), Wide(filter).c_str(), flags));
  if (!handle) return LastError();
  return std::make_unique<Win32EventQuery>(std::move(handle));
}

// The bound of one fetch: reading a local log takes milliseconds; only a stuck service takes more.
constexpr DWORD kNextTimeoutMs = 10'000;

os::OsError Win32EventLogStore::NextEntries(os::EventQuery& query, std::size_t maxCount,
                                            std::vector<std::unique_ptr<os::EventEntry>>& entries) {
  entries.clear();
  if (maxCount == 0 || maxCount > 1024) return os::kErrorInvalidParameter;
  std::vector<EVT_HANDLE> handles(maxCount, nullptr);
  DWORD returned = 0;
  const BOOL fetched = ::EvtNext(HandleOf(query), static_cast<DWORD>(maxCount), handles.data(),
                                 kNextTimeoutMs, 0, &returned);
  const os::OsError error = fetched ? os::kSuccess : LastError();
  // Own whatever came back before looking at the result, so no handle can leak.
  if (returned > maxCount) returned = static_cast<DWORD>(maxCount);
  std::vector<std::unique_ptr<os::EventEntry>> owned;
  for (DWORD i = 0; i < returned; ++i) {
    if (handles[i] != nullptr) {
      owned.push_back(std::make_unique<Win32EventEntry>(UniqueEvtHandle(handles[i])));
    }
  }
  if (error != os::kSuccess) return error;
  if (owned.empty()) return os::kErrorNoMoreItems;
  entries = std::move(owned);
  return os::kSuccess;
}

os::OsError Win32EventLogStore::Seek(os::EventQuery& query, os::SeekOrigin origin,
                                     std::int64_t offset) {
  return ::EvtSeek(HandleOf(query), offset, nullptr, 0, static_cast<DWORD>(origin)) ? os::kSuccess
                                                                                    : LastError();
}

os::OsError Win32EventLogStore::SeekToBookmark(os::EventQuery& query,
                                               const os::EventBookmark& bookmark,
                                               std::int64_t offset) {
  return ::EvtSeek(HandleOf(query), offset, HandleOf(bookmark), 0, EvtSeekRelativeToBookmark)
             ? os::kSuccess
             : LastError();
}

os::OsResult<os::EventBookmark> Win32EventLogStore::NewBookmark(std::string_view xml) {
  const std::wstring text = Wide(xml);
  UniqueEvtHandle handle(::EvtCreateBookmark(xml.empty() ? nullptr : text.c_str()));
  if (!handle) return LastError();
  return std::make_unique<Win32EventBookmark>(std::move(handle));
}

os::OsError Win32EventLogStore::UpdateBookmark(os::EventBookmark& bookmark,
                                               const os::EventEntry& entry) {
  return ::EvtUpdateBookmark(HandleOf(bookmark), HandleOf(entry)) ? os::kSuccess : LastError();
}

os::OsError Win32EventLogStore::RenderBookmark(const os::EventBookmark& bookmark,
                                               std::string& xml) {
  RenderBuffer buffer(128);
  DWORD usedBytes = 0;
  DWORD count = 0;
  if (const os::OsError error =
          RenderInto(nullptr, HandleOf(bookmark), EvtRenderBookmark, buffer, usedBytes, count)) {
    return error;
  }
  const std::size_t capacity = buffer.size() * sizeof(std::uint64_t) / sizeof(wchar_t);
  std::wstring_view text(reinterpret_cast<const wchar_t*>(buffer.data()),
                         std::min<std::size_t>(usedBytes / sizeof(wchar_t), capacity));
  while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
  xml = Narrow(text);
  return os::kSuccess;
}

os::OsError Win32EventLogStore::RenderSystem(const os::EventEntry& entry,
                                             os::EventSystemProperties& out) {
  RenderBuffer buffer(512);
  DWORD count = 0;
  if (const os::OsError error = RenderValues(entry, EvtRenderContextSystem, buffer, count)) {
    return error;
  }
  if (count <= static_cast<DWORD>(EvtSystemEventRecordId)) return os::kErrorInvalidData;
  const auto* values = reinterpret_cast<const EVT_VARIANT*>(buffer.data());
  const auto is = [values](int index, DWORD type) {
    return !IsArray(values[index]) && TypeOf(values[index]) == type;
  };
  os::EventSystemProperties properties;
  if (is(EvtSystemProviderName, EvtVarTypeString)) {
    properties.providerName = NarrowOrEmpty(values[EvtSystemProviderName].StringVal);
  }
  if (is(EvtSystemEventID, EvtVarTypeUInt16)) {
    properties.eventId = values[EvtSystemEventID].UInt16Val;
  }
  if (is(EvtSystemTimeCreated, EvtVarTypeFileTime)) {
    properties.timeCreated = values[EvtSystemTimeCreated].FileTimeVal;
  }
  if (is(EvtSystemEventRecordId, EvtVarTypeUInt64)) {
    properties.recordId = values[EvtSystemEventRecordId].UInt64Val;
  }
  out = std::move(properties);
  return os::kSuccess;
}

os::OsError Win32EventLogStore::RenderUser(const os::EventEntry& entry,
                                           std::vector<os::EventValue>& out) {
  RenderBuffer buffer(512);
  DWORD count = 0;
  if (const os::OsError error = RenderValues(entry, EvtRenderContextUser, buffer, count)) {
    return error;
  }
  const auto* values = reinterpret_cast<const EVT_VARIANT*>(buffer.data());
  std::vector<os::EventValue> rendered;
  rendered.reserve(count);
  for (DWORD i = 0; i < count; ++i) rendered.push_back(ToValue(values[i]));
  out = std::move(rendered);
  return os::kSuccess;
}

os::OsError Win32EventLogStore::FormatEventMessage(const os::EventEntry& entry,
                                                   std::string_view providerName,
                                                   std::string& text) {
  UniqueEvtHandle publisher(
      ::EvtOpenPublisherMetadata(nullptr, Wide(providerName).c_str(), nullptr, 0, 0));
  if (!publisher) return LastError();
  std::vector<wchar_t> buffer(1024);
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (buffer.size() > std::numeric_limits<DWORD>::max()) return ERROR_INSUFFICIENT_BUFFER;
    DWORD used = 0;
    if (::EvtFormatMessage(publisher.get(), HandleOf(entry), 0, 0, nullptr, EvtFormatMessageEvent,
                           static_cast<DWORD>(buffer.size()), buffer.data(), &used)) {
      std::wstring_view message(buffer.data(), std::min<std::size_t>(used, buffer.size()));
      while (!message.empty() && message.back() == L'\0') message.remove_suffix(1);
      text = Narrow(message);
      return os::kSuccess;
    }
    const os::OsError error = LastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return error;
    buffer.resize(used > buffer.size() ? used : buffer.size() * 2);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace orv::win32
