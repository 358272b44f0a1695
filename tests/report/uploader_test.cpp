// The uploader's start, its configuration file and what its exit codes leave in the log.
#include <condition_variable>
#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fakes/fake_os.h"
#include "support/agent_fixture.h"
#include "os/object_security.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/base64.h"
#include "report/agent_ctrl_upload.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::HasSubstr;
constexpr const char* kUploader = "C:\\orvsvc\\ORVUPLD.exe";
constexpr const char* kConfig = "C:\\orvsvc\\config.ini";
constexpr const char* kCommandLine =
    "\"C:\\orvsvc\\ORVUPLD.exe\" --poolpath \"C:\\orvsvc\\MessagePool\" --rcount 6 --rseconds 10 "
    "--messagehide --configpath \"C:\\orvsvc\\config.ini\"";
constexpr const char* kFailurePrefix = "アップローダーでエラーが発生しました。\n[";

// An uploader that runs until the test lets it end.
class HeldLauncher final : public os::ProcessLauncher {
 public:
  class Child final : public os::ChildProcess {
   public:
    explicit Child(HeldLauncher& owner) : owner_(owner) {}
    bool Wait(std::uint32_t timeoutMs) override {
      std::unique_lock lock(owner_.mutex_);
      if (timeoutMs != os::kInfinite) return owner_.released_;
      owner_.changed_.wait(lock, [&] { return owner_.released_; });
      return true;
    }
    std::vector<std::uint8_t> ReadAvailableOutput() override { return {}; }
    std::optional<std::uint32_t> ExitCode() override { return owner_.exitCode; }
    void Terminate(std::uint32_t) override { ++owner_.terminated; }

   private:
    HeldLauncher& owner_;
  };

  os::OsResult<os::ChildProcess> Launch(const os::ProcessStart& start, os::LaunchStep&) override {
    std::lock_guard lock(mutex_);
    launched.push_back(start);
    return std::make_unique<Child>(*this);
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  std::vector<os::ProcessStart> launched;
  int terminated = 0;
  std::uint32_t exitCode = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
};

class UploaderTest : public orv::testing::AgentFixture {
 protected:
  UploaderTest() {
    os.registry.AddKey(kStatusKey);
    os.files.AddDirectory("C:\\orvsvc");
    os.files.AddDirectory("C:\\orvsvc\\MessagePool");
    os.files.AddFile(kUploader, "MZ");
  }

  os::OsPorts Ports(os::ProcessLauncher& processes) {
    return {os.registry, os.eventReporter, os.serviceHost, os.serviceManager, os.sync, os.clock,
            os.system,   os.process,       os.files,       processes,          os.eventLogStore,
            os.xmlReader, os.wmi,          os.pipes,       os.http,            os.crypto,
            os.adapters, os.devices,       os.counters,        os.shares,
            os.windowsUpdate,     os.storage, os.hid, os.diskService, os.volumes, os.encryption};
  }
  os::OsPorts Ports() { return Ports(os.processes); }

  void SetPassword(std::string_view password) {
    RegHandle::SetBinary(os.registry, kHklm, kStatusKey, "ProxyPassword",
                         fakes::FakeCrypto::Encrypt("TokHarvelinSeedQRZ", password));
  }

  // The configuration as the uploader reads it: BOM, Base64, then strict JSON.
  nlohmann::json Config() {
    const std::string content = os.files.Content(kConfig).value_or("");
    EXPECT_TRUE(content.starts_with("\xEF\xBB\xBF")) << "no config.ini with a byte order mark";
    const auto decoded = Base64Decode(std::string_view(content).substr(std::min<std::size_t>(3, content.size())));
    EXPECT_TRUE(decoded.has_value()) << "not Base64: " << content;
    configText = os.system.AnsiToUtf8(decoded.value_or(std::vector<std::uint8_t>{}));
    return nlohmann::json::parse(configText);  // throws, failing the test, when not JSON
  }

  void RunOnce(AgentCtrl_Upload& upload, std::optional<std::uint32_t> exitCode) {
    fakes::ScriptedProcess script;
    script.runsForMs = 5000;
    script.exitCode = exitCode;
    os.processes.Script(kCommandLine, script);
    EXPECT_TRUE(upload.LaunchUploader("00:11:22:33:44:55"));
    upload.StopUploader();
  }
  std::vector<std::string> FailureTexts() {
    std::vector<std::string> texts;
    for (const auto& entry : os.eventReporter.Entries()) {
      EXPECT_EQ(entry.eventId, event_id::kUploaderFailed);
      EXPECT_EQ(entry.kind, os::EventKind::Error);
      texts.push_back(entry.text);
    }
    return texts;
  }

