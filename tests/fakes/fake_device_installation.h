// Device classes as a test lays them out.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fakes/fake_helpers.h"
#include "os/device_installation.h"

namespace orv::fakes {

class FakeDeviceInstallation final : public os::DeviceInstallation {
 public:
  bool PresentDevices(std::string_view classGuid, std::vector<os::PresentDevice>& devices,
                      os::OsError& error) override {
    ++walks;
    const auto failure = failingClasses.find(std::string(classGuid));
    if (failure != failingClasses.end()) return Fails(error, failure->second);
    const auto it = classes.find(std::string(classGuid));
    devices = it == classes.end() ? std::vector<os::PresentDevice>{} : it->second;
    return true;
  }

  std::map<std::string, std::vector<os::PresentDevice>> classes;  // by class GUID text
  std::map<std::string, os::OsError> failingClasses;
  int walks = 0;  // class listings asked for
};

}  // namespace orv::fakes
