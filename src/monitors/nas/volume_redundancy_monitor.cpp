#include "monitors/nas/volume_redundancy_monitor.h"

#include <algorithm>

#include "model/act_ids.h"
#include "monitors/nas/bay_tables.h"
#include "monitors/nas/port_map.h"
#include "monitors/nas/volume_list.h"

namespace orv {
namespace {

constexpr std::uint32_t kFiveBays = 5;

bool BitSet(std::uint32_t word, std::uint32_t bit) { return bit < 32 && (word & (1U << bit)) != 0; }

}  // namespace

std::string MissingDisks(std::uint32_t expectedMask, std::uint32_t presentMask, std::uint32_t sraidInfo,
                         bool meridexBrand, std::uint32_t modelFlags) {
  const std::uint32_t bays = BayCount(CodesOf(modelFlags).bayCode);
  // The 5-bay line keeps its first bay (bit 0) out of its arrays: slot i of the RAID-check
  // service's state is bay bit i + 1.
  const auto bitOf = [bays](std::uint32_t slot) { return bays == kFiveBays ? slot + 1 : slot; };
  std::uint32_t present = presentMask;
  for (std::uint32_t slot = 0; slot < bays; ++slot) {
    const std::uint32_t bit = bitOf(slot);
    // The state word holds four bits per disk from bit 4, so slots past 6 have no failed bit.
    if (bit != bays && BitSet(sraidInfo, 5 + 4 * slot)) present &= ~(1U << bit);
  }
  std::string missing;
  for (std::uint32_t slot = 0; slot < bays; ++slot) {
    const std::uint32_t bit = bitOf(slot);
    if (bit >= 32 || !BitSet(expectedMask, bit) || BitSet(present, bit)) continue;
    const std::int32_t number = BayNumber(1U << bit, meridexBrand);
    if (number < 0) continue;  // a bit that names no bay has no disk number to report
    if (!missing.empty()) missing += ',';
    missing += std::to_string(number);
  }
  return missing;
}

VolumeRedundancyMonitor::VolumeRedundancyMonitor(const os::OsPorts& os, EventQueue& queue, bool meridexBrand,
                                                 std::uint32_t modelFlags)
    : os_(os), queue_(queue), tracker_(queue, os.clock), meridexBrand_(meridexBrand), modelFlags_(modelFlags) {}

void VolumeRedundancyMonitor::Check(const VolumeInfo& volume, const RaidCompanionValues& companion,
                                    std::vector<MonitorState>& degraded) const {
  const std::string letter(1, static_cast<char>(volume.driveLetter));
  const std::string drive = letter + ":";
  if (volume.health == os::vds::kRebuilding) {
    for (MonitorState& row : degraded) {
      if (row.item_key != letter || row.act_sts != MonitorState::kOpen) continue;
      AgentEvent event(row.act_id, os_.clock);
      event.act_sts = MonitorState::kRebuildRunning;
      event.act_trg = row.act_trg;
      event.act_para = drive;
      event.msg = "ボリューム(" + drive + ")の修復を開始しました。";
      queue_.Post(event);
      row.act_sts = MonitorState::kRebuildRunning;
      row.msg = event.msg;
    }
    return;
  }
  const bool isDegraded = IsDegraded(volume, companion);
  const auto row = std::find_if(degraded.begin(), degraded.end(), [&](const MonitorState& r) { return r.item_key == letter; });
  if (!isDegraded) {
    if (row == degraded.end()) return;
    AgentEvent event(row->act_id, os_.clock);
    event.act_sts = MonitorState::kClosed;
    event.act_trg = row->act_trg;
    event.act_para = drive;
    event.msg = "ボリューム(" + drive + ")の修復を完了しました。";
    queue_.Post(event);
    degraded.erase(row);
    return;
  }
  if (row != degraded.end()) return;
  const std::string missing = MissingDisks(ExpectedMask(letter[0], companion), volume.memberMask,
                                           companion.sraidInfo, meridexBrand_, modelFlags_);
  const ConditionOpening opening{act_id::kVolumeDegraded, std::to_string(DriveNumber(volume.driveLetter)),
                                 missing.empty() ? drive : drive + "," + missing,
                                 "ボリューム(" + drive + ")の冗長性に障害を検出しました。", "冗長性に障害が発生しています。"};
  (void)tracker_.Track(degraded, ItemMatch::ByKey, {letter, 0, 0}, true, opening, {});
}

bool VolumeRedundancyMonitor::IsDegraded(const VolumeInfo& volume, const RaidCompanionValues& companion) const {
  if (volume.health != os::vds::kHealthy) return true;
  return std::any_of(companion.errorDiskMasks.begin(), companion.errorDiskMasks.end(),
                     [&](std::uint32_t mask) { return (mask & volume.memberMask) != 0; });
}

std::uint32_t VolumeRedundancyMonitor::ExpectedMask(char letter, const RaidCompanionValues& companion) const {
  if (companion.normalVolumes.empty()) return ArraySetupMask(os_.registry, letter);
  const auto entry = std::find_if(companion.normalVolumes.begin(), companion.normalVolumes.end(),
                                  [&](const NormalVolume& v) { return v.driveLetter == std::string(1, letter); });
  return entry == companion.normalVolumes.end() ? 0 : entry->memberMask;
}

}  // namespace orv
