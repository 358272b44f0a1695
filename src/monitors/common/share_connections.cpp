#include "monitors/common/share_connections.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace orv {

std::uint32_t CountShareConnections(os::NetworkShares& shares) {
  std::vector<os::ShareEntry> entries;
  os::OsError error = os::kSuccess;
  if (!shares.List(entries, error)) return 0;
  std::uint64_t sum = 0;
  for (const os::ShareEntry& share : entries) {
    if (share.type == os::kShareTypeDisk) sum += share.currentUses;
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(sum, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace orv
