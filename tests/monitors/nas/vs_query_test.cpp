#include "monitors/nas/vs_query.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "fakes/fake_os.h"
#include "service/service_identity.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kServiceFolderLibrary = "C:\\Program Files\\Sealvol\\sealvol_query.dll";
constexpr const char* kSystemLibrary = "C:\\Windows\\system32\\sealvol_query.dll";
constexpr std::uint32_t kAutoStart = 2;
constexpr std::uint32_t kBootStart = 0;

class VsQueryTest : public ::testing::Test {
 public:
  void Install(std::uint32_t startType, bool running,
               std::string binaryPath = "\"C:\\Program Files\\Sealvol\\sealsvc.exe\" -service") {
    fakes::FakeService service;
    service.config.startType = startType;
    service.config.binaryPath = std::move(binaryPath);
    service.status.currentState = running ? kServiceRunning : kServiceStopped;
    os.serviceManager.services[std::string(kEncryptionServiceName)] = service;
  }
  void StartServiceAt(std::uint64_t tick) {
    os.clock.ScheduleAt(tick, [this] {
      os.serviceManager.services[std::string(kEncryptionServiceName)].status.currentState = kServiceRunning;
    });
  }
  // Simulated time: the waits for the service advance the fake clock.
  fakes::FakeOs os{true};
};

