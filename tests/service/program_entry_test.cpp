#include "service/program_entry.h"

#include <gtest/gtest.h>

#include <thread>

#include "fakes/fake_os.h"
#include "platform/text_encoding.h"
#include "service/service_identity.h"
#include "service/service_installer.h"

namespace orv {
namespace {

constexpr const char* kSourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ORVSVC";
constexpr const char* kDisplaySourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvaneエージェントサービス";

// Each switch is an any-case substring of the command line, the program's path included for
// -install and -remove; install wins over remove, and both over a diagnosis.
TEST(EntryAction, SwitchesAreSubstringsInAnyCaseAndInstallWins) {
  const struct {
    const char* commandLine;
    EntryAction action;
  } kCases[] = {
      {"C:\\orvsvc\\ORVSVC.exe -install", EntryAction::Install},
      {"ORVSVC.exe /x-INSTALL", EntryAction::Install},
      {"ORVSVC.exe -remove -install", EntryAction::Install},
      {"ORVSVC.exe -REMOVE", EntryAction::Remove},
      {"\"C:\\orvsvc\\ORVSVC.exe\"", EntryAction::RunService},
      {"ORVSVC.exe install", EntryAction::RunService},
      {"C:\\my-install\\ORVSVC.exe", EntryAction::Install},
      {"ORVSVC.exe /x-DIAG", EntryAction::Diagnose},
      {"ORVSVC.exe -diag -install", EntryAction::Install},
      {"ORVSVC.exe -remove -diag", EntryAction::Remove},
      // The control manager starts the service by its path: a folder name must not turn that
      // start into a diagnosis.
      {"C:\\tools-diag\\ORVSVC.exe", EntryAction::RunService},
  };
  for (const auto& c : kCases) EXPECT_EQ(SelectEntryAction(c.commandLine), c.action) << c.commandLine;
}

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() { os.registry.AddKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"); }
  int Run(const char* commandLine) { return RunProgram(os.Ports(), commandLine); }

  fakes::FakeOs os;
};

TEST_F(InstallTest, InstallCreatesTheServiceAndItsEventSources) {
  EXPECT_EQ(Run("C:\\orvsvc\\ORVSVC.exe -install"), 0);
  ASSERT_TRUE(os.serviceManager.services.contains("ORVSVC"));
  const fakes::FakeService& service = os.serviceManager.services.at("ORVSVC");
  EXPECT_EQ(service.config.displayName, "Orvaneエージェントサービス");
  EXPECT_EQ(service.description, "Orvaneサービスへ情報を送信します。");
  EXPECT_EQ(service.config.serviceType, 16U);
  EXPECT_EQ(service.config.startType, 2U);
  EXPECT_EQ(service.config.errorControl, 1U);
  EXPECT_EQ(service.config.binaryPath, "C:\\orvsvc\\ORVSVC.exe");
  EXPECT_EQ(service.config.account, "LocalSystem");
  EXPECT_EQ(service.security.sddl, os::kServiceDacl) << "not the default that lets users send controls";
  EXPECT_EQ(os.process.Console(), "");

  for (const char* key : {kSourceKey, kDisplaySourceKey}) {
    const auto file = os.registry.Value(key, "EventMessageFile");
    ASSERT_TRUE(file) << key;
    EXPECT_EQ(file->type, os::RegistryType::ExpandString);
    EXPECT_EQ(Utf16ToUtf8(Utf16FromLeBytes(file->data)), std::string("C:\\orvsvc\\ORVSVC.exe") + '\0');
    const auto types = os.registry.Value(key, "TypesSupported");
    ASSERT_TRUE(types);
    EXPECT_EQ(types->type, os::RegistryType::Dword);
    EXPECT_EQ(types->data, (std::vector<std::uint8_t>{7, 0, 0, 0}));
  }
  EXPECT_EQ(os.serviceManager.openHandles, 0) << "every handle is closed";
  EXPECT_EQ(os.process.librarySearchNarrowed, 1) << "libraries come from the system folder only";
}

TEST_F(InstallTest, SecondInstallPrintsNothingAndChangesNothing) {
  Run("ORVSVC.exe -install");
  fakes::FakeService& service = os.serviceManager.services.at("ORVSVC");
  service.description = "changed by hand";
  service.security = fakes::FakeService::DefaultSecurity();  // installed by an older agent
  service.securitySets = 0;
  os.registry.DeleteKeyTree(os::RegistryRoot::LocalMachine, kSourceKey);
  Run("ORVSVC.exe -install");
  EXPECT_EQ(service.description, "changed by hand");
  EXPECT_EQ(service.securitySets, 0) << "the running service narrows its own list, not -install";
  EXPECT_FALSE(os.registry.HasKey(kSourceKey));
  EXPECT_EQ(os.process.Console(), "");

  // Installed from a path with spaces, the binary path is quoted.
  os.system.executablePath = "C:\\Program Files\\Orvane\\ORVSVC.exe";
  Run("ORVSVC.exe -remove");
  Run("ORVSVC.exe -install");
  EXPECT_EQ(os.serviceManager.services.at("ORVSVC").config.binaryPath, "\"C:\\Program Files\\Orvane\\ORVSVC.exe\"");
}

TEST_F(InstallTest, InstallFailuresArePrintedWithTheSystemTextOrTheHexCode) {
  os.serviceManager.createError = 0x4D2;
  EXPECT_EQ(Run("ORVSVC.exe -install"), 0);
  EXPECT_EQ(os.process.Console(), "CreateService failed: Unknown error 4d2\n");
  EXPECT_FALSE(os.registry.HasKey(kSourceKey)) << "no event source without a service";

  // The service keeps working without its list: it is reported, and the service narrows it
  // itself when it starts.
  fakes::FakeOs third;
  third.registry.AddKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application");
  third.serviceManager.setSecurityError = 0x4D3;
  RunProgram(third.Ports(), "ORVSVC.exe -install");
  EXPECT_EQ(third.process.Console(), "SetServiceObjectSecurity failed: Unknown error 4d3\n");
  EXPECT_TRUE(third.serviceManager.services.contains("ORVSVC"));
  EXPECT_TRUE(third.registry.HasKey(kSourceKey));
}

TEST_F(InstallTest, RemoveDeletesTheServiceAndItsEventSources) {
  Run("ORVSVC.exe -install");
  EXPECT_EQ(Run("ORVSVC.exe -remove"), 0);
  EXPECT_FALSE(os.serviceManager.services.contains("ORVSVC"));
  EXPECT_FALSE(os.registry.HasKey(kSourceKey));
  EXPECT_FALSE(os.registry.HasKey(kDisplaySourceKey));
  EXPECT_EQ(os.process.Console(), "");
  EXPECT_EQ(os.serviceManager.openHandles, 0);
}

}  // namespace
}  // namespace orv
