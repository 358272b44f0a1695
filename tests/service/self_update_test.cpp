// The self-update against a scripted cloud: what is compared, what is downloaded, what is
// trusted and started, and what the settings program is told.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fakes/fake_os.h"
#include "support/agent_fixture.h"
#include "model/pipe_records.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "report/model_identity.h"
#include "service/orv_svc_ctrl.h"
#include "service/send_pipe.h"
#include "service/service_identity.h"
#include "service/service_instance.h"
#include "support/shared_names.h"

namespace orv {
namespace {

const DeviceId kDevice{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr const char* kWork = "C:\\Windows\\Temp\\ORVANE_UPDATE";
constexpr const char* kInstallerArguments = " /s /v\"/qn SILENTNAS=1\"";
const std::string kSelfUpdateInstaller = std::string(kWork) + "\\ORVSetup.exe";
const std::string kSelfUpdateInstallerCommand = "\"" + kSelfUpdateInstaller + "\"" + kInstallerArguments;

std::string Definition(const char* version) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<config>\r\n  <ver>") + version +
         "</ver>\r\n</config>";
}

class SelfUpdateTest : public orv::testing::AgentFixture {
 protected:
  SelfUpdateTest() {
    os.registry.AddKey(kStatusKey);
    os.registry.AddKey(kCommonKey);
    os.registry.AddKey(kNasKey);
    const std::string entry = std::string(kUninstallKey) + "\\{ORVSVC}";
    os.registry.AddKey(entry);
    RegHandle::SetString(os.registry, kHklm, entry, "DisplayName", "Orvane Service Agent Program");
    RegHandle::SetString(os.registry, kHklm, entry, "DisplayVersion", "1.20.0.0");
    os.files.AddDirectory("C:\\orvsvc");
    os.files.AddDirectory("C:\\Windows\\Temp");
    os.adapters.adapters = {os::RawAdapter{"Ethernet", {0, 0x11, 0x22, 0, 0, 1}, 1, {}, {}, {}}};
    upload = std::make_unique<AgentCtrl_Upload>(os.Ports());
    upload->Initialize();
    upload->SetDeviceId(&kDevice);
    controller.SetState(AgentState::Monitoring);
    os.http.handler = [this](const os::HttpRequest& request, os::HttpResponse& response, os::OsError&) {
      std::string body = "{}";
      response.status = 200;
      if (request.path.ends_with("/software")) {
        response.status = softwareStatus;
        body = R"({"ms_ver":"2.0","agt_ver":")" + offeredAgent + R"(","ms_url":"","agt_url":")" + agentUrl +
               R"(","event_def":)" + nlohmann::json(offeredDefinition).dump() + "}";
      } else if (request.host == "downloads.orvane.example") {
        response.status = downloadStatus;
        body = "MZ installer bytes";
      }
      response.body.assign(body.begin(), body.end());
      return true;
    };
  }

  // Runs the check with a stand-in settings program listening; its notice, if any.
  int Check(service::PipeNotice* notice = nullptr) {
    std::unique_ptr<os::PipeServer> server;
    if (notice != nullptr) server = os.pipes.CreateServer(service::kSettingsPipeName).take();
    const int result = static_cast<int>(controller.CheckLatestSoftware(*upload));
    if (notice != nullptr) {
      std::vector<std::uint8_t> bytes;
      if (server && server->WaitForClient(0) == os::kSuccess) (void)server->Read(bytes, 4096, 1000);
      if (bytes.size() != service::notice_layout::kSize) {
        ADD_FAILURE() << "no notice, " << bytes.size() << " bytes";
        return result;
      }
      notice->result = bytes[0];
      notice->text = std::string(reinterpret_cast<const char*>(bytes.data() + 4));
    }
    return result;
  }
  void SignInstaller(const std::string& path, std::string subject, os::OsError trust = os::kSuccess) {
    os.crypto.SetSigner(path, {"Test Root", std::move(subject)}, trust);
  }
  std::vector<std::string> Launched() {
    std::vector<std::string> lines;
    for (const auto& start : os.processes.Launched()) lines.push_back(start.commandLine);
    return lines;
  }
  // A newer agent on offer, its download signed by the publisher, its installer able to start.
  void OfferSignedAgent() {
    offeredAgent = "1.30";
    SignInstaller(kSelfUpdateInstaller, "Tavolen Co.,Ltd.");
    os.processes.Script(kSelfUpdateInstallerCommand, {});
  }

  std::unique_ptr<AgentCtrl_Upload> upload;
  CORVSvcCtrl controller{os.Ports(), kServiceName, kServiceDisplayName, kServiceWin32OwnProcess};
  std::string offeredAgent = "1.20";
  std::string offeredDefinition = Definition("1.00");
  std::string agentUrl = "https://downloads.orvane.example/agent/ORVSetup.exe";
  std::uint32_t softwareStatus = 200;
  std::uint32_t downloadStatus = 200;
};

