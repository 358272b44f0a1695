#include "report/model_identity.h"

#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "platform/reg_handle.h"
#include "platform/text_encoding.h"
#include "report/run_command.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using namespace model;

constexpr const char* kOwnerKey = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kBiosKey = "HARDWARE\\DESCRIPTION\\System\\BIOS";
// By its full path under the system folder, never found through a search.
constexpr const char* kWmic = "\"C:\\Windows\\system32\\wbem\\wmic.exe\" os get caption, version";

std::vector<std::uint8_t> Utf16WithBom(std::u16string_view text) {
  std::vector<std::uint8_t> bytes{0xFF, 0xFE};
  const auto body = Utf16ToLeBytes(text);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

class IdentifyModelTest : public ::testing::Test {
 protected:
  IdentifyModelTest() : os(/*simulatedTime=*/true) {}
  void SetString(const char* key, const char* name, const char* value) {
    os.registry.AddKey(key);
    RegHandle::SetString(os.registry, kHklm, key, name, value);
  }
  fakes::FakeOs os;
};

TEST_F(IdentifyModelTest, TheMakersValueWinsEvenWhenZeroButNotWhenUnknown) {
  constexpr const char* kMakerKey = "SOFTWARE\\Wow6432Node\\MERIDEX\\UnitDeck";
  constexpr std::uint32_t kOwnerFlags = 0x8 + 0x100 + 0x10000;
  struct Case {
    std::optional<std::uint32_t> modelInfo;  // nullopt: no value
    std::uint32_t flags;
  };
  const Case cases[] = {
      {0, 0},
      {kFourBays | kLcdSeries | kServer2019, kFourBays | kLcdSeries | kServer2019},
      {0xFFFFFFFF, kOwnerFlags},  // "not known", as a missing value
      {std::nullopt, kOwnerFlags},
  };
  os.registry.AddKey("SOFTWARE\\MERIDEX\\NAS");
  os.registry.AddKey(kMakerKey);
  SetString(kOwnerKey, "RegisteredOwner", "MDL-R01");
  for (const Case& c : cases) {
    if (c.modelInfo) {
      RegHandle::SetDword(os.registry, kHklm, kMakerKey, "ModelInfo", *c.modelInfo);
    } else {
      RegHandle::DeleteValue(os.registry, kHklm, kMakerKey, "ModelInfo");
    }
    const ModelIdentity identity = IdentifyModel(os.Ports());
    EXPECT_TRUE(identity.meridexBrand);
    EXPECT_EQ(identity.modelFlags, c.flags) << std::hex << c.modelInfo.value_or(0);
    EXPECT_EQ(identity.agentName, AgentNameFor(c.flags));
  }
  EXPECT_TRUE(os.processes.Launched().empty());
}

TEST_F(IdentifyModelTest, UnknownOwnerFallsBackToTheBoardAndWmicInUtf16) {
  SetString(kOwnerKey, "RegisteredOwner", "MDL-R99");
  SetString(kBiosKey, "BaseBoardProduct", "MDL-Q01");
  os.processes.Script(kWmic, {1500, false, Utf16WithBom(u"Caption  Version\r\nWindows Storage Server 2012 R2  6.3.9600\r\n"), 0});
  const ModelIdentity identity = IdentifyModel(os.Ports());
  EXPECT_FALSE(identity.meridexBrand);
  EXPECT_EQ(identity.modelFlags, 0x400000U + 0x400 + 0x80);
  EXPECT_EQ(identity.agentName, "MDL-G01");

  // Without the system folder there is no safe path to start it by; another board runs nothing.
  os.system.systemDirectory.clear();
  EXPECT_EQ(IdentifyModel(os.Ports()).modelFlags, 0U);
  SetString(kBiosKey, "BaseBoardProduct", "Other board");
  os.system.systemDirectory = "C:\\Windows\\system32";
  EXPECT_EQ(IdentifyModel(os.Ports()).modelFlags, 0U);
  EXPECT_EQ(os.processes.Launched().size(), 1U);
}

TEST_F(IdentifyModelTest, ModelNameComesFromTheLastToolEntry) {
  const std::string base(kUninstallKey);
  SetString((base + "\\A").c_str(), "DisplayName", "UnitDeck");
  SetString((base + "\\A").c_str(), "DisplayVersion", "3.0.1");
  SetString((base + "\\B").c_str(), "DisplayName", "TavolenNas2");
  SetString((base + "\\B").c_str(), "DisplayVersion", "3.4.5.6");
  SetString((base + "\\C").c_str(), "DisplayName", "unitdeck");
  std::string name = "stale";
  std::string version = "stale";
  EXPECT_TRUE(GetModelName(os.registry, kBoardSeries | kStorageServer2012R2, name, version));
  EXPECT_EQ(name, "MDL-N08");
  EXPECT_EQ(version, "3.4");
  EXPECT_FALSE(GetModelName(os.registry, kFourBays, name, version)) << "no name for these flags";
  EXPECT_EQ(version, "3.4");
}

TEST(RunCommand, CollectsBoundedOutputForAtMostFortySlicesOfTenSeconds) {
  const auto bytes = [](std::string_view text) { return std::vector<std::uint8_t>(text.begin(), text.end()); };
  const std::string forced = "######  コマンド強制終了  ######\n";
  const std::string ver = "ver 6.3\r\n";
  struct Case {
    const char* command;
    std::optional<fakes::ScriptedProcess> script;  // nullopt: cannot be started
    os::OsError pipeFailure;
    std::string text;
    std::uint64_t tookMs;
    std::uint64_t stopAtMs = 0;  // when the service asks to stop; 0: never
  };
  const Case cases[] = {
      {"cmd /c ver", fakes::ScriptedProcess{10, false, bytes(ver), 0}, os::kSuccess, ver, 10},
      {"missing.exe /q", std::nullopt, os::kSuccess, "NG: missing.exe /q 2", 0},
      {"hang.exe", fakes::ScriptedProcess{0, true, bytes("partial"), 0}, os::kSuccess, "partial" + forced, 400'000},
      // Writes without end: read once a slice, kept up to the bound.
      {"spew.exe", fakes::ScriptedProcess{0, true, std::vector<std::uint8_t>(16 * 1024, 'x'), 0, true}, os::kSuccess,
       std::string(kRunCommandMaxOutputBytes, 'x') + forced, 400'000},
      // A stop ends a hung command at the next slice, not after 400 s.
      {"hang.exe", fakes::ScriptedProcess{0, true, bytes("partial"), 0}, os::kSuccess, "partial" + forced, 30'000, 25'000},
  };
  for (const Case& c : cases) {
    fakes::FakeOs os(true);
    if (c.script) os.processes.Script(c.command, *c.script);
    os.processes.pipeFailure = c.pipeFailure;
    const auto stopRequested = [&] { return c.stopAtMs != 0 && os.clock.MillisecondsSinceStart() >= c.stopAtMs; };
    EXPECT_EQ(RunCommand(os.processes, os.system, c.command, stopRequested), c.text) << c.command;
    EXPECT_EQ(os.clock.MillisecondsSinceStart(), c.tookMs) << c.command;
    EXPECT_EQ(os.processes.terminated, c.text.ends_with(forced) ? 1 : 0) << c.command;
    for (const auto& launched : os.processes.Launched()) EXPECT_TRUE(launched.captureOutput);
  }
}

}  // namespace
}  // namespace orv
