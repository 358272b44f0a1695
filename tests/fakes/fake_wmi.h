// In-memory WMI: namespaces of classes whose instances hold text properties, the agent's one
// query form, providers that hang, and injectable failures at each step.
//
// It keeps COM's rules strictly so that a wrong caller fails a test: connecting needs the
// calling thread to have joined the apartment, a second join on a thread reports S_FALSE, the
// process's security can be set once (then RPC_E_TOO_LATE), and anything WMI handed out that
// is released after the last apartment was left is counted. Queries must read
// "SELECT * FROM <class>" (keywords and names in any case); anything else is an invalid query.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_helpers.h"
#include "os/wmi.h"

namespace orv::fakes {

// Property name -> text; nullopt is a null property.
using FakeWmiInstance = std::map<std::string, std::optional<std::string>>;

// One object of a notification delivery: its own properties and its TargetInstance.
struct FakeWmiEvent {
  FakeWmiInstance properties;
  std::optional<FakeWmiInstance> target;
};

inline constexpr os::WmiResult kWmiNotInitialized = os::WmiCode(0x800401F0);  // CO_E_NOTINITIALIZED

class FakeWmi final : public os::WmiConnector {
 public:
  std::unique_ptr<os::WmiApartment> JoinApartment(os::WmiResult& result) override;
  os::WmiResult InitializeSecurity() override;
  std::unique_ptr<os::WmiSession> Connect(std::string_view nameSpace,
                                          os::WmiResult& result) override;

  // Adds an instance to `className` in `nameSpace`, making either when missing.
  void AddInstance(std::string_view className, FakeWmiInstance properties,
                   std::string_view nameSpace = "root\\cimv2");
  // The class's provider never answers: each Next waits out its time-out, then times out.
  void Hang(std::string_view className, std::string_view nameSpace = "root\\cimv2");
  // Delivers `events` as one call to the sink of every running subscription, from a thread of
  // its own as WMI does; returns how many sinks were reached.
  int Deliver(const std::vector<FakeWmiEvent>& events);
  int subscriptions() const;

  // Each step fails with its result while that result is set (kWmiOk clears it).
  struct Failures {
    os::WmiResult join = os::kWmiOk;
    os::WmiResult security = os::kWmiOk;
    os::WmiResult connect = os::kWmiOk;
    os::WmiResult query = os::kWmiOk;
    os::WmiResult next = os::kWmiOk;
    os::WmiResult get = os::kWmiOk;
    os::WmiResult subscribe = os::kWmiOk;
  };
  Failures failures;

  int calls() const { return calls_.load(); }  // every call into the port and its objects
  int openApartments() const { return openApartments_.load(); }
  int openObjects() const { return openObjects_.load(); }  // sessions, enumerators, instances
  int releasedAfterLeaving() const { return releasedAfterLeaving_.load(); }
  int connections() const { return connections_.load(); }  // namespace connections asked for
  std::vector<std::string> Queries() const;
  std::vector<std::uint32_t> Timeouts() const { return timeouts_.Items(); }  // as Next received them
  void ClearRecords() {
    std::lock_guard lock(mutex_);
    queries_ = {};
    timeouts_.Clear();
  }

 private:
  friend class FakeWmiApartment;
  friend class FakeWmiSession;
  friend class FakeWmiEnumerator;
  friend class FakeWmiObject;
  friend class FakeWmiSubscription;

  struct Class {
    std::vector<FakeWmiInstance> instances;
    bool hung = false;
  };
  using Namespace = std::map<std::string, Class>;  // by lower-cased class name

  void Count() { ++calls_; }
  void Opened() { ++openObjects_; }
  void Released();
  void Left();
  bool HasJoined();
  std::unique_ptr<os::WmiEnumerator> Query(const std::string& nameSpace, std::string_view wql,
                                           os::WmiResult& result);

  mutable std::mutex mutex_;
  std::map<std::string, Namespace> namespaces_;  // by lower-cased name
  std::map<std::thread::id, int> joined_;
  bool securitySet_ = false;
  std::vector<std::string> queries_;
  Record<std::uint32_t> timeouts_;
  std::map<int, std::shared_ptr<os::WmiEventSink>> sinks_;
  int nextSubscription_ = 0;
  std::atomic<int> calls_{0};
  std::atomic<int> connections_{0};
  std::atomic<int> openApartments_{0};
  std::atomic<int> openObjects_{0};
  std::atomic<int> releasedAfterLeaving_{0};
};

}  // namespace orv::fakes
