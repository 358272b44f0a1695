// What the common monitors hold for the status message: the current sample, the samples
// since the last periodic status, and their open conditions.
#pragma once

#include <vector>

#include "monitors/common/monitor_state.h"
#include "report/system_sample.h"

namespace orv {

struct CommonStatusData {
  SystemSample current;
  std::vector<SystemSample> samples;
  MonitorState backupState;
  MonitorState upsConnectState;
  MonitorState upsDegradeState;
};

}  // namespace orv
