// The result texts: every row of the three tables, the detailed forms and the fallback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webapi/agent_ctrl_webapi.h"

namespace orv {
namespace {

struct Row {
  int kind;
  std::uint32_t status;
  std::string errorId;
  std::string shortText;
  std::string detailedText;  // empty: as the short text
};

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

// The rows as the cloud's documentation tables them; "%s" already filled with "mac_adr".
const std::vector<Row> kTable = {
    {1, 200, "", "正常終了", ""},
    {1, 400, "4000", "登録の確認に必要な項目 \"mac_adr\" が含まれていません。", ""},
    {1, 400, "4002", "登録の確認に必要な項目 \"mac_adr\" に値が指定されていません。", ""},
    {1, 400, "4004", "認証情報の桁数が一致しません。", ""},
    {1, 400, "4005", "認証情報に不正な文字が含まれています。", ""},
    {1, 400, "4006", "認証情報の形式が一致しません。", ""},
    {1, 401, "4012", "機器は登録されておりません。", ""},
    {1, 401, "4013", "同じ認証情報を持つ登録が複数検出されました(CODE=4013)。", ""},
    {1, 404, "9999", kNotFound, kNotFoundDetailed},
    {1, 405, "", "登録確認APIの実行に失敗しました。", ""},
    {1, 500, "5000", "サーバーで内部エラーが発生しました。", ""},
    {1, 500, "5001", "登録情報更新処理に失敗しました。", ""},
    {2, 200, "", "正常終了", ""},
    {2, 400, "4000", "アップデート情報確認に必要な項目 \"mac_adr\" が含まれていません。", ""},
    {2, 400, "4002", "アップデート情報確認に必要な項目 \"mac_adr\" に値が指定されていません。", ""},
    {2, 400, "4004", "認証情報の桁数が一致しません。", ""},
    {2, 400, "4005", "認証情報に不正な文字が含まれています。", ""},
    {2, 400, "4006", "認証情報の形式が一致しません。", ""},
    {2, 400, "4007", "アップデート情報を取得できませんでした。", ""},
    {2, 400, "4008", "イベント定義ファイルを取得できませんでした。", ""},
    {2, 401, "4012", "登録されていない製品です。", ""},
    {2, 404, "", kNotFound, ""},
    {2, 405, "4050", "アップデート情報確認APIの実行に失敗しました。", ""},
    {2, 500, "5003", "サーバーで内部エラーが発生しました。", ""},
    {3, 201, "", "正常終了", ""},
    {3, 400, "4000", "登録情報が指定されていません。", ""},
    {3, 400, "4001", "登録に必要な項目 \"mac_adr\" が含まれていません。", ""},
    {3, 400, "4002", "登録に必要な項目 \"mac_adr\" に値が指定されていません。", ""},
    {3, 400, "4004", "リクエストパラメーターの桁数が一致しません。", ""},
    {3, 400, "4005", "リクエストパラメーターに不正な文字が含まれています。", ""},
    {3, 400, "4006", "認証情報の形式が一致しません。", ""},
    {3, 400, "4007", "登録用パラメーターのマスターチェックでエラーが発生しました。", ""},
    {3, 401, "4010", "Orvaneサービスへのログイン認証に失敗しました。",
     "ログイン認証に失敗しました。入力内容をご確認ください。"},
    {3, 401, "4011", "Orvaneサービスアカウントはログイン制限がかかっています。",
     "規定回数以上のログイン認証に失敗したため、現在ログイン制限がかかっています。\n"
     "Orvaneポータルよりパスワードの再設定を行ってください。"},
    {3, 404, "", kNotFound, kNotFoundDetailed},
    {3, 405, "", "登録APIの実行に失敗しました。", ""},
    {3, 409, "4090", "この製品は、既に別のアカウントに登録されています。",
     "別のアカウントで登録されています。入力内容をご確認ください。\n"
     "問題が解決しない場合は、サポート窓口へお問い合わせください。"},
    {3, 409, "4091", "同じ機器IDまたはMACアドレスで既に２台以上の機器が登録されています。",
     "同じ機器IDまたはMACアドレスで既に２台以上の機器が登録されています。"
     "問題が解決しない場合は、サポート窓口へお問い合わせください。"},
    {3, 500, "5000", "サーバーで内部エラーが発生しました。", ""},
    {3, 500, "5001", "情報の新規登録処理に失敗しました。", ""},
    {3, 500, "5002", "登録情報の更新に失敗しました(CODE=5002)。", ""},
    {3, 500, "5003", "登録情報の更新に失敗しました(CODE=5003)。", ""},
};

TEST(ResultMessageTest, EveryRowInShortAndDetailedForm) {
  for (const Row& row : kTable) {
    SCOPED_TRACE(std::to_string(row.kind) + "/" + std::to_string(row.status) + "/" + row.errorId);
    const WebApiResponse answer = Answer(row.kind, row.status, row.errorId);
    EXPECT_EQ(WebApiResultMessage(answer, false), row.shortText);
    EXPECT_EQ(WebApiResultMessage(answer, true), row.detailedText.empty() ? row.shortText : row.detailedText);
  }
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
