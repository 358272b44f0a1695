// The connections users have open to this machine's shares, as the status message counts them.
#pragma once

#include <cstdint>

#include "os/network_shares.h"

namespace orv {

// The current connections of every plain disk share summed; administrative, temporary, printer,
// device and IPC shares do not count. 0 when the shares cannot be listed.
std::uint32_t CountShareConnections(os::NetworkShares& shares);

}  // namespace orv
