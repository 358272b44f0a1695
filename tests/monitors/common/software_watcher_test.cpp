#include "monitors/common/software_watcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "monitors/common/watcher_thread.h"
#include "platform/reg_handle.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using testing::Notice;

class SoftwareTest : public ::testing::Test {
 public:
  SoftwareTest() {
    os.registry.AddKey(kUninstallKey64);
    os.registry.AddKey(kUninstallKey32);
    os.registry.afterEnumeration = [this](std::string_view path) {
      if (path != kUninstallKey64) return;
      ++listings;
      if (afterListing) afterListing();
    };
  }
  void Install(std::string_view uninstallKey, const std::string& keyName, const char* name, const char* version) {
    os.registry.Atomically([&] {
      const std::string path = std::string(uninstallKey) + "\\" + keyName;
      os.registry.AddKey(path);
      if (name != nullptr) (void)RegHandle::SetString(os.registry, os::RegistryRoot::LocalMachine, path, "DisplayName", name);
      if (version != nullptr) {
        (void)RegHandle::SetString(os.registry, os::RegistryRoot::LocalMachine, path, "DisplayVersion", version);
      }
    });
  }
  void Remove(std::string_view uninstallKey, const std::string& keyName) {
    (void)os.registry.DeleteKeyTree(os::RegistryRoot::LocalMachine, std::string(uninstallKey) + "\\" + keyName);
  }
  std::vector<Notice> Drain() { return testing::DrainNotices(queue); }
  // The watcher asks for both notices, then lists the 32-bit key and the 64-bit key: a change
  // made after that listing is one it must report. Waits for it, bounded.
  bool WatcherReady() {
    const auto ready = [this] { return os.registry.armedWatches() == 2 && listings > 0; };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ready();
  }
  bool StartWatcher(WatcherThread& watcher) {
    return watcher.Start(os.sync, [ports = os.Ports(), this](os::Event& stop) { RunSoftwareWatcher(ports, stop, queue); }) &&
           WatcherReady();
  }
  // The watcher posts on its own thread: wait, with a bound, until `count` events arrived.
  std::vector<Notice> DrainWhenPosted(std::size_t count) {
    std::vector<Notice> posted;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (posted.size() < count && std::chrono::steady_clock::now() < deadline) {
      for (Notice& p : Drain()) posted.push_back(std::move(p));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return posted;
  }

  fakes::FakeOs os{true};  // the watcher's one-second settling runs in simulated time
  EventQueue queue;
  std::atomic<int> listings = 0;      // of the 64-bit key, on any thread
  std::function<void()> afterListing;  // runs after each; set before a watcher starts
};

const Notice kInstalledWithVersion{act_id::kSoftwareInstalled, "Backup Tool,2.1", "「Backup Tool(2.1)」がインストールされました。"};

TEST_F(SoftwareTest, AComparisonPostsInstallsUpdatesAndRemovalsOfProgramsOnly) {
  struct Case {
    const char* name;
    std::function<void(SoftwareTest&)> change;
    std::vector<Notice> posted;
  };
  const Case cases[] = {
      {"installed with a version", [](SoftwareTest& t) { t.Install(kUninstallKey64, "{A}", "Backup Tool", "2.1"); },
       {kInstalledWithVersion}},
      {"installed without a version", [](SoftwareTest& t) { t.Install(kUninstallKey64, "Tool", "Tool", nullptr); },
       {{act_id::kSoftwareInstalled, "Tool", "「Tool」がインストールされました。"}}},
      {"a component without a name", [](SoftwareTest& t) { t.Install(kUninstallKey64, "KB1", nullptr, "1"); }, {}},
      {"updated in place", [](SoftwareTest& t) { t.Install(kUninstallKey64, "Old", "Old App", "1.1"); },
       {{act_id::kSoftwareInstalled, "Old App,1.1", "「Old App(1.1)」がインストールされました。"}}},
      {"removed", [](SoftwareTest& t) { t.Remove(kUninstallKey64, "Old"); },
       {{act_id::kSoftwareUninstalled, "Old App,1.0", "「Old App(1.0)」がアンインストールされました。"}}},
      {"a name with quotes and brackets",
       [](SoftwareTest& t) { t.Install(kUninstallKey64, "Q", "\"Q\" [x64], 1", "2"); },
       {{act_id::kSoftwareInstalled, "\"Q\" [x64], 1,2", "「\"Q\" [x64], 1(2)」がインストールされました。"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    (void)os.registry.DeleteKeyTree(os::RegistryRoot::LocalMachine, kUninstallKey64);
    os.registry.AddKey(kUninstallKey64);
    Install(kUninstallKey64, "Old", "Old App", "1.0");
    std::vector<SoftwareEntry> kept = ReadInstalledSoftware(os.registry, kUninstallKey64);
    c.change(*this);
    std::unique_ptr<os::Event> stop = os.sync.NewEvent(os::EventReset::Manual, {}).take();
    CompareInstalledSoftware(os.Ports(), *stop, kUninstallKey64, kept, queue);
    EXPECT_EQ(Drain(), c.posted);
    EXPECT_EQ(kept.size(), ReadInstalledSoftware(os.registry, kUninstallKey64).size());
  }
}

TEST_F(SoftwareTest, TheWatcherReportsChangesOfBothKeysWhileItRunsAndEndsOnStop) {
  Install(kUninstallKey64, "Present", "Present App", "1");  // there before the start: not reported
  WatcherThread watcher;
  ASSERT_TRUE(StartWatcher(watcher));

  Install(kUninstallKey64, "{A}", "Backup Tool", "2.1");
  EXPECT_THAT(DrainWhenPosted(1), ElementsAre(kInstalledWithVersion));
  Install(kUninstallKey32, "{A}", "Backup Tool", "2.1");
  EXPECT_THAT(DrainWhenPosted(1), ElementsAre(kInstalledWithVersion)) << "once per key";
  Remove(kUninstallKey64, "{A}");
  EXPECT_THAT(DrainWhenPosted(1),
              ElementsAre(Notice{act_id::kSoftwareUninstalled, "Backup Tool,2.1", "「Backup Tool(2.1)」がアンインストールされました。"}));

  EXPECT_TRUE(watcher.Stop());
  EXPECT_THAT(Drain(), IsEmpty());
}

// An installer that finishes while the watcher compares: its program is not in the list just
// compared, so it must be new to the comparison its own notice brings.
TEST_F(SoftwareTest, AProgramWrittenDuringAComparisonIsReportedByTheNext) {
  std::atomic<bool> installDuringRead = false;
  afterListing = [this, &installDuringRead] {
    if (installDuringRead.exchange(false)) Install(kUninstallKey64, "{B}", "Viewer", "7");
  };
  WatcherThread watcher;
  ASSERT_TRUE(StartWatcher(watcher));
  installDuringRead = true;
  Install(kUninstallKey64, "{A}", "Backup Tool", "2.1");
  EXPECT_THAT(DrainWhenPosted(2),
              ElementsAre(kInstalledWithVersion, Notice{act_id::kSoftwareInstalled, "Viewer,7", "「Viewer(7)」がインストールされました。"}));
  EXPECT_TRUE(watcher.Stop());
  afterListing = nullptr;
  EXPECT_THAT(Drain(), IsEmpty());
}

}  // namespace
}  // namespace orv
