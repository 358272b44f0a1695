#include "service/diagnosis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_os.h"
#include "support/agent_fixture.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"
#include "service/program_entry.h"
#include "service/service_identity.h"
#include "support/message_file_checks.h"
#include "support/shared_names.h"

namespace orv {
namespace {

constexpr std::uint64_t kFileTimeUnitsPerDay = 864'000'000'000;

// Everything the agent could leave behind, counted so that a write that restores what was
// there is caught too.
struct Traces {
  int registry = 0;
  int files = 0;
  std::size_t events = 0;
  std::size_t requests = 0;
  std::size_t launches = 0;
  int pipes = 0;
  std::size_t controls = 0;

  static Traces Of(fakes::FakeOs& os) {
    Traces traces{os.registry.changeAttempts(), os.files.changeAttempts(), os.eventReporter.Entries().size(),
                  os.http.requests.size(), os.processes.Launched().size(), 0, 0};
    {
      std::lock_guard lock(os.pipes.mutex);
      traces.pipes = os.pipes.openAttempts;
    }
    for (const auto& [name, service] : os.serviceManager.services) {
      traces.controls += service.controlsReceived.size() + static_cast<std::size_t>(service.securitySets);
    }
    return traces;
  }
  bool operator==(const Traces&) const = default;
};

// The value printed on the line of `label`, blanks around it dropped; "<missing>" when no
// line has that label.
std::string ValueOf(const std::string& text, const std::string& label) {
  const std::string start = "\r\n  " + label + " ";
  const std::size_t at = text.find(start);
  if (at == std::string::npos) return "<missing>";
  const std::size_t first = text.find_first_not_of(' ', at + start.size());
  return text.substr(first, text.find("\r\n", first) - first);
}

class DiagnosisTest : public orv::testing::AgentFixture {
 protected:
  DiagnosisTest() : AgentFixture(/*simulatedTime=*/true) {}
  // A registered, running appliance with open conditions, a pool holding messages and a
  // board whose model needs wmic.exe: every path that could be tempted to write.
  void Populate() {
    for (std::string_view key : {kStatusKey, kCommonKey, kNasKey}) os.registry.AddKey(key);
    SetDword("CheckInterval", 0);
    SetDword("OutputInterval", 600);
    SetDword("ServiceStatus", 3);
    SetDword("FileCount", 42);
    SetDword("DISKCapaThreshold", 25);
    SetDword("HDDTempThreshold", RegHandle::kMissingDword);
    (void)RegHandle::SetBinary(os.registry, kHklm, kStatusKey, "DEVICEID",
                               std::vector<std::uint8_t>{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                                         0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
    (void)RegHandle::SetBinary(os.registry, kHklm, kStatusKey, "ProxyPassword", std::vector<std::uint8_t>(12, 7));
    (void)RegHandle::SetString(os.registry, kHklm, kStatusKey, "MessagePoolPath", "D:\\gone");
    (void)RegHandle::SetString(os.registry, kHklm, kNasKey, "CPUFanStatusTable", "[4080][1][1][1500][fan slow][][0]");
    (void)RegHandle::SetMultiString(os.registry, kHklm, kNasKey, "HDDStaStatusTable",
                                    std::vector<std::string>{"[4020][1][2][][disk 2 failed][Disk2][4]"});
    os.registry.AddKey("HARDWARE\\DESCRIPTION\\System\\BIOS");
    (void)RegHandle::SetString(os.registry, kHklm, "HARDWARE\\DESCRIPTION\\System\\BIOS", "BaseBoardProduct",
                               "MDL-Q01");

    const std::uint64_t now = ToFileTime(os.clock.UtcNow());
    os.files.AddDirectory("C:\\orvsvc\\MessagePool");
    os.files.AddFile("C:\\orvsvc\\ORVUPLD.exe", "MZ");
    os.files.AddFile("C:\\orvsvc\\MessagePool\\RE2A.json", std::string(100, 'e'), now - 2 * kFileTimeUnitsPerDay);
    os.files.AddFile("C:\\orvsvc\\MessagePool\\RE2B.json", std::string(50, 'e'), now);
    os.files.AddFile("C:\\orvsvc\\MessagePool\\rl2c.JSON", std::string(30, 's'), now);
    os.files.AddFile("C:\\orvsvc\\MessagePool\\notes.txt", "x", now - 9 * kFileTimeUnitsPerDay);

    fakes::FakeService& service = os.serviceManager.services[std::string(kServiceName)];
    service.status.currentState = kServiceRunning;
  }
  std::string Diagnose() {
    EXPECT_EQ(RunProgram(os.Ports(), "\"C:\\orvsvc\\ORVSVC.exe\" -Diag"), 0);
    return os.process.Console();
  }

};

// What it shows, and that it writes nothing anywhere.
TEST_F(DiagnosisTest, ShowsEffectiveSettingsStateAndPoolAndTheStatusItWouldWrite) {
  const std::string bare = Diagnose();
  EXPECT_EQ(ValueOf(bare, "state at next reading"), "1 unregistered (no device identifier)");
  Populate();
  const Traces before = Traces::Of(os);
  const std::string text = Diagnose().substr(bare.size());
  EXPECT_TRUE(Traces::Of(os) == before);
  EXPECT_EQ(os.serviceManager.openHandles, 0);
  const struct {
    const char* label;
    const char* value;
  } kExpected[] = {
      {"installed", "yes"},
      {"state", "running"},
      {"access list",
       "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLOCRRC;;;IU)"
       "(A;;CCLCSWLOCRRC;;;SU) (lets other users control the service)"},
      {"CheckInterval", "60 (default)"},  // 0 would mean no pause between rounds
      {"HDDTempThreshold", "60 (default)"},  // a stored 0xFFFFFFFF counts as missing
      {"AutoUpdate", "not set (no automatic update)"},
      {"ProxyPassword", "set (12 bytes, encrypted, not shown)"},
      {"stored state", "3 monitoring stopped"},
      {"state at next reading", "3 monitoring stopped"},
      {"DEVICEID", "00112233445566778899AABBCCDDEEFF"},
      {"model flags", "0x00000000 (this board needs wmic.exe, which -diag does not run)"},
      {"held uploader code", "not readable outside the service (see event 0xC0000526)"},
      {"folder", "C:\\orvsvc\\MessagePool (MessagePoolPath is not an existing folder)"},
      {"RE (event) files", "2, 150 bytes"},
      {"RL (status) files", "1, 30 bytes"},
      {"oldest message", "2 d 00:00:00 old"},
      {"CPUFanStatusTable", "act_id 4080, act_sts 1, act_trg 1: fan slow"},
      {"HDDStaStatusTable", "act_id 4020, act_sts 1, act_trg 2, item Disk2: disk 2 failed"},
  };
  for (const auto& expected : kExpected) EXPECT_EQ(ValueOf(text, expected.label), expected.value) << expected.label;

  // The status message it would write, printed (and marked so) instead, as strict JSON.
  const std::size_t start = text.find("\r\n{\r\n");
  ASSERT_NE(start, std::string::npos);
  const std::string message = text.substr(start + 2);
  EXPECT_TRUE(orv::testing::IsStrictJsonMessage("\xEF\xBB\xBF" + message));
  EXPECT_NE(message.find("\"dev_id\":\"00112233445566778899AABBCCDDEEFF\""), std::string::npos) << message;
  EXPECT_NE(text.find("NOT WRITTEN"), std::string::npos);
}

}  // namespace
}  // namespace orv
