// SendPipe against the in-memory pipes, and the test switches against the in-memory files.
#include "service/send_pipe.h"

#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/pipe_records.h"
#include "service/test_mode.h"

namespace orv::service {
namespace {

class SendPipeTest : public ::testing::Test {
 protected:
  fakes::FakeOs os;
  SendPipe pipe{os.pipes, std::string(kSettingsPipeName)};
};

TEST_F(SendPipeTest, DeliversTheWholeRecordInOneWrite) {
  auto server = os.pipes.CreateServer(kSettingsPipeName);
  ASSERT_TRUE(server);
  const PipeNoticeBytes notice = SerializePipeNotice({1, "ok"}, os.system);
  ASSERT_TRUE(pipe.Send(notice));
  EXPECT_EQ(pipe.LastError(), os::kSuccess);
  EXPECT_TRUE(pipe.ErrorText().empty());

  ASSERT_EQ(server->WaitForClient(1000), os::kSuccess);
  std::vector<std::uint8_t> received;
  ASSERT_EQ(server->Read(received, 4096, 1000), os::kSuccess);
  EXPECT_EQ(received, std::vector<std::uint8_t>(notice.begin(), notice.end()));
  // A program serving the name in the real one's place may learn who wrote, never act as SYSTEM.
  EXPECT_EQ(os.pipes.identifyOnlyConnects, std::vector<std::string>{std::string(kSettingsPipeName)});
  // The client closed after writing: the next read sees the broken pipe, not a hang.
  EXPECT_EQ(server->Read(received, 4096, 1000), os::kErrorBrokenPipe);
}

TEST_F(SendPipeTest, NoSettingsProgramIsAnOpenFailureUntilTheNextSuccess) {
  EXPECT_FALSE(pipe.Send(std::vector<std::uint8_t>(260)));
  EXPECT_EQ(pipe.ErrorText(), kSendPipeOpenFailed);
  EXPECT_EQ(pipe.LastError(), os::kErrorFileNotFound);
  auto server = os.pipes.CreateServer(kSettingsPipeName);
  EXPECT_TRUE(pipe.Send(std::vector<std::uint8_t>(4)));
  EXPECT_EQ(pipe.LastError(), os::kSuccess);
  EXPECT_TRUE(pipe.ErrorText().empty());
}

TEST_F(SendPipeTest, WriteFailureIsReportedWithItsCode) {
  auto server = os.pipes.CreateServer(kSettingsPipeName);
  os.pipes.clientWriteFailure = os::kErrorNoData;
  EXPECT_FALSE(pipe.Send(std::vector<std::uint8_t>(260)));
  EXPECT_EQ(pipe.ErrorText(), kSendPipeWriteFailed);
  EXPECT_EQ(pipe.LastError(), os::kErrorNoData);
}

// A system call can fail without setting an error code; the caller must still see one, or a
// failed send would be logged with code 0, "no error".
TEST(SendPipeCodelessFailureTest, StillReportsAnErrorCode) {
  class CodelessPipes final : public os::NamedPipes {
   public:
    os::OsResult<os::PipeEnd> Connect(std::string_view, std::uint32_t) override { return os::kSuccess; }
    os::OsResult<os::PipeServer> CreateServer(std::string_view) override { return os::kSuccess; }
    os::OsResult<os::PipeEnd> ConnectIdentifyOnly(std::string_view, std::uint32_t) override {
      return os::kSuccess;
    }
    os::OsResult<os::PipeServer> CreateServerWith(std::string_view, const os::PipeServerOptions&) override {
      return os::kSuccess;
    }
  } pipes;
  SendPipe pipe{pipes, std::string(kSettingsPipeName)};
  EXPECT_FALSE(pipe.Send(std::vector<std::uint8_t>(4)));
  EXPECT_EQ(pipe.ErrorText(), kSendPipeOpenFailed);
  EXPECT_NE(pipe.LastError(), os::kSuccess);
}

class TestModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    os.system.executablePath = "C:\\orvsvc\\ORVSVC.exe";
    os.files.AddDirectory("C:\\orvsvc");
  }
  bool On(std::string_view name) { return IsTestMode(name, os.files, os.system); }
  fakes::FakeOs os;
};

TEST_F(TestModeTest, OtherNamesPlacesAndKindsHaveNoEffect) {
  os.files.AddFile("C:\\orvsvc\\SVS_TESTMODE_9", "");
  os.files.AddFile("C:\\orvsvc\\SVS_TESTMODE_1.txt", "");
  os.files.AddDirectory("C:\\orvsvc\\SVS_TESTMODE_2");
  os.files.AddDirectory("C:\\other");
  os.files.AddFile("C:\\other\\SVS_TESTMODE_4", "");
  // SVS_TESTMODE_2 is a folder, not a switch; SVS_TESTMODE_4 lies in another folder.
  for (const char* name : {"SVS_TESTMODE_9", "SVS_TESTMODE_1", "SVS_TESTMODE_1.txt",
                           "SVS_TESTMODE_2", "SVS_TESTMODE_4", "..\\SVS_TESTMODE_3", ""}) {
    EXPECT_FALSE(On(name)) << name;
  }
  os.files.AddFile("C:\\orvsvc\\SVS_TESTMODE_5", "");
  os.system.executablePath = "";
  EXPECT_FALSE(On("SVS_TESTMODE_5")) << "no folder of the executable to look in";
}

}  // namespace
}  // namespace orv::service