  std::string configText;
};

TEST_F(UploaderTest, ConfigurationWithoutAProxyHasEmptyProxyMembers) {
  AgentCtrl_Upload upload(Ports());
  const DeviceId id{0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 1, 2, 3, 4, 5, 6, 7, 8};
  upload.SetDeviceId(&id);
  SetString("ProxyServer", "proxy.example");  // ignored while the proxy is not enabled
  ASSERT_TRUE(upload.WriteUploaderConfig("00:11:22:33:44:55"));
  Config();
  EXPECT_EQ(configText,
            "{\"device_id\":\"123456789ABCDEF00102030405060708\",\"mac_address\":\"00:11:22:33:44:55\","
            "\"proxy_host\":\"\",\"proxy_port\":\"\",\"proxy_user\":\"\",\"proxy_password\":\"\"}");
}

TEST_F(UploaderTest, AnEnabledProxyIsWrittenWithItsPasswordEscaped) {
  SetDword("ProxyEnable", 1);
  SetString("ProxyServer", "proxy.example");
  SetDword("ProxyPort", 8080);
  SetString("ProxyUser", "domain\\user");
  SetPassword("pa\"ss\\word");
  AgentCtrl_Upload upload(Ports());
  ASSERT_TRUE(upload.WriteUploaderConfig("00:11:22:33:44:55"));
  nlohmann::json config = Config();
  EXPECT_EQ(config["proxy_host"], "proxy.example");
  EXPECT_EQ(config["proxy_port"], "8080");
  EXPECT_EQ(config["proxy_user"], "domain\\user");
  EXPECT_EQ(config["proxy_password"], "pa\"ss\\word");
  EXPECT_EQ(config.size(), 6U);
  // Order and the plain form of what needs no escaping are kept byte for byte.
  EXPECT_EQ(configText.find("\"proxy_host\":\"proxy.example\",\"proxy_port\":\"8080\""),
            configText.find("\"proxy_host\""));

  // No port and no readable password: "0" and an empty password.
  RegHandle::DeleteValue(os.registry, kHklm, kStatusKey, "ProxyPort");
  RegHandle::DeleteValue(os.registry, kHklm, kStatusKey, "ProxyPassword");
  ASSERT_TRUE(upload.WriteUploaderConfig("00:11:22:33:44:55"));
  config = Config();
  EXPECT_EQ(config["proxy_port"], "0");
  EXPECT_EQ(config["proxy_password"], "");

  // On code page 932 best fit would write "¥" as a backslash: what the code page cannot hold
  // exactly goes as \uXXXX, what it can stays as it is.
  os.system.codePage932 = true;
  SetString("ProxyUser", "営業¥yamada😀");
  ASSERT_TRUE(upload.WriteUploaderConfig("00:11:22:33:44:55"));
  EXPECT_EQ(Config()["proxy_user"], "営業¥yamada😀");
  EXPECT_THAT(configText, HasSubstr("\"proxy_user\":\"営業\\u00A5yamada\\uD83D\\uDE00\"")) << configText;
}

// The file holds the proxy password: only SYSTEM and Administrators may read it, and an
// uploader reading it while it is rewritten finds the old file or the new one, whole.
TEST_F(UploaderTest, TheConfigurationIsProtectedAndReplacedWhole) {
  const std::string temporary = std::string(kConfig) + ".tmp";
  for (const bool renameFails : {false, true}) {
    SCOPED_TRACE(renameFails ? "the rename fails" : "written");
    os.files.AddFile(kConfig, "old");           // written by an earlier agent, folder's access list
    os.files.AddFile(temporary, "stale");       // left by a run that ended between the two steps
    os.files.replaceError = renameFails ? os::kErrorAccessDenied : os::kSuccess;
    std::optional<std::string> seenMeanwhile;
    std::optional<std::string> temporarySecurity;
    os.files.beforeReplace = [&] {
      seenMeanwhile = os.files.Content(kConfig);
      temporarySecurity = os.files.SecurityOf(temporary);
    };
    AgentCtrl_Upload upload(Ports());
    EXPECT_EQ(upload.WriteUploaderConfig("00:11:22:33:44:55"), !renameFails);
    EXPECT_EQ(seenMeanwhile, "old");
    EXPECT_EQ(temporarySecurity, std::string(os::kSystemAndAdminsFile)) << "protected from its first byte";
    EXPECT_FALSE(os.files.FileExists(temporary));
    if (renameFails) {
      EXPECT_EQ(os.files.Content(kConfig), "old");
      EXPECT_EQ(os.eventReporter.Ids(), std::vector<std::uint32_t>{event_id::kUploaderConfigWriteFailed});
    } else {
      EXPECT_EQ(os.files.SecurityOf(kConfig), std::string(os::kSystemAndAdminsFile));
      EXPECT_EQ(Config()["mac_address"], "00:11:22:33:44:55");
      EXPECT_TRUE(os.eventReporter.Entries().empty());
    }
  }
}

TEST_F(UploaderTest, OneUploaderAtATimeAndStoppingWaitsForIt) {
  HeldLauncher launcher;
  {
    AgentCtrl_Upload upload(Ports(launcher));
    EXPECT_TRUE(upload.LaunchUploader("00:00:00:00:00:01"));
    os.files.RemoveFile(kConfig);
    EXPECT_TRUE(upload.LaunchUploader("00:00:00:00:00:02")) << "a running uploader is no failure";
    EXPECT_EQ(Config()["mac_address"], "00:00:00:00:00:02") << "rewritten all the same";
    launcher.Release();
    // Destruction waits for the uploader thread, which ends only with the released uploader.
  }
  EXPECT_EQ(launcher.launched.size(), 1U);
  EXPECT_EQ(launcher.terminated, 0);
  EXPECT_TRUE(os.eventReporter.Entries().empty());
}

// A stop gives a hung uploader a bounded wait, then leaves it running: never killed, and its
// late end is still judged, though the object that started it is gone.
TEST_F(UploaderTest, AHungUploaderIsLeftRunningAndJudgedWhenItEnds) {
  HeldLauncher launcher;
  launcher.exitCode = 64;  // a failure logged at once
  {
    AgentCtrl_Upload upload(Ports(launcher));
    EXPECT_TRUE(upload.LaunchUploader("00:00:00:00:00:01"));
    EXPECT_FALSE(upload.StopUploader(50)) << "still running after the wait";
  }
  EXPECT_EQ(launcher.terminated, 0);
  EXPECT_TRUE(os.eventReporter.Entries().empty());
  launcher.Release();
  ASSERT_TRUE(os.eventReporter.WaitForEntries(1));
  EXPECT_EQ(os.eventReporter.Entries()[0].eventId, event_id::kUploaderFailed);
}

TEST_F(UploaderTest, AHeldFailureSurfacesAtTheNextSuccess) {
  AgentCtrl_Upload upload(Ports());
  RunOnce(upload, 35);
  EXPECT_TRUE(FailureTexts().empty());
  RunOnce(upload, 8);  // success: the held one is reported
  EXPECT_EQ(FailureTexts(), (std::vector<std::string>{
                                std::string(kFailurePrefix) + "設定ファイルに識別情報が見つかりません(CODE=35)。]"}));
  RunOnce(upload, 0);
  EXPECT_EQ(FailureTexts().size(), 1U) << "reported once";
  RunOnce(upload, 36);
  RunOnce(upload, std::nullopt);  // an exit code that cannot be read is a success too
  EXPECT_EQ(FailureTexts().back(), std::string(kFailurePrefix) + "設定ファイルに識別情報が見つかりません(CODE=36)。]");
  EXPECT_EQ(FailureTexts().size(), 2U);
}

TEST(UploaderExitTest, CodesAreReadByTheTable) {
  EXPECT_TRUE(DescribeUploaderExit("x", 0).success);
  EXPECT_TRUE(DescribeUploaderExit("x", 1).success);
  EXPECT_TRUE(DescribeUploaderExit("x", 8).success);
  const UploaderExitMeaning undefined = DescribeUploaderExit("x", 2);
  EXPECT_FALSE(undefined.success);
  EXPECT_FALSE(undefined.held);
  EXPECT_EQ(undefined.message, "未定義のエラーです。");
  const UploaderExitMeaning rcount = DescribeUploaderExit("\"a%sb\" --x", 16);
  EXPECT_TRUE(rcount.held);
  EXPECT_EQ(rcount.message, "--rcount に指定された値が不正です(\"a%sb\" --x)。");
  EXPECT_EQ(DescribeUploaderExit("x", 104).message, "データ送信のための認証に失敗しました。本製品は登録されていません。");
  EXPECT_EQ(DescribeUploaderExit("x", 0xC0000005).message, "未定義のエラーです。");
}

}  // namespace
}  // namespace orv
