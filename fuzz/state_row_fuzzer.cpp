// Feeds arbitrary text to the state-row readers and writers: rows are stored in the registry
// where anyone can edit them, and their texts come from disk names and user-chosen task
// names. Disk driver messages come from the System log, the encryption product's from the
// Application log. No row may crash a read, and whatever is read must write a row that reads
// back to the same row, so a table never drifts from one save to the next.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/monitor_state.h"
#include "monitors/nas/backup_task_monitor.h"
#include "monitors/nas/disk_error_monitor.h"
#include "monitors/nas/encrypted_volume_monitor.h"
#include "platform/decimal_text.h"
#include "platform/text_encoding.h"

namespace {

// What `read` takes from the input, `write` writes as a row that reads back to the same row.
template <typename Read, typename Write>
void CheckStable(std::string_view input, Read read, Write write) {
  const std::string row = write(read(input));
  if (write(read(row)) != row) std::abort();
}

// Events need a time; the fuzzer's never moves.
class StoppedClock final : public orv::os::Clock {
 public:
  orv::os::CalendarTime LocalNow() override { return {}; }
  orv::os::CalendarTime UtcNow() override { return {}; }
  std::uint64_t MillisecondsSinceStart() override { return 0; }
  void Sleep(std::uint32_t) override {}
};

// Six newline-ended pieces, then the rest with its newlines.
std::vector<std::string_view> Pieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  for (int i = 0; i < 6; ++i) {
    const std::size_t end = text.find('\n');
    pieces.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  pieces.push_back(text);
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // The input as a stored row: what is read writes a row that is stable from then on.
  CheckStable(input, [](std::string_view row) { orv::MonitorState e; orv::ParseStateRow(row, e); return e; },
              [](const orv::MonitorState& e) { return orv::FormatStateRow(e); });
  using Pair = std::pair<std::string, std::string>;
  CheckStable(input, [](std::string_view row) { Pair p; orv::ParsePairRow(row, p.first, p.second); return p; },
              [](const Pair& p) { return orv::FormatPairRow(p.first, p.second); });
  CheckStable(input, [](std::string_view row) { orv::FiveTexts t; orv::ParseFiveTextRow(row, t); return t; },
              [](const orv::FiveTexts& t) { return orv::FormatFiveTextRow(t); });

  // The input as a backup log message: the task it names is a piece of it, never more.
  const std::string task = orv::TaskNameIn(input);
  if (!task.empty() && input.find(task) == std::string_view::npos) std::abort();

  // The input as a disk driver's message: both names are pieces of it, and the event built
  // from it names a disk only when the disk list has one for its number.
  const orv::DiskErrorNames names = orv::DiskErrorNamesIn(input);
  if (input.find(names.diskText) == std::string_view::npos || input.find(names.deviceText) == std::string_view::npos) {
    std::abort();
  }
  std::vector<orv::DiskInfo> disks(1);
  disks[0].present = 1;
  disks[0].number = 7;
  disks[0].deviceName = "\\\\?\\PhysicalDrive12";
  static StoppedClock clock;
  const orv::AgentEvent event = orv::DiskErrorEvent(input, disks, 0, clock);
  if (event.msg != "「HDD」エラー" && (event.msg != "「HDD7」エラー" || names.diskText != "12")) std::abort();

  // The input as the encryption product's message: the volume is at most two UTF-16 units of
  // whole characters, whatever bytes the message holds.
  const std::string volume = orv::VolumeTextIn(input);
  const std::u16string volumeUnits = orv::Utf8ToUtf16(volume);
  if (volumeUnits.size() > 2 || orv::Utf16ToUtf8(volumeUnits) != volume) std::abort();

  // The input as the fields of an entry: each reads back as RowText keeps it.
  const std::vector<std::string_view> pieces = Pieces(input);
  orv::MonitorState fields;
  fields.act_id = orv::ParseDecimal(pieces[0]);
  fields.act_sts = orv::ParseDecimal(pieces[1]);
  fields.act_trg = pieces[2];
  fields.act_para = pieces[3];
  fields.msg = pieces[4];
  fields.item_key = pieces[5];
  fields.item_code = orv::ParseDecimal(pieces[6]);
  orv::MonitorState back;
  orv::ParseStateRow(orv::FormatStateRow(fields), back);
  if (back.act_id != fields.act_id || back.act_sts != fields.act_sts ||
      back.act_trg != orv::RowText(fields.act_trg) || back.act_para != orv::RowText(fields.act_para) ||
      back.msg != orv::RowText(fields.msg) || back.item_key != orv::RowText(fields.item_key) ||
      back.item_code != fields.item_code) {
    std::abort();
  }
  return 0;
}
