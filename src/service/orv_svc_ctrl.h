// CORVSvcCtrl: the agent itself, the process's single service object.
//
// It decides from the registry what the agent does and runs the matching loop on the service
// main thread: unregistered, monitoring, or monitoring stopped. The control manager's calls
// (on the dispatcher's and the worker's threads) only set its manual-reset events; all work
// happens on the service main thread, which waits on those events through the ports, so the
// whole controller runs in simulated time in the host tests.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/agent_event_log.h"
#include "service/registration_exchange.h"
#include "service/software_update.h"
#include "model/pipe_records.h"
#include "service/svs_base.h"

namespace orv {

class MonitoringSession;
class AgentCtrl_Upload;
class AgentCtrl_WebAPI;

enum class AgentState : std::uint8_t {
  Undecided = 0,
  Unregistered = 1,
  Monitoring = 2,
  MonitoringStopped = 3,
  MonitoringWithoutRegistration = 4,
};

// How a loop goes on after a wake-up: on in the same loop, end the service, run the loop of the
// current state, or read the state again first.
enum class LoopExit : std::uint8_t { Continue, EndService, Redispatch, RereadState };

// What a daily check came to, numbered as the controller has always reported them.
enum class DailyOutcome : int { Unregistered = 1, UpdateStarted = 6, PoolFailed = 9, Done = 10 };

// When the registration check runs: once as the service starts, or as the daily check.
enum class CheckTime : std::uint8_t { AtStart, Daily };

class CORVSvcCtrl : public SvsBase {
 public:
  // The twelve events, in the order they are created.
  enum ControllerEvent : std::size_t {
    kStoppedEvent,
    kStopRequestEvent,
    kParamChangeEvent,
    kSuspendedEvent,
    kUserControl128Event,  // test notice
    kUserControl129Event,  // test status
    kUserControl130Event,  // refresh the registration data
    kUserControl131Event,  // resume monitoring
    kUserControl132Event,  // stop monitoring
    kUserControl133Event,  // read the state again
    kUserControl134Event,  // check for newer software
    kUserControl135Event,  // the power manager's sleep announcement (named)
    kControllerEventCount
  };
  static constexpr std::uint32_t kFirstUserControl = 128;
  static constexpr std::uint32_t kLastUserControl = 135;
  // The power-manager companion service sets the last user-control event from outside.
  static constexpr std::string_view kPowerManagerEventName = "SVCPOWMGR_Notification";

  CORVSvcCtrl(const os::OsPorts& os, std::string_view name, std::string_view displayName,
              std::uint32_t serviceType);
  ~CORVSvcCtrl() override;

  void Init() override;
  void Cleanup() override;
  void OnPreShutdown() override;
  void OnParamChange() override;
  void OnPowerEvent(std::uint32_t eventType) override;
  void OnUserControl(std::uint32_t control, std::uint32_t eventType, void* eventData) override;
  void Run() override;
  void OnStop() override;

  // Sets the stop request the loops end on (what a stop control does after its status report).
  void RequestStop();

  void ReadState(AgentCtrl_Upload& upload);
  void SetState(AgentState state);

  // The daily check or the one at start: the registration data, the software check
  // when automatic updates are on, and the pool's housekeeping.
  DailyOutcome DailyCheck(AgentCtrl_Upload& upload, CheckTime when);
  // Control 130: refreshes the registration data and tells the settings program; 1.
  int RefreshRegistration(AgentCtrl_Upload& upload);
  // Control 134 and the daily check; an unregistered agent asks nothing.
  SoftwareCheck CheckLatestSoftware(AgentCtrl_Upload& upload);

  // The record the settings program receives on control 130.
  service::RegistrationRecord BuildRegistrationRecord(AgentCtrl_Upload& upload);

  AgentState State() const { return state_; }
  const std::string& StopReason() const { return stopReason_; }
  bool PreShutdownRequested() const { return preShutdown_ != 0; }

  // Next status time: the start of the current hour plus `statusSecond`, moved on by
  // `outputInterval` while before now. Times are calendar milliseconds of local time.
  static std::int64_t NextStatusTime(std::int64_t now, std::uint32_t statusSecond,
                                     std::uint32_t outputInterval);
  // Next daily time: today 22:00 plus `dailySecond`, moved on by whole days while before now.
  static std::int64_t NextDailyTime(std::int64_t now, std::uint32_t dailySecond);

 private:
  void SetEvent(ControllerEvent event);
  void ClearEvent(ControllerEvent event);
  bool IsSet(ControllerEvent event);
  bool StopRequested();
  // Waits up to `ms` for the stop request; true when it came.
  bool WaitForStop(std::uint32_t ms);
  // Sleeps while the system is suspended; true on resume, false when a stop ended the sleep.
  bool SleepWhileSuspended();
  friend class MonitoringSession;
  enum class LoopKind { Unregistered, Monitoring, MonitoringStopped };
  // What woke a loop: an event, the end of its wait, or a failed wait (which would fail again).
  struct WakeUp {
    enum class Kind { Event, Timeout, Failed } kind = Kind::Failed;
    ControllerEvent event = kStopRequestEvent;
  };

  // The three loops, each until a wake-up takes the service elsewhere.
  LoopExit RunUnregistered(AgentCtrl_Upload& upload);
  LoopExit RunMonitoringStopped(AgentCtrl_Upload& upload);
  LoopExit RunMonitoring(AgentCtrl_Upload& upload);
  WakeUp WaitForWakeUp(std::uint32_t timeoutMs);
  // What a controller event does in `loop` (with its session while monitoring); a control is
  // served once: its event is cleared.
  LoopExit HandleWakeUp(ControllerEvent event, LoopKind loop, AgentCtrl_Upload& upload,
                        MonitoringSession* session);
  void WaitForNetwork();
  // Tells the settings program that a loop started (result 1, no text); failures are ignored.
  void NotifySettingsProgram();
  // The registration exchange of this agent's host choice.
  RegistrationExchange Registration();
  bool IsTestSwitch(std::string_view name);
  bool WriteEvent(AgentCtrl_Upload& upload, std::int32_t actId, std::string_view message,
                  std::string_view parameters = {});
  std::int64_t Now();

  AgentEventLog log_;
  std::array<std::unique_ptr<os::Event>, kControllerEventCount> events_;
  AgentState state_ = AgentState::Undecided;
  std::string stopReason_;
  std::uint32_t preShutdown_ = 0;
  std::uint32_t useProductionHost_ = 1;
};

}  // namespace orv
