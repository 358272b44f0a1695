// The group policy of Automatic Updates, which the agent reads but never writes, and what the
// agent counts as a change of it.
//
// The agent remembers the policy's NoAutoUpdate (25, a value the policy never has, standing for
// "no policy") and, while updates are automatic (NoAutoUpdate 0), its AUOptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "os/registry.h"
#include "platform/reg_handle.h"

namespace orv {

inline constexpr std::string_view kAuPolicyKey = "SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU";
// What the agent stores as NoAutoUpdate while no policy key exists.
inline constexpr std::uint32_t kNoAuPolicy = 25;

// Each value RegHandle::kMissingDword when it cannot be read.
struct AuPolicy {
  std::uint32_t auOptions = RegHandle::kMissingDword;
  std::uint32_t noAutoUpdate = RegHandle::kMissingDword;
  std::uint32_t scheduledInstallDay = RegHandle::kMissingDword;
  std::uint32_t scheduledInstallTime = RegHandle::kMissingDword;
  std::uint32_t automaticMaintenanceEnabled = RegHandle::kMissingDword;
};

// nullopt when the policy key does not exist (or cannot be opened for reading).
std::optional<AuPolicy> ReadAuPolicy(os::Registry& registry);

// The values the agent last stored, each RegHandle::kMissingDword when missing.
struct SeenAuPolicy {
  std::uint32_t noAutoUpdate = RegHandle::kMissingDword;
  std::uint32_t auOptions = RegHandle::kMissingDword;
};

// What to store now, and whether the policy changed since it was stored. The first sight of a
// policy (nothing stored yet) is never a change.
struct AuPolicyUpdate {
  bool changed = false;
  std::optional<std::uint32_t> noAutoUpdate;
  std::optional<std::uint32_t> auOptions;
};
AuPolicyUpdate CompareAuPolicy(const SeenAuPolicy& seen, const std::optional<AuPolicy>& policy);

}  // namespace orv
