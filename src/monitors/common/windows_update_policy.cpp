#include "monitors/common/windows_update_policy.h"

#include <string>

namespace orv {
namespace {

constexpr std::uint32_t kMissing = RegHandle::kMissingDword;

}  // namespace

std::optional<AuPolicy> ReadAuPolicy(os::Registry& registry) {
  if (registry.ProbeKey(os::RegistryRoot::LocalMachine, kAuPolicyKey, os::RegistryAccess::Read) != os::kSuccess) {
    return std::nullopt;
  }
  const RegHandle key(registry, os::RegistryRoot::LocalMachine, std::string(kAuPolicyKey));
  const auto read = [&key](std::string_view name) { return key.GetDword(name).value_or(kMissing); };
  return AuPolicy{read("AUOptions"), read("NoAutoUpdate"), read("ScheduledInstallDay"), read("ScheduledInstallTime"),
                  read("AutomaticMaintenanceEnabled")};
}

AuPolicyUpdate CompareAuPolicy(const SeenAuPolicy& seen, const std::optional<AuPolicy>& policy) {
  const std::uint32_t stored = seen.noAutoUpdate;
  if (!policy) {
    if (stored == kNoAuPolicy) return {};
    // A policy that was there and is gone changed; one never seen did not.
    return {stored != kMissing, kNoAuPolicy, 0};
  }

  const std::uint32_t now = policy->noAutoUpdate;
  const std::uint32_t toStore = now == kMissing ? kNoAuPolicy : now;
  // AUOptions only matters while updates are automatic.
  const std::optional<std::uint32_t> options = now == 0 ? std::optional(policy->auOptions) : std::nullopt;
  if (stored == kMissing) return {false, toStore, options};

  AuPolicyUpdate update{false, toStore, options};
  if (stored == kNoAuPolicy) {
    // A key without NoAutoUpdate reads like no policy at all.
    update.changed = now != kMissing;
  } else {
    update.changed = stored != now;
  }
  if (now == 0 && stored == 0 && seen.auOptions != policy->auOptions) update.changed = true;
  return update;
}

}  // namespace orv
