// MonitoringSession: what one run of the monitoring loop owns and does.
//
// The controller's monitoring loop waits for a round's time or a wake-up and hands each to the
// session: the monitor objects, the status and daily clocks and the reports live here, so the
// loop itself is a few lines. Destroying the session ends its watcher threads and waits (with a
// bound) for a running uploader.
#pragma once

#include <cstdint>
#include <memory>

#include "report/status_message.h"
#include "service/orv_svc_ctrl.h"

namespace orv {

class AgentCtrl_COMMON;
class AgentCtrl_LNAS;
class AgentCtrl_Upload;

class MonitoringSession {
 public:
  MonitoringSession(CORVSvcCtrl& controller, AgentCtrl_Upload& upload);
  ~MonitoringSession();
  MonitoringSession(const MonitoringSession&) = delete;
  MonitoringSession& operator=(const MonitoringSession&) = delete;

  // Start-up checks, the events they queued, the initialisation event, then the watcher threads.
  LoopExit Start();
  // One monitoring round: the passes, pending events, a due status message, the uploader.
  LoopExit Round();
  // What a controller event does to a running monitor: reports, the stop, the power handshake.
  LoopExit Wake(CORVSvcCtrl::ControllerEvent event);
  // After every wake-up, also one that ends the loop: the daily check when due, and the move to
  // another loop when the state is no longer a monitoring one.
  LoopExit AfterWakeUp(LoopExit exit);
  // The wait between rounds, in milliseconds.
  std::uint32_t RoundWaitMs() const;

  // Writes an immediate event (per act_id) and status and starts the uploader; false for an
  // act_id it does not know or a failed write.
  bool Report(std::int32_t actId);

 private:
  // Writes the queued events and a status of `kind`; false when a write failed.
  bool WriteEventsAndStatus(StatusKind kind, PowerState power);

  CORVSvcCtrl& controller_;
  AgentCtrl_Upload& upload_;
  std::unique_ptr<AgentCtrl_COMMON> common_;
  std::unique_ptr<AgentCtrl_LNAS> nas_;
  std::int64_t nextStatus_ = 0;
  std::int64_t nextDaily_ = 0;
};

}  // namespace orv