TEST_F(VsQueryTest, LoadStateFollowsServiceAndLibrary) {
  struct Case {
    const char* name;
    std::optional<std::uint32_t> startType;  // none: not installed
    bool running;
    std::string installedAt;
    std::uint32_t state;
    std::vector<std::string> loads;
  };
  const Case cases[] = {
      {"not installed", std::nullopt, false, kServiceFolderLibrary, 4, {}},
      {"beside the service", kAutoStart, true, kServiceFolderLibrary, 1, {kServiceFolderLibrary}},
      {"in the system folder", kAutoStart, true, kSystemLibrary, 1, {kServiceFolderLibrary, kSystemLibrary}},
      {"nowhere", kAutoStart, true, "", 2, {kServiceFolderLibrary, kSystemLibrary}},
      {"an automatic service is not waited for", kAutoStart, false, kServiceFolderLibrary, 1, {kServiceFolderLibrary}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    os.serviceManager.services.clear();
    if (c.startType) Install(*c.startType, c.running);
    os.encryption.installedAt = c.installedAt;
    os.encryption.loads.clear();
    const std::uint64_t before = os.clock.MillisecondsSinceStart();
    {
      VsQuery query(os.Ports());
      EXPECT_EQ(query.LoadState(), c.state);
      EXPECT_EQ(query.IsAvailable(), c.state == 1);
      EXPECT_EQ(os.encryption.loads, c.loads);
    }
    EXPECT_EQ(os.clock.MillisecondsSinceStart(), before) << "no wait";
    EXPECT_FALSE(os.encryption.IsLoaded()) << "the last object unloads";
    EXPECT_EQ(os.serviceManager.openHandles, 0);
  }
}

TEST_F(VsQueryTest, BootStartServiceThatNeverRunsIsAwaitedTenSecondsAndLeavesTheLibraryUnloaded) {
  for (const bool startTypeReadable : {true, false}) {
    SCOPED_TRACE(startTypeReadable ? "boot start" : "start type unreadable");
    Install(startTypeReadable ? kBootStart : kAutoStart, false);
    os.serviceManager.queryConfigError = startTypeReadable ? os::kSuccess : os::kErrorAccessDenied;
    os.encryption.installedAt = kSystemLibrary;
    const std::uint64_t before = os.clock.MillisecondsSinceStart();
    VsQuery query(os.Ports());
    EXPECT_EQ(query.LoadState(), 2u);
    EXPECT_EQ(os.clock.MillisecondsSinceStart() - before, 10'000u);
    EXPECT_THAT(os.encryption.loads, IsEmpty());
    EXPECT_FALSE(os.encryption.IsLoaded());
  }
}

// A boot-start service that comes up is loaded from once; a stop ends the wait for it.
TEST_F(VsQueryTest, BootStartServiceThatComesUpIsLoadedFromOnceAndStopEndsTheWait) {
  Install(kBootStart, false);
  os.encryption.installedAt = kServiceFolderLibrary;
  auto stop = os.sync.NewEvent(os::EventReset::Manual, "");
  ASSERT_TRUE(stop);
  os.clock.ScheduleAt(1'000, [&stop] { stop->Set(); });
  EXPECT_EQ(VsQuery(os.Ports(), stop.get()).LoadState(), 2u);
  EXPECT_EQ(os.clock.MillisecondsSinceStart(), 1'000u);
  EXPECT_THAT(os.encryption.loads, IsEmpty());
  StartServiceAt(3'000);
  EXPECT_EQ(VsQuery(os.Ports()).LoadState(), 1u);
  EXPECT_EQ(os.clock.MillisecondsSinceStart(), 3'000u);
  EXPECT_EQ(os.encryption.loads.size(), 1U);
}

// The library is never loaded by a bare name, only from an absolute folder: the service's own
// folder first, the system folder second.
TEST(EncryptionLibraryPaths, ServiceFolderFirstSystemFolderSecondAbsoluteOnly) {
  const std::string system = "C:\\Windows\\system32\\sealvol_query.dll";
  const std::string sealvol = "C:\\Program Files\\Sealvol\\sealvol_query.dll";
  struct Case {
    const char* binaryPath;
    std::vector<std::string> paths;
  };
  const Case cases[] = {
      {"\"C:\\Program Files\\Sealvol\\sealsvc.exe\" -service", {sealvol, system}},
      {"  C:\\Program Files\\Sealvol\\SEALSVC.EXE", {sealvol, system}},
      {"C:\\sealsvc.exe", {"C:\\sealvol_query.dll", system}},
      {"%SystemRoot%\\Sealvol\\sealsvc.exe", {"C:\\Windows\\Sealvol\\sealvol_query.dll", system}},
      {"\\SystemRoot\\Sealvol\\sealsvc.exe", {"C:\\Windows\\Sealvol\\sealvol_query.dll", system}},
      {"\\??\\D:\\Sealvol\\sealsvc.exe", {"D:\\Sealvol\\sealvol_query.dll", system}},
      {"%SystemRoot%\\System32\\sealsvc.exe", {"C:\\Windows\\System32\\sealvol_query.dll"}},  // the same folder once
      {"sealsvc.exe", {system}},
      {"\"C:\\Program Files\\Sealvol\\sealsvc.exe", {system}},  // unclosed quote
      {"\\\\server\\share\\sealsvc.exe", {system}},
      {"%ProgramFiles%\\Sealvol\\sealsvc.exe", {system}},
      {"C:\\Seal|vol\\sealsvc.exe", {system}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncryptionLibraryPaths(c.binaryPath, "C:\\Windows\\system32"), c.paths) << c.binaryPath;
  }
  EXPECT_THAT(EncryptionLibraryPaths("sealsvc.exe", "system32"), IsEmpty());
  EXPECT_THAT(EncryptionLibraryPaths("%SystemRoot%\\Sealvol\\sealsvc.exe", ""), IsEmpty());
  EXPECT_THAT(EncryptionLibraryPaths("D:\\Sealvol\\sealsvc.exe", ""), ElementsAre("D:\\Sealvol\\sealvol_query.dll"));
}

TEST_F(VsQueryTest, NoAbsoluteFolderMeansNoLoadAtAll) {
  Install(kAutoStart, true, "sealsvc.exe");
  os.system.systemDirectory.clear();
  os.encryption.installedAt = "sealvol_query.dll";
  VsQuery query(os.Ports());
  EXPECT_EQ(query.LoadState(), 2u);
  EXPECT_THAT(os.encryption.loads, IsEmpty());
}

}  // namespace
}  // namespace orv
