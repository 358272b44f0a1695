// What the appliance's hardware says about itself, and how it joins the network: read once
// when AgentCtrl_Upload is built and carried by its messages.
//
// Vocabulary: the firmware text (bios_ver) is the board's version on the LCD series, the
// BIOS's SMBIOS version on the temperature and board series, and otherwise the BIOS release
// date as yyyymmdd. The board serial (mb_sn) is written for the board series only, and there
// it is the BIOS's serial number rather than the board's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os/registry.h"
#include "platform/wmi_base.h"

namespace orv {

struct HardwareInventory {
  std::string boardProduct;
  std::string boardSerial;
  std::string firmware;
  bool writesBoardSerial = false;
};

// The board's and, where the model flags need it, the BIOS's texts; each query's instances
// are read in turn and the last one wins. Texts WMI cannot give stay empty.
HardwareInventory ReadHardwareInventory(WmiBase& wmi, std::uint32_t modelFlags);

// A CIM date ("20190412000000.000000+000") as yyyymmdd: cut before the first "." and then to
// at most 8 characters, so a short or malformed date gives what it has.
std::string FirmwareDate(std::string_view releaseDate);

inline constexpr std::uint32_t kNetworkGroupUnknown = 0;
inline constexpr std::uint32_t kNetworkGroupDomain = 100;
inline constexpr std::uint32_t kNetworkGroupWorkgroup = 200;

// From the TCP/IP parameters' Domain string: kNetworkGroupDomain when it names a domain,
// kNetworkGroupWorkgroup when empty, kNetworkGroupUnknown when it cannot be read.
std::uint32_t ReadNetworkGroupType(os::Registry& registry);

}  // namespace orv