TEST_F(SelfUpdateTest, VersionsCompareAsDecimalNumbers) {
  service::PipeNotice notice;
  EXPECT_EQ(Check(&notice), 4) << "the same version";
  EXPECT_EQ(notice.result, 0U);
  EXPECT_EQ(notice.text, "既に最新版です。");
  EXPECT_EQ(os.eventReporter.Ids().front(), event_id::kSoftwareCheckStarted);
  RegHandle::SetString(os.registry, kHklm, std::string(kUninstallKey) + "\\{ORVSVC}", "DisplayVersion", "1.10.0.0");
  upload = std::make_unique<AgentCtrl_Upload>(os.Ports());
  upload->Initialize();
  offeredAgent = "1.9";  // 1.9 > 1.10 read as numbers
  EXPECT_EQ(Check(), 5) << "an update is attempted (and fails here: the download is not signed)";
  EXPECT_TRUE(Logged(event_id::kSignatureRejected));
}

TEST_F(SelfUpdateTest, ANewerDefinitionReplacesTheFile) {
  offeredDefinition = Definition("1.50");
  service::PipeNotice notice;
  EXPECT_EQ(Check(&notice), 8);
  EXPECT_EQ(notice.result, 1U);
  EXPECT_EQ(upload->EventDefinitions().GetVersion(), "1.50");
  EXPECT_EQ(*os.files.Content("C:\\orvsvc\\ORVCONFIG.xml"), "\xEF\xBB\xBF" + offeredDefinition);
  EXPECT_TRUE(Logged(event_id::kDefinitionUpdateStarted));

  offeredDefinition = "<config><ver>1.90</ver>";  // no closing tag: never extracted
  EXPECT_EQ(Check(), 4);
  offeredDefinition = "<config></config>";  // no version: never replaces
  EXPECT_EQ(Check(), 4);
  offeredDefinition = "<config><ver>2.00</ver><broken></config>";  // newer, but does not load
  EXPECT_EQ(Check(), 7);
}

TEST_F(SelfUpdateTest, ASignedAgentIsDownloadedVerifiedAndStarted) {
  OfferSignedAgent();
  const std::string& installer = kSelfUpdateInstaller;
  SignInstaller(installer, "tavolen co.,ltd.");  // the publisher, in other letter case
  service::PipeNotice notice;
  EXPECT_EQ(Check(&notice), 6);
  EXPECT_EQ(notice.result, 1U);
  EXPECT_EQ(*os.files.Content(installer), "MZ installer bytes");
  EXPECT_EQ(Launched(), (std::vector<std::string>{kSelfUpdateInstallerCommand}));
  EXPECT_TRUE(Logged(event_id::kUpdateStarted));
}

TEST_F(SelfUpdateTest, OnlyATrustedSignatureOfAnAcceptedPublisherIsStarted) {
  offeredAgent = "1.30";
  const std::string& installer = kSelfUpdateInstaller;
  struct Case {
    const char* subject;   // as a parse of the file reads it
    const char* verified;  // the signer the verification accepted; null: the same
    os::OsError trust;
  };
  for (const Case& c : {Case{"Evil Co.,Ltd.", nullptr, 0}, Case{"Tavolen Co.,Ltd.", nullptr, fakes::FakeCrypto::kUntrustedRoot},
                        Case{"Tavolen Co.,Ltd.", "Evil Co.,Ltd.", 0}}) {
    SignInstaller(installer, c.subject, c.trust);
    if (c.verified != nullptr) os.crypto.SetVerifiedSigner(installer, {"Test Root", c.verified});
    EXPECT_EQ(Check(), 5) << c.subject;
    EXPECT_TRUE(Launched().empty()) << c.subject;
  }
  EXPECT_TRUE(Logged(event_id::kSignatureRejected));
}

TEST_F(SelfUpdateTest, OverTlsThePlainDownloadIsRefused) {
  OfferSignedAgent();
  for (const char* url : {"http://downloads.orvane.example/agent/ORVSetup.exe",
                          "http://downloads.orvane.example/https/ORVSetup.exe"}) {
    agentUrl = url;
    os.eventReporter.ClearRecords();
    EXPECT_EQ(Check(), 5) << url;
    EXPECT_TRUE(Logged(event_id::kDownloadFailed)) << url;
  }
  for (const auto& request : os.http.requests) EXPECT_NE(request.host, "downloads.orvane.example");
  agentUrl = "https://downloads.orvane.example/agent/ORVSetup.exe";
  EXPECT_EQ(Check(), 6);
  EXPECT_TRUE(os.http.requests.back().secure);
}

