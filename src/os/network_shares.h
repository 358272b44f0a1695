// The shares this machine serves, with the connections each has now.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

// The type word of a plain disk share. Administrative shares (C$, ADMIN$) add the special flag
// 0x80000000 and temporary ones 0x40000000 to it; printers, devices and IPC are other types.
inline constexpr std::uint32_t kShareTypeDisk = 0;

struct ShareEntry {
  std::string name;
  std::uint32_t type = 0;          // the system's share type word, flag bits included
  std::uint32_t currentUses = 0;  // connections open now
};

class NetworkShares {
 public:
  virtual ~NetworkShares() = default;
  // Every share of the local machine; false with `error` (and no entries) when the whole list
  // cannot be had.
  virtual bool List(std::vector<ShareEntry>& shares, OsError& error) = 0;
};

}  // namespace orv::os
