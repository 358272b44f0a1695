#include "monitors/nas/volume_capacity_monitor.h"

#include <string>

#include "model/act_ids.h"
#include "monitors/nas/volume_list.h"

namespace orv {
namespace {

constexpr std::uint64_t kRecoveryMargin = 10;
constexpr unsigned kMebibyteShift = 20;

}  // namespace

void VolumeCapacityMonitor::Check(const VolumeInfo& volume, std::uint32_t threshold,
                                  std::vector<MonitorState>& lowVolumes) const {
  if (volume.fileSystemCode == kFileSystemCdfs || volume.fileSystemCode == kFileSystemUdf ||
      volume.status == os::vds::kVolumeNoMedia) {
    return;
  }
  const std::uint64_t freeMiB = volume.freeToCaller >> kMebibyteShift;
  const std::uint64_t totalMiB = volume.totalBytes >> kMebibyteShift;
  if (totalMiB == 0) return;
  // In 64 bits: free MiB × 100 passes 32 bits from about 41 TiB free, where a nearly empty
  // volume would read as almost full.
  const std::uint64_t freePercent = freeMiB * 100 / totalMiB;
  const bool low = freePercent <= threshold;
  if (!low && freePercent <= std::uint64_t{threshold} + kRecoveryMargin) return;  // as it was

  const std::string letter(1, static_cast<char>(volume.driveLetter));
  const std::string percent = std::to_string(freePercent);
  const ConditionItem item{letter, 0, 0};
  const ConditionOpening opening{act_id::kLowSpace, std::to_string(DriveNumber(volume.driveLetter)),
                                 letter + ":," + percent,
                                 "ドライブ" + letter + ":の残り容量が" + percent + "％に低下しています。",
                                 "残り容量が" + percent + "％に低下しています。"};
  const ConditionClosing closing{letter + "," + percent, "ドライブ" + letter + ":の残り容量が回復しました。"};
  (void)tracker_.Track(lowVolumes, ItemMatch::ByKey, item, low, opening, closing);
}

}  // namespace orv
