// Reading values out of answer bodies, the answer record by kind and status, and the result texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webapi/agent_ctrl_webapi.h"

namespace orv {
namespace {

TEST(ExtractValueTest, KeyMatchesOnlyAsAWholeKey) {
  // The longer key first: its name begins with the shorter one.
  const std::string body = R"({"dev_id_changed":"1","dev_id":"0123456789ABCDEF0123456789ABCDEF"})";
  EXPECT_EQ(ExtractValue(body, "dev_id"), "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(ExtractValue(body, "dev_id_changed"), "1");
  // A key name inside a value, quoted or not, is not the key.
  EXPECT_EQ(ExtractValue(R"({"msg":"dev_id","note":"\"dev_id\":\"X\"","dev_id":"Y"})", "dev_id"), "Y");
  EXPECT_EQ(ExtractValue(R"({"msg":"dev_id:\"X\""})", "dev_id"), "");
  // A key that only ends like the one asked for.
  EXPECT_EQ(ExtractValue(R"({"old_dev_id":"X"})", "dev_id"), "");
}

TEST(ExtractValueTest, SpacingAndShapesAroundTheValue) {
  EXPECT_EQ(ExtractValue("{\r\n    \"ms_ver\" :\t \"2.1.0\"\r\n}", "ms_ver"), "2.1.0");
  EXPECT_EQ(ExtractValue(R"({"ms_ver":""})", "ms_ver"), "");
  EXPECT_EQ(ExtractValue(R"({"a":"1","a":"2"})", "a"), "1");  // the first wins
  // Escapes in ordinary values are kept as sent; the value ends at its own closing quote.
  EXPECT_EQ(ExtractValue(R"({"error_value":"a\"b","x":"y"})", "error_value"), R"(a\"b)");
}

TEST(ExtractValueTest, MalformedBodiesGiveEmptyValues) {
  EXPECT_EQ(ExtractValue("", "dev_id"), "");
  EXPECT_EQ(ExtractValue(R"({"dev_id" "x":"y"})", "dev_id"), "");      // no colon after the key
  EXPECT_EQ(ExtractValue(R"({"dev_id":12,"x":"y"})", "dev_id"), "");   // not a string
  EXPECT_EQ(ExtractValue(R"({"dev_id":"AB)", "dev_id"), "");           // never closed
  EXPECT_EQ(ExtractValue("dev_id:\"AB\"", "dev_id"), "");              // unquoted key
  EXPECT_EQ(ExtractValue(R"({"dev_id":"AB\)", "dev_id"), "");          // ends inside an escape
  constexpr char kWithZero[] = "{\"dev_id\":\"A\0B\"}";
  EXPECT_EQ(ExtractValue(std::string(kWithZero, sizeof kWithZero - 1), "dev_id"), std::string("A\0B", 3));
}

TEST(ExtractValueTest, EventDefinitionRunsToTheEndOfItsRootElement) {
  const std::string body =
      R"({"ms_ver":"1","event_def":"<?xml version=\"1.0\"?>\r\n<config>\t<a/>\\</config>\r\n","agt_ver":"2"})";
  const std::string raw = ExtractValue(body, "event_def");
  EXPECT_EQ(raw, R"(<?xml version=\"1.0\"?>\r\n<config>\t<a/>\\</config>)");
  EXPECT_EQ(UnescapeEventDefinition(raw), "<?xml version=\"1.0\"?>\r\n<config>\t<a/>\\</config>");
  EXPECT_EQ(ExtractValue(body, "agt_ver"), "2");
}

TEST(ParseResponseTest, EachKindReadsItsKeys) {
  WebApiResponse response;
  ParseWebApiResponse(response, kRequestRegistrationData, 200,
                      R"({"dev_id":"D","dev_id_changed":"1","mac_adr_changed":"1","ms_ver":"9","error_id":"4000"})");
  EXPECT_EQ(response.kind, 1);
  EXPECT_EQ(response.status, 200u);
  EXPECT_EQ(response.dev_id, "D");
  EXPECT_EQ(response.dev_id_changed, "1");
  EXPECT_EQ(response.mac_adr_changed, "1");
  EXPECT_EQ(response.ms_ver, "");     // not a key of this kind
  EXPECT_EQ(response.error_id, "");   // a success carries no error

  ParseWebApiResponse(response, kRequestLatestSoftware, 200,
                      R"({"ms_ver":"1.0","agt_ver":"1.2.0.1","ms_url":"https://h/m.zip","agt_url":"https://h/a.zip",)"
                      R"("event_def":"<config a=\"1\">\n</config>","dev_id":"D"})");
  EXPECT_EQ(response.dev_id, "");  // cleared, and not read for this kind
  EXPECT_EQ(response.ms_ver, "1.0");
  EXPECT_EQ(response.agt_ver, "1.2.0.1");
  EXPECT_EQ(response.ms_url, "https://h/m.zip");
  EXPECT_EQ(response.agt_url, "https://h/a.zip");
  EXPECT_EQ(response.event_def_raw, R"(<config a=\"1\">\n</config>)");
  EXPECT_EQ(response.event_def, "<config a=\"1\">\n</config>");

  ParseWebApiResponse(response, kRequestRegistration, 201,
                      R"({"dev_id":"E","dev_id_changed":"0","agt_daily_sec":"120","agt_status_sec":"30"})");
  EXPECT_EQ(response.ms_ver, "");
  EXPECT_EQ(response.dev_id, "E");
  EXPECT_EQ(response.dev_id_changed, "0");
  EXPECT_EQ(response.agt_daily_sec, "120");
  EXPECT_EQ(response.agt_status_sec, "30");
}

WebApiResponse ResultAnswer(int kind, std::uint32_t status, std::string errorId, std::string field = "mac_adr") {
  WebApiResponse response;
  response.kind = kind;
  response.status = status;
  response.error_id = std::move(errorId);
  response.error_field = std::move(field);
  return response;
}

const std::string kResultNotFound = "Orvaneサーバーが見つかりません。";
const std::string kResultNotFoundDetailed = kResultNotFound + "\nネットワークをご確認ください。";
const std::string kResultUndefined = "未定義のエラーです。";

// The table's rows are the code's own; what is tested is the detailed form, the field in the
// text, the placeholder and the fallback.
TEST(ResultMessageTest, DetailedFormsFieldsPlaceholdersAndTheFallback) {
  const struct {
    WebApiResponse answer;
    bool detailed;
    std::string text;
  } kCases[] = {
      {ResultAnswer(1, 404, "9999"), true, kResultNotFoundDetailed},
      {ResultAnswer(2, 404, ""), true, kResultNotFound},  // kind 2 has no advice
      {ResultAnswer(3, 401, "4010"), true, "ログイン認証に失敗しました。入力内容をご確認ください。"},
      {ResultAnswer(3, 400, "4007", "device.serial_no.value"), true, "製品シリアル番号が不正です。正しい値を入力してください。"},
      {ResultAnswer(3, 400, "4007", "serial"), false, "登録用パラメーターのマスターチェックでエラーが発生しました。"},
      {ResultAnswer(1, 400, "4000", "%s %d %n"), false, "登録の確認に必要な項目 \"%s %d %n\" が含まれていません。"},
      {ResultAnswer(1, 201, ""), false, kResultUndefined},  // only kind 3 knows 201
      {ResultAnswer(2, 409, "4090"), false, kResultUndefined},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(WebApiResultMessage(c.answer, c.detailed), c.text)
        << c.answer.kind << " " << c.answer.status << " " << c.answer.error_id << " " << c.answer.error_field;
  }
}

}  // namespace
}  // namespace orv
