// The Japanese result texts of the Web API's answers, for the event log and the settings program.
//
// One table row per request kind, HTTP status and error_id. The settings program shows the
// detailed form, which for some rows adds a second sentence or words the advice differently;
// the agent logs the short form.
#include <array>
#include <string>
#include <string_view>

#include "webapi/agent_ctrl_webapi.h"

namespace orv {

namespace {

constexpr std::string_view kUndefined = "未定義のエラーです。";
constexpr std::string_view kFieldPlaceholder = "%s";

// Which error_id a row answers.
enum class IdMatch : std::uint8_t {
  Any,                  // every error_id, also none
  Exact,                // error_id equal to the row's text
  ExactWithSerialField, // as Exact, and error_field names "serial_no"
};

struct ResultRow {
  int kind;
  std::uint32_t status;
  IdMatch match;
  std::string_view errorId;
  std::string_view shortText;
  std::string_view detailedText;  // empty: the short text
};

constexpr int k1 = kRequestRegistrationData;
constexpr int k2 = kRequestLatestSoftware;
constexpr int k3 = kRequestRegistration;
constexpr IdMatch kAny = IdMatch::Any;
constexpr IdMatch kId = IdMatch::Exact;

constexpr std::string_view kServerNotFound = "Orvaneサーバーが見つかりません。";
constexpr std::string_view kServerNotFoundDetailed = "Orvaneサーバーが見つかりません。\nネットワークをご確認ください。";

// A row with a specific error_id comes before an Any row of the same kind and status, and a
// row with a condition on error_field before the one without: the first match wins.
constexpr std::array kRows = std::to_array<ResultRow>({
    {k1, 200, kAny, "", "正常終了", ""},
    {k1, 400, kId, "4000", "登録の確認に必要な項目 \"%s\" が含まれていません。", ""},
    {k1, 400, kId, "4002", "登録の確認に必要な項目 \"%s\" に値が指定されていません。", ""},
    {k1, 400, kId, "4004", "認証情報の桁数が一致しません。", ""},
    {k1, 400, kId, "4005", "認証情報に不正な文字が含まれています。", ""},
    {k1, 400, kId, "4006", "認証情報の形式が一致しません。", ""},
    {k1, 401, kId, "4012", "機器は登録されておりません。", ""},
    {k1, 401, kId, "4013", "同じ認証情報を持つ登録が複数検出されました(CODE=4013)。", ""},
    {k1, 404, kAny, "", kServerNotFound, kServerNotFoundDetailed},
    {k1, 405, kAny, "", "登録確認APIの実行に失敗しました。", ""},
    {k1, 500, kId, "5000", "サーバーで内部エラーが発生しました。", ""},
    {k1, 500, kId, "5001", "登録情報更新処理に失敗しました。", ""},

    {k2, 200, kAny, "", "正常終了", ""},
    {k2, 400, kId, "4000", "アップデート情報確認に必要な項目 \"%s\" が含まれていません。", ""},
    {k2, 400, kId, "4002", "アップデート情報確認に必要な項目 \"%s\" に値が指定されていません。", ""},
    {k2, 400, kId, "4004", "認証情報の桁数が一致しません。", ""},
    {k2, 400, kId, "4005", "認証情報に不正な文字が含まれています。", ""},
    {k2, 400, kId, "4006", "認証情報の形式が一致しません。", ""},
    {k2, 400, kId, "4007", "アップデート情報を取得できませんでした。", ""},
    {k2, 400, kId, "4008", "イベント定義ファイルを取得できませんでした。", ""},
    {k2, 401, kAny, "", "登録されていない製品です。", ""},
    {k2, 404, kAny, "", kServerNotFound, ""},
    {k2, 405, kAny, "", "アップデート情報確認APIの実行に失敗しました。", ""},
    {k2, 500, kAny, "", "サーバーで内部エラーが発生しました。", ""},

    {k3, 201, kAny, "", "正常終了", ""},
    {k3, 400, kId, "4000", "登録情報が指定されていません。", ""},
    {k3, 400, kId, "4001", "登録に必要な項目 \"%s\" が含まれていません。", ""},
    {k3, 400, kId, "4002", "登録に必要な項目 \"%s\" に値が指定されていません。", ""},
    {k3, 400, kId, "4004", "リクエストパラメーターの桁数が一致しません。", ""},
    {k3, 400, kId, "4005", "リクエストパラメーターに不正な文字が含まれています。", ""},
    {k3, 400, kId, "4006", "認証情報の形式が一致しません。", ""},
    {k3, 400, IdMatch::ExactWithSerialField, "4007", "製品シリアル番号が不正です。正しい値を入力してください。", ""},
    {k3, 400, kId, "4007", "登録用パラメーターのマスターチェックでエラーが発生しました。", ""},
    {k3, 401, kId, "4010", "Orvaneサービスへのログイン認証に失敗しました。",
     "ログイン認証に失敗しました。入力内容をご確認ください。"},
    {k3, 401, kId, "4011", "Orvaneサービスアカウントはログイン制限がかかっています。",
     "規定回数以上のログイン認証に失敗したため、現在ログイン制限がかかっています。\n"
     "Orvaneポータルよりパスワードの再設定を行ってください。"},
    {k3, 404, kAny, "", kServerNotFound, kServerNotFoundDetailed},
    {k3, 405, kAny, "", "登録APIの実行に失敗しました。", ""},
    {k3, 409, kId, "4090", "この製品は、既に別のアカウントに登録されています。",
     "別のアカウントで登録されています。入力内容をご確認ください。\n"
     "問題が解決しない場合は、サポート窓口へお問い合わせください。"},
    {k3, 409, kId, "4091", "同じ機器IDまたはMACアドレスで既に２台以上の機器が登録されています。",
     "同じ機器IDまたはMACアドレスで既に２台以上の機器が登録されています。"
     "問題が解決しない場合は、サポート窓口へお問い合わせください。"},
    {k3, 500, kId, "5000", "サーバーで内部エラーが発生しました。", ""},
    {k3, 500, kId, "5001", "情報の新規登録処理に失敗しました。", ""},
    {k3, 500, kId, "5002", "登録情報の更新に失敗しました(CODE=5002)。", ""},
    {k3, 500, kId, "5003", "登録情報の更新に失敗しました(CODE=5003)。", ""},
});

bool Matches(const ResultRow& row, const WebApiResponse& response) {
  if (row.kind != response.kind || row.status != response.status) return false;
  switch (row.match) {
    case IdMatch::Any:
      return true;
    case IdMatch::Exact:
      return response.error_id == row.errorId;
    case IdMatch::ExactWithSerialField:
      return response.error_id == row.errorId &&
             response.error_field.find("serial_no") != std::string::npos;
  }
  return false;
}

// The placeholder takes error_field as it stands: a "%" in it is text, not a format.
std::string WithField(std::string_view text, std::string_view field) {
  const std::size_t at = text.find(kFieldPlaceholder);
  if (at == std::string_view::npos) return std::string(text);
  std::string result(text.substr(0, at));
  result.append(field).append(text.substr(at + kFieldPlaceholder.size()));
  return result;
}

}  // namespace

std::string WebApiResultMessage(const WebApiResponse& response, bool detailed) {
  for (const ResultRow& row : kRows) {
    if (!Matches(row, response)) continue;
    const std::string_view text = detailed && !row.detailedText.empty() ? row.detailedText : row.shortText;
    return WithField(text, response.error_field);
  }
  return std::string(kUndefined);
}

std::string AgentCtrl_WebAPI::ResultMessage(bool detailed) const { return WebApiResultMessage(response_, detailed); }

}  // namespace orv
