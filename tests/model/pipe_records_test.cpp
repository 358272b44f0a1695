// The byte layouts the settings program reads: field positions, byte order, text cutting.
#include "model/pipe_records.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "fakes/fake_system.h"

namespace orv::service {
namespace {

std::string TextAt(const auto& bytes, RecordField field) {
  std::string text;
  for (std::size_t i = field.offset; i < field.End() && bytes[i] != 0; ++i) {
    text.push_back(static_cast<char>(bytes[i]));
  }
  return text;
}

bool ZeroAfterText(const auto& bytes, RecordField field) {
  std::size_t i = field.offset;
  while (i < field.End() && bytes[i] != 0) ++i;
  for (; i < field.End(); ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(PipeNoticeTest, ResultIsLittleEndianAndTextZeroPadded) {
  fakes::FakeSystemInfo system;
  const PipeNoticeBytes bytes = SerializePipeNotice({0x01020304u, "更新に失敗しました。"}, system);
  ASSERT_EQ(bytes.size(), 260u);
  EXPECT_EQ(bytes[0], 0x04);
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_EQ(TextAt(bytes, notice_layout::kText), "更新に失敗しました。");
  EXPECT_TRUE(ZeroAfterText(bytes, notice_layout::kText));
  // The state notice: result 1, all else zero.
  const PipeNoticeBytes state = SerializePipeNotice({}, system);
  EXPECT_EQ(state[0], 1);
  for (std::size_t i = 1; i < state.size(); ++i) ASSERT_EQ(state[i], 0) << i;
}

TEST(PipeNoticeTest, LongTextsKeepTheirTerminatorAndCutNeverSplitsACharacter) {
  // The notice's text field holds 255 bytes and its terminator. In code page 932 (the
  // appliances') "あ" is two bytes, in a UTF-8 code page three; half a character would reach
  // the settings program as "?" or garbage, so a character that does not fit goes whole.
  const struct {
    bool codePage932;
    std::string text;
    std::string expected;
  } rows[] = {
      {true, std::string(254, 'a') + "あい", std::string(254, 'a')},
      {true, std::string(253, 'a') + "あい", std::string(253, 'a') + "\x82\xA0"},
      {false, std::string(253, 'a') + "あい", std::string(253, 'a')},
      {false, std::string(252, 'a') + "あい", std::string(252, 'a') + "あ"},
      {false, std::string(400, 'x'), std::string(255, 'x')},  // the terminator is kept
  };
  for (const auto& row : rows) {
    fakes::FakeSystemInfo system;
    system.codePage932 = row.codePage932;
    const PipeNoticeBytes bytes = SerializePipeNotice({1, row.text}, system);
    EXPECT_EQ(TextAt(bytes, notice_layout::kText), row.expected) << row.codePage932 << " " << row.text.size();
    EXPECT_TRUE(ZeroAfterText(bytes, notice_layout::kText));
  }
}

class RegistrationRecordTest : public ::testing::Test {
 protected:
  static RegistrationRecord Filled() {
    RegistrationRecord r{.modelFlags = 0x00400001u, .agentState = 2, .definitionVersion = "1.05", .productName = {},
                         .productId = "PRODUCT", .macAddress = "00-11-22-33-44-55", .boardMnemonic = "BOARD",
                         .boardName = {}, .boardSerial = "SER123", .biosVersion = "BIOS9", .osMnemonic = "WS2019",
                         .osName = {}, .osCode = "WIN", .osVersion = {}, .hostName = "NAS-0001",
                         .networkType = "200", .managementMnemonic = "MODEL", .managementVersion = "3.1",
                         .agentMnemonic = "ORVSVC", .agentVersion = "1.10", .moduleName = "ORVSVC.exe", .complete = 1,
                         .stopReason = "停止理由"};
    for (std::uint8_t i = 0; i < 16; ++i) r.deviceId[i] = static_cast<std::uint8_t>(0xA0 + i);
    return r;
  }
  fakes::FakeSystemInfo system;
};

TEST_F(RegistrationRecordTest, EveryFieldLandsAtItsOffset) {
  namespace L = registration_layout;
  const RegistrationRecordBytes b = SerializeRegistrationRecord(Filled(), system);
  ASSERT_EQ(b.size(), 1441u);
  EXPECT_EQ(b[0], 0x01);
  EXPECT_EQ(b[2], 0x40);
  EXPECT_EQ(b[4], 2);
  EXPECT_EQ(TextAt(b, L::kDefinitionVersion), "1.05");
  EXPECT_EQ(b[21], 0xA0);
  EXPECT_EQ(b[36], 0xAF);
  EXPECT_EQ(b[37], 0);  // product name is left empty by the agent
  // The offsets as the settings program reads them, written out rather than taken from the layout.
  const std::pair<RecordField, const char*> texts[] = {
      {{101, 64}, "PRODUCT"}, {{165, 32}, "00-11-22-33-44-55"}, {{197, 64}, "BOARD"}, {{389, 64}, "SER123"},
      {{453, 16}, "BIOS9"},   {{469, 64}, "WS2019"},            {{661, 32}, "WIN"},   {{821, 128}, "NAS-0001"},
      {{949, 8}, "200"},      {{957, 64}, "MODEL"},             {{1021, 16}, "3.1"},  {{1037, 64}, "ORVSVC"},
      {{1101, 16}, "1.10"},   {{1117, 64}, "ORVSVC.exe"}};
  for (const auto& [field, text] : texts) EXPECT_EQ(TextAt(b, field), text) << field.offset;
  EXPECT_EQ(b[1181], 1);
  EXPECT_EQ(b[1184], 0);
  EXPECT_EQ(TextAt(b, {1185, 256}), "停止理由");
  for (const RecordField field : L::kInOrder) {
    if (field.size > 4 && field.offset != L::kDeviceId.offset) {
      EXPECT_TRUE(ZeroAfterText(b, field)) << field.offset;
    }
  }
  const RegistrationRecordBytes empty = SerializeRegistrationRecord({}, system);
  for (std::size_t i = 0; i < empty.size(); ++i) ASSERT_EQ(empty[i], 0) << "an empty record is all zero, " << i;
}

TEST_F(RegistrationRecordTest, TextsLongerThanTheirFieldDoNotSpillIntoTheNext) {
  RegistrationRecord r = Filled();
  r.networkType = "123456789012";  // 8-byte field
  r.agentVersion = std::string(40, '9');
  const RegistrationRecordBytes b = SerializeRegistrationRecord(r, system);
  EXPECT_EQ(TextAt(b, {949, 8}), "1234567");
  EXPECT_EQ(b[956], 0);
  EXPECT_EQ(TextAt(b, {957, 64}), "MODEL");
  EXPECT_EQ(TextAt(b, {1101, 16}), std::string(15, '9'));
  EXPECT_EQ(TextAt(b, {1117, 64}), "ORVSVC.exe");
}

}  // namespace
}  // namespace orv::service
