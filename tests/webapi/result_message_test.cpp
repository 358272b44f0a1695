// The result texts: the detailed forms, the field placeholder and the fallback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webapi/agent_ctrl_webapi.h"

namespace orv {
namespace {

WebApiResponse Answer(int kind, std::uint32_t status, std::string errorId, std::string field = "mac_adr") {
  WebApiResponse response;
  response.kind = kind;
  response.status = status;
  response.error_id = std::move(errorId);
  response.error_field = std::move(field);
  return response;
}

const std::string kNotFound = "Orvaneサーバーが見つかりません。";
const std::string kNotFoundDetailed = kNotFound + "\nネットワークをご確認ください。";
const std::string kUndefined = "未定義のエラーです。";

// The table's rows are the code's own; what is tested is the detailed form, the field in the
// text and the fallback.
TEST(ResultMessageTest, TheDetailedFormDiffersOnlyWhereItAddsAdvice) {
  EXPECT_EQ(WebApiResultMessage(Answer(1, 404, "9999"), false), kNotFound);
  EXPECT_EQ(WebApiResultMessage(Answer(1, 404, "9999"), true), kNotFoundDetailed);
  EXPECT_EQ(WebApiResultMessage(Answer(2, 404, ""), true), kNotFound) << "kind 2 has no advice";
  EXPECT_EQ(WebApiResultMessage(Answer(3, 401, "4010"), true), "ログイン認証に失敗しました。入力内容をご確認ください。");
  EXPECT_EQ(WebApiResultMessage(Answer(1, 200, ""), true), "正常終了");
}

TEST(ResultMessageTest, SerialNumberRowNeedsTheFieldToNameIt) {
  EXPECT_EQ(WebApiResultMessage(Answer(3, 400, "4007", "serial_no"), false),
            "製品シリアル番号が不正です。正しい値を入力してください。");
  EXPECT_EQ(WebApiResultMessage(Answer(3, 400, "4007", "device.serial_no.value"), true),
            "製品シリアル番号が不正です。正しい値を入力してください。");
  EXPECT_EQ(WebApiResultMessage(Answer(3, 400, "4007", "serial"), false),
            "登録用パラメーターのマスターチェックでエラーが発生しました。");
}

TEST(ResultMessageTest, UnknownCombinationsFallBack) {
  EXPECT_EQ(WebApiResultMessage(Answer(1, 201, ""), false), kUndefined);  // only kind 3 knows 201
  EXPECT_EQ(WebApiResultMessage(Answer(3, 200, ""), false), kUndefined);
  EXPECT_EQ(WebApiResultMessage(Answer(1, 401, "4099"), false), kUndefined);
  EXPECT_EQ(WebApiResultMessage(Answer(1, 500, ""), true), kUndefined);
  EXPECT_EQ(WebApiResultMessage(Answer(2, 409, "4090"), false), kUndefined);
  EXPECT_EQ(WebApiResultMessage(Answer(0, 200, ""), false), kUndefined);
  EXPECT_EQ(WebApiResultMessage(Answer(4, 404, ""), false), kUndefined);
}

TEST(ResultMessageTest, PlaceholderTakesTheFieldAsText) {
  EXPECT_EQ(WebApiResultMessage(Answer(1, 400, "4000", "%s %d %n"), false),
            "登録の確認に必要な項目 \"%s %d %n\" が含まれていません。");
  EXPECT_EQ(WebApiResultMessage(Answer(3, 400, "4001", ""), false), "登録に必要な項目 \"\" が含まれていません。");
}

}  // namespace
}  // namespace orv
