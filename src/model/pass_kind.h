// Why a monitoring pass runs. A round runs on the check interval and keeps its load and NAS
// samples for the periodic status message's averages; an immediate pass runs for a power event
// or a control and only refreshes the current readings, so that it does not skew the averages.
#pragma once

namespace orv {

enum class PassKind { Round, Immediate };

}  // namespace orv
