// Driver versions of storage controllers, IDE controllers and network adapters.
//
// The versions seen are kept in the driver tables, loaded when the monitor is built, so an
// update made while the agent was stopped is reported at the first check; a device seen for the
// first time is only recorded, and a removed device keeps its last version.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/adapter_entry.h"
#include "model/event_queue.h"
#include "monitors/common/state_tables.h"
#include "os/os_ports.h"
#include "platform/agent_event_log.h"

namespace orv {

struct DeviceDriverEntry {
  std::string name;
  std::uint64_t date = 0;     // the newest compatible driver's date, whole seconds
  std::uint64_t version = 0;  // that driver's version
};

// "%d.%d.%d.%d" of the four 16-bit parts, the most significant first.
std::string DriverVersionText(std::uint64_t version);

// The present devices of a class, each with the version of its newest compatible driver (0
// when none is listed). Devices whose drivers cannot be listed are left out, their error kept
// in `error`; false only when the class's devices cannot be had.
bool EnumDrivers(os::DeviceInstallation& devices, std::string_view classGuid,
                 std::vector<DeviceDriverEntry>& list, os::OsError& error);

class DriverMonitor {
 public:
  DriverMonitor(const os::OsPorts& os, const AgentEventLog& log, EventQueue& queue);

  // Compares every class with its table, posts 4110 for each changed version and saves the
  // tables. Network adapters count only when they are among `adapters` (the ports).
  void Check(const std::vector<AdapterEntry>& adapters);

 private:
  void CheckClass(std::string_view classGuid, std::vector<TextPair>& table,
                  const std::vector<AdapterEntry>* onlyPorts);

  os::OsPorts os_;
  const AgentEventLog& log_;
  EventQueue& queue_;
  std::vector<TextPair> lanInfo_;
  std::vector<TextPair> sataInfo_;
  std::vector<TextPair> ideInfo_;
  StoredTables stored_;  // what the three tables hold, so an unchanged one is not written
};

}  // namespace orv
