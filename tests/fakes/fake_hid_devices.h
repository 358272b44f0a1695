// In-memory HID devices as a test lays them out: hardware ids, raw string bytes, report
// layouts and values, and a failure at each step. Thread-safe, so a test may change the
// devices while a controller runs.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "os/hid_devices.h"

namespace orv::fakes {

struct FakeHidDevice {
  std::string hardwareId;
  // The bytes each string read leaves in the buffer (at most 256 are copied).
  std::map<os::HidString, std::vector<std::uint8_t>> strings;
  os::HidCapabilities caps;
  // Feature values by usage (the report id must match the capability's).
  std::map<std::uint16_t, std::uint32_t> featureValues;
  // The input report's bytes after the report id.
  std::vector<std::uint8_t> inputReport;

  struct Failures {
    os::OsError open = os::kSuccess;
    std::map<os::HidString, os::OsError> strings;
    os::OsError caps = os::kSuccess;
    os::OsError feature = os::kSuccess;
    os::OsError input = os::kSuccess;
  };
  Failures failures;
};

class FakeHidDevices final : public os::HidDevices {
 public:
  os::OsError listError = os::kSuccess;

  void Set(std::vector<FakeHidDevice> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
    changed_ = true;
  }
  int openDevices() const { return *openDevices_; }
  int walks() const {
    std::lock_guard lock(mutex_);
    return walks_;
  }

  os::OsResult<os::HidDeviceSet> PresentInterfaces() override {
    std::lock_guard lock(mutex_);
    ++walks_;
    if (listError != os::kSuccess) return listError;
    return std::make_unique<Set_>(devices_, openDevices_);
  }
  bool InterfacesMayHaveChanged() override {
    std::lock_guard lock(mutex_);
    return std::exchange(changed_, false);
  }

 private:
  class Device_ final : public os::HidDevice {
   public:
    Device_(FakeHidDevice device, std::shared_ptr<int> open) : d_(std::move(device)), open_(std::move(open)) {
      ++*open_;
    }
    ~Device_() override { --*open_; }
    os::OsError ReadString(os::HidString which, os::HidStringBuffer& raw) override {
      raw.fill(0);
      if (auto f = d_.failures.strings.find(which); f != d_.failures.strings.end()) return f->second;
      const std::vector<std::uint8_t>& bytes = d_.strings[which];
      std::copy_n(bytes.begin(), std::min(bytes.size(), raw.size()), raw.begin());
      return os::kSuccess;
    }
    os::OsError Capabilities(os::HidCapabilities& caps) override {
      if (d_.failures.caps != os::kSuccess) return d_.failures.caps;
      caps = d_.caps;
      return os::kSuccess;
    }
    os::OsError GetFeatureReport(std::span<std::uint8_t> report) override {
      if (d_.failures.feature != os::kSuccess) return d_.failures.feature;
      if (report.size() != d_.caps.featureReportLength) return os::kErrorInvalidParameter;
      return os::kSuccess;
    }
    os::OsError GetInputReport(std::span<std::uint8_t> report) override {
      if (d_.failures.input != os::kSuccess) return d_.failures.input;
      if (report.size() != d_.caps.inputReportLength) return os::kErrorInvalidParameter;
      for (std::size_t i = 1; i < report.size() && i - 1 < d_.inputReport.size(); ++i) report[i] = d_.inputReport[i - 1];
      return os::kSuccess;
    }
    os::OsError FeatureUsageValue(const os::HidValueCapability& cap, std::span<const std::uint8_t> report,
                                  std::uint32_t& value) override {
      if (report.empty() || report[0] != cap.reportId) return os::kErrorInvalidParameter;
      auto found = d_.featureValues.find(cap.usage);
      value = found == d_.featureValues.end() ? 0 : found->second;
      return os::kSuccess;
    }

   private:
    FakeHidDevice d_;
    std::shared_ptr<int> open_;
  };

  class Set_ final : public os::HidDeviceSet {
   public:
    Set_(std::vector<FakeHidDevice> devices, std::shared_ptr<int> open)
        : devices_(std::move(devices)), open_(std::move(open)) {}
    os::OsError Interface(std::uint32_t index, std::string& hardwareId) override {
      if (index >= devices_.size()) return os::kErrorNoMoreItems;
      hardwareId = devices_[index].hardwareId;
      return os::kSuccess;
    }
    os::OsResult<os::HidDevice> Open(std::uint32_t index) override {
      if (index >= devices_.size()) return os::kErrorInvalidParameter;
      if (devices_[index].failures.open != os::kSuccess) return devices_[index].failures.open;
      return std::make_unique<Device_>(devices_[index], open_);
    }

   private:
    std::vector<FakeHidDevice> devices_;
    std::shared_ptr<int> open_;
  };

  mutable std::mutex mutex_;
  int walks_ = 0;  // interface listings asked for
  bool changed_ = true;  // since the last InterfacesMayHaveChanged: the devices were Set
  std::vector<FakeHidDevice> devices_;
  std::shared_ptr<int> openDevices_ = std::make_shared<int>(0);
};

}  // namespace orv::fakes