TEST_F(SelfUpdateTest, TheVerifiedInstallerStaysUnchangedUntilItStarts) {
  OfferSignedAgent();
  const std::string& installer = kSelfUpdateInstaller;
  // Another user tries to put other bytes there in the second before the start.
  std::vector<os::OsError> attempts;
  os.clock.ScheduleAt(os.clock.MillisecondsSinceStart() + 1, [&] {
    const std::string evil = "MZ evil";
    attempts.push_back(os.files.WriteWholeFile(installer, {reinterpret_cast<const std::uint8_t*>(evil.data()), evil.size()},
                                               os::CreateMode::ReplaceExisting));
    attempts.push_back(os.files.RemoveFile(installer));
  });
  std::string started;
  os.processes.OnLaunch(kSelfUpdateInstallerCommand, [&] { started = os.files.Content(installer).value_or(""); });
  EXPECT_EQ(Check(), 6);
  EXPECT_EQ(attempts, (std::vector<os::OsError>{os::kErrorSharingViolation, os::kErrorSharingViolation}));
  EXPECT_EQ(started, "MZ installer bytes");
  EXPECT_FALSE(os.files.IsHeld(installer)) << "released once started";
}

TEST_F(SelfUpdateTest, AServerChosenFileNameNeverLeavesTheWorkFolder) {
  offeredAgent = "1.30";
  for (const char* url : {"https://downloads.orvane.example/agent/..", "https://downloads.orvane.example/agent/",
                          "https://downloads.orvane.example/a\\..\\..\\evil.exe", "https://downloads.orvane.example/C:x.exe"}) {
    agentUrl = url;
    EXPECT_EQ(Check(), 5) << url;
  }
  for (const auto& request : os.http.requests) EXPECT_NE(request.host, "downloads.orvane.example");
  EXPECT_TRUE(Launched().empty());
}

TEST_F(SelfUpdateTest, JunctionsInTheWorkFolderAreRemovedNeverFollowed) {
  OfferSignedAgent();
  const std::string work = kWork;
  const std::string& installer = kSelfUpdateInstaller;
  // A user's junction in the old work folder, and then the work folder itself as one.
  os.files.AddFile(work + "\\old.exe", "");
  os.files.AddFile(work + "\\system\\precious.dll", "");
  os.files.links.insert("c:\\windows\\temp\\orvane_update\\system");
  EXPECT_EQ(Check(), 6);
  os.files.AddFile(work + "\\precious.dll", "");
  os.files.links.insert("c:\\windows\\temp\\orvane_update");
  EXPECT_EQ(Check(), 6);
  // A folder swapped for a junction after its parent was listed.
  os.files.AddFile(work + "\\cache\\a.tmp", "");
  os.files.afterListing = [&](const std::string& folder) {
    if (folder != work || os.files.IsLink(work + "\\cache")) return;
    EXPECT_EQ(os.files.ReplaceWithLink(work + "\\cache"), os::kSuccess);
    os.files.AddFile(work + "\\cache\\precious.dll", "");
  };
  EXPECT_EQ(Check(), 6);
  EXPECT_EQ(os.files.removedFiles, (std::vector<std::string>{work + "\\old.exe", installer}))
      << "nothing behind a junction was deleted";
  EXPECT_FALSE(os.files.IsLink(kWork)) << "the installer was written to a folder made for it";
  EXPECT_TRUE(os.files.privateFolders.contains("c:\\windows\\temp\\orvane_update"));
}

TEST_F(SelfUpdateTest, AWorkFolderSomeoneElseOwnsIsMovedAsideNeverWalked) {
  OfferSignedAgent();
  const std::string work = kWork;
  const std::string& installer = kSelfUpdateInstaller;
  os.files.AddFile(work + "\\mine.txt", "a user's");
  os.files.AddFile(work + "\\system\\precious.dll", "");
  os.files.links.insert("c:\\windows\\temp\\orvane_update\\system");
  os.files.owners["c:\\windows\\temp\\orvane_update"] = os::PathOwner::Other;
  EXPECT_EQ(Check(), 6);
  EXPECT_TRUE(os.files.removedFiles.empty());
  std::vector<os::FileEntry> temp;
  ASSERT_EQ(os.files.ListDirectory("C:\\Windows\\Temp", temp), os::kSuccess);
  ASSERT_EQ(temp.size(), 2U);
  const std::string aside = "C:\\Windows\\Temp\\" + (temp[0].name == "ORVANE_UPDATE" ? temp[1] : temp[0]).name;
  EXPECT_EQ(os.files.Content(aside + "\\mine.txt"), "a user's") << aside;
  EXPECT_EQ(os.files.Content(installer), "MZ installer bytes");
}

TEST_F(SelfUpdateTest, AWorkFolderThatCannotBeMadeOursIsAFailedUpdate) {
  offeredAgent = "1.30";
  for (const auto& [makeError, owner] : {std::pair{os::OsError{5}, os::PathOwner::System},
                                         std::pair{os::kSuccess, os::PathOwner::Other}}) {
    os.files.makeDirectoryError = makeError;
    os.files.ownerOfNewFolders = owner;
    os.eventReporter.ClearRecords();
    EXPECT_EQ(Check(), 5);
    EXPECT_TRUE(Logged(event_id::kUpdateFileFailed));
    for (const auto& request : os.http.requests) EXPECT_NE(request.host, "downloads.orvane.example");
  }
}

}  // namespace
}  // namespace orv
