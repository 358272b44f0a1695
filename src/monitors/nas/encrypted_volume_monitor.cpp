#include "monitors/nas/encrypted_volume_monitor.h"

#include "model/act_ids.h"
#include "platform/text_encoding.h"

namespace orv {
namespace {

constexpr std::string_view kVolumeMark = "Volume ";
constexpr std::size_t kFallbackPosition = 6;
constexpr std::size_t kVolumeTextUnits = 2;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The parameter and message of each record id; nullptr for an id the monitor does not report.
struct RecordTexts {
  const char* parameter;  // "%s": the volume text
  const char* message;
};

const RecordTexts* TextsOf(std::uint16_t eventId) {
  static constexpr RecordTexts kEncrypted{"暗号化,%s", "ボリューム(%s)が暗号化されました。"};
  static constexpr RecordTexts kDecrypted{"暗号化解除,%s", "暗号化ボリューム(%s)が暗号解除されました。"};
  static constexpr RecordTexts kUnlocked{"アンロック,%s", "暗号化ボリューム(%s)がアンロックされました。"};
  static constexpr RecordTexts kLocked{"ロック", "暗号化ボリュームがロックされました。"};
  switch (eventId) {
    case 1003:
      return &kEncrypted;
    case 2003:
      return &kDecrypted;
    case 7000:
      return &kUnlocked;
    case 6000:
      return &kLocked;
    default:
      return nullptr;
  }
}

// `pattern` with its "%s" (if any) replaced by `value`.
std::string Filled(std::string_view pattern, std::string_view value) {
  std::string text(pattern);
  if (const std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, value);
  return text;
}

}  // namespace

std::string VolumeTextIn(std::string_view message) {
  if (const std::size_t mark = message.find(kVolumeMark); mark != std::string_view::npos) {
    // Up to two UTF-16 units, never half a character.
    return CutToUtf16Units(message.substr(mark + kVolumeMark.size()), kVolumeTextUnits + 1);
  }
  const std::u16string units = Utf8ToUtf16(message);
  if (units.size() < kFallbackPosition + kVolumeTextUnits) return {};
  const char16_t first = units[kFallbackPosition];
  const char16_t last = units[kFallbackPosition + kVolumeTextUnits - 1];
  if (IsLowSurrogate(first) || IsHighSurrogate(last)) return {};
  return Utf16ToUtf8(std::u16string_view(units).substr(kFallbackPosition, kVolumeTextUnits));
}

EncryptedVolumeMonitor::EncryptedVolumeMonitor(const os::OsPorts& os, EventQueue& queue)
    : os_(os), queue_(queue), log_(os.eventLogStore) {
  log_.BookmarkNewest(kEncryptionLogChannel, kEncryptionRecords);
}

void EncryptedVolumeMonitor::Check() {
  (void)log_.ReadSinceBookmark(kEncryptionLogChannel, kEncryptionRecords, [this](const EventLog::FetchedEntry& fetched) {
    if (fetched.renderError == os::kSuccess && fetched.system.providerName == kEncryptionProvider) Report(fetched);
  });
}

void EncryptedVolumeMonitor::Report(const EventLog::FetchedEntry& fetched) const {
  const RecordTexts* texts = TextsOf(fetched.system.eventId);
  if (texts == nullptr) return;
  // A message that cannot be formatted names no volume; the record is still reported.
  std::string message;
  (void)log_.FormatEventMessage(fetched.entry.get(), fetched.system.providerName, message);
  const std::string volume = VolumeTextIn(message);
  AgentEvent event(act_id::kEncryption, os_.clock);
  event.act_para = Filled(texts->parameter, volume);
  event.msg = Filled(texts->message, volume);
  event.source = fetched.system.providerName;
  event.sourceEventId = fetched.system.eventId;
  queue_.Post(event);
}

}  // namespace orv
