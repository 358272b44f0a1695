// CORVSvcCtrl: the agent itself, the process's single service object.
//
// It decides from the registry what the agent does and runs the matching loop on the service
// main thread. The control manager's calls (on the dispatcher's and the worker's threads)
// only set its manual-reset events; all work happens on the service main thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/agent_event_log.h"
#include "service/svs_base.h"

namespace orv {

enum class AgentState : std::uint8_t {
  Undecided = 0,
  Unregistered = 1,
  Monitoring = 2,
  MonitoringStopped = 3,
  MonitoringWithoutRegistration = 4,
};

class CORVSvcCtrl : public SvsBase {
 public:
  // The twelve events, in the order they are created.
  enum ControllerEvent : std::size_t {
    kStoppedEvent,
    kStopRequestEvent,
    kParamChangeEvent,
    kSuspendedEvent,
    kUserControl128Event,  // ... one per user control up to 135
    kControllerEventCount = kUserControl128Event + 8
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

  AgentState State() const { return state_; }
  bool PreShutdownRequested() const { return preShutdown_ != 0; }

 private:
  void SetEvent(ControllerEvent event);
  void ClearEvent(ControllerEvent event);

  AgentEventLog log_;
  std::array<std::unique_ptr<os::Event>, kControllerEventCount> events_;
  AgentState state_ = AgentState::Undecided;
  std::uint32_t preShutdown_ = 0;
};

}  // namespace orv
