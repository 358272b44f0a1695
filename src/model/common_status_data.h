// What the common monitors hold for the status message: the current sample, the sums of the
// samples since the last periodic status, and their open conditions.
#pragma once

#include <vector>

#include "model/monitor_state.h"
#include "model/sample_sums.h"
#include "model/system_sample.h"

namespace orv {

struct CommonStatusData {
  SystemSample current;
  SystemSampleSums samples;  // of the rounds since the last periodic status
  MonitorState backupState;
  MonitorState upsConnectState;
  MonitorState upsDegradeState;
};

}  // namespace orv
