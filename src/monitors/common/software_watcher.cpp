#include "monitors/common/software_watcher.h"

#include <algorithm>
#include <array>
#include <memory>

#include "model/act_ids.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr std::uint32_t kSettleMs = 1000;

void Post(const os::OsPorts& os, EventQueue& queue, std::int32_t actId, const SoftwareEntry& program,
          std::string_view what) {
  AgentEvent event(actId, os.clock);
  std::string shown = program.displayName;
  event.act_para = program.displayName;
  if (!program.displayVersion.empty()) {
    shown += "(" + program.displayVersion + ")";
    event.act_para += "," + program.displayVersion;
  }
  event.msg = "「" + shown + "」が" + std::string(what) + "されました。";
  queue.Post(event);
}

bool SameKey(const SoftwareEntry& a, const SoftwareEntry& b) { return a.keyName == b.keyName; }

}  // namespace

std::vector<SoftwareEntry> ReadInstalledSoftware(os::Registry& registry, std::string_view keyPath) {
  std::vector<SoftwareEntry> programs;
  (void)ReadInstalledSoftware(registry, keyPath, programs);
  return programs;
}

bool ReadInstalledSoftware(os::Registry& registry, std::string_view keyPath, std::vector<SoftwareEntry>& programs) {
  programs.clear();
  const RegHandle uninstall(registry, os::RegistryRoot::LocalMachine, std::string(keyPath));
  std::vector<std::string> subKeys;
  if (!uninstall.EnumSubKeys(subKeys)) return false;
  for (const std::string& subKey : subKeys) {
    const RegHandle program(registry, os::RegistryRoot::LocalMachine, std::string(keyPath) + "\\" + subKey);
    SoftwareEntry entry{subKey, {}, {}};
    if (!program.GetString("DisplayName", entry.displayName)) continue;
    (void)program.GetString("DisplayVersion", entry.displayVersion);
    programs.push_back(std::move(entry));
  }
  return true;
}

void CompareInstalledSoftware(const os::OsPorts& os, os::Event& stop, std::string_view keyPath,
                              std::vector<SoftwareEntry>& kept, EventQueue& queue) {
  os::Event* const stopOnly[] = {&stop};
  if (os.sync.WaitAny(stopOnly, kSettleMs) != os::kWaitTimeout) return;

  // Unreadable, the list would report every program removed now and installed next time.
  std::vector<SoftwareEntry> now;
  if (!ReadInstalledSoftware(os.registry, keyPath, now)) return;
  bool posted = false;
  for (const SoftwareEntry& program : now) {
    const auto before = std::find_if(kept.begin(), kept.end(), [&](const SoftwareEntry& e) { return SameKey(e, program); });
    if (before == kept.end() || before->displayVersion != program.displayVersion) {
      Post(os, queue, act_id::kSoftwareInstalled, program, "インストール");
      posted = true;
    }
  }
  for (const SoftwareEntry& program : kept) {
    if (std::none_of(now.begin(), now.end(), [&](const SoftwareEntry& e) { return SameKey(e, program); })) {
      Post(os, queue, act_id::kSoftwareUninstalled, program, "アンインストール");
      posted = true;
    }
  }
  // What was compared is kept, not a fresh read: a program written after the read above has
  // its own notice coming and must still be new to the next comparison.
  if (posted) kept = std::move(now);
}

void RunSoftwareWatcher(const os::OsPorts& os, os::Event& stop, EventQueue& queue) {
  struct WatchedKey {
    std::string_view path;
    std::unique_ptr<os::Event> changed;  // made before the watch, so the watch ends first
    std::unique_ptr<os::RegistryWatch> watch;
    std::vector<SoftwareEntry> programs;
  };
  std::array<WatchedKey, 2> keys{WatchedKey{kUninstallKey32, {}, {}, {}}, WatchedKey{kUninstallKey64, {}, {}, {}}};
  for (WatchedKey& key : keys) {
    key.changed = os.sync.NewEvent(os::EventReset::Manual, {}).take();
    if (!key.changed) return;  // nothing could ever be waited for
    // A key that cannot be watched leaves its event unset; the other key is still watched.
    key.watch = os.registry.Watch(os::RegistryRoot::LocalMachine, key.path).take();
    if (key.watch) (void)key.watch->Arm(*key.changed);
  }
  for (WatchedKey& key : keys) key.programs = ReadInstalledSoftware(os.registry, key.path);

  os::Event* const waitFor[] = {&stop, keys[0].changed.get(), keys[1].changed.get()};
  for (;;) {
    const std::uint32_t signalled = os.sync.WaitAny(waitFor, os::kInfinite);
    if (signalled != 1 && signalled != 2) return;  // the stop, or a wait that cannot work
    WatchedKey& key = keys[signalled - 1];
    // Asking for the next notice before reading: a change written while the comparison reads
    // gives one more comparison instead of going unseen until some later change.
    key.changed->Reset();
    if (key.watch) (void)key.watch->Arm(*key.changed);
    CompareInstalledSoftware(os, stop, key.path, key.programs, queue);
  }
}

}  // namespace orv
