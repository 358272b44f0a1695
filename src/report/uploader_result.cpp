#include "report/uploader_result.h"

#include <array>

namespace orv {
namespace {

struct ExitCodeRow {
  std::uint32_t code;
  std::string_view message;
  bool held;
};

// Codes 16 to 20 name the command line where the text has "%s".
constexpr std::array<ExitCodeRow, 34> kExitCodes{{
    {16, "--rcount に指定された値が不正です(%s)。", true},
    {17, "--rseconds に指定された値が不正です(%s)。", true},
    {18, "--type に指定された値が不正です(%s)。", true},
    {19, "--poolpath に指定された値が不正です(%s)。", true},
    {20, "--configpath に指定された値が不正です(%s)。", true},
    {32, "設定ファイルの読み込みに失敗しました。", true},
    {33, "設定ファイルのデコードに失敗しました。", true},
    {34, "設定ファイルのフォーマットが不正です。", true},
    {35, "設定ファイルに識別情報が見つかりません(CODE=35)。", true},
    {36, "設定ファイルに識別情報が見つかりません(CODE=36)。", true},
    {40, "設定ファイルの保存に失敗しました。", true},
    {64, "サーバーへの接続に失敗しました(CODE=64)。", false},
    {72, "サーバーへの接続に失敗しました(CODE=72)。", false},
    {96, "データの送信に必要なパラメータが指定されていません。", false},
    {97, "データの送信に必要なパラメータが不足しています。", false},
    {98, "データの送信に必要なパラメータに値が指定されています。", false},
    {99, "データの送信に必要なパラメータに不正な値が指定されています。", false},
    {104, "データ送信のための認証に失敗しました。本製品は登録されていません。", false},
    {105, "データ送信のための認証に失敗しました(CODE=105)。", false},
    {106, "データ送信のための認証に失敗しました(CODE=106)。", false},
    {107, "認証キーの取得に失敗しました(CODE=107)。", false},
    {108, "認証キーの取得に失敗しました(CODE=108)。", false},
    {112, "Orvaneサーバーが見つかりません。", false},
    {120, "データ送信APIの実行に失敗しました。", false},
    {128, "サーバーの内部エラーが発生しました。", false},
    {129, "システムマスタからの定数情報の取得に失敗しました。", false},
    {130, "Orvaneサーバーへの接続に失敗しました。", false},
    {159, "サーバーからのレスポンスが不正です。", false},
    {160, "データ送信のための認証に失敗しました。", false},
    {161, "データの送信に失敗しました。", false},
    {192, "データファイルの読み込みに失敗しました。", true},
    {193, "データファイルの削除に失敗しました。", true},
    {194, "データファイルの名前変更に失敗しました。", true},
    {255, "予期しないエラーが発生しました。", true},
}};
constexpr std::string_view kUndefinedError = "未定義のエラーです。";

std::string EventText(std::string_view message) {
  std::string text = "アップローダーでエラーが発生しました。\n[";
  text += message;
  text += "]";
  return text;
}

}  // namespace

UploaderExitMeaning DescribeUploaderExit(std::string_view commandLine, std::uint32_t exitCode) {
  UploaderExitMeaning meaning;
  if (exitCode == 0 || exitCode == 1 || exitCode == 8) {
    meaning.success = true;
    return meaning;
  }
  meaning.message = kUndefinedError;
  for (const ExitCodeRow& row : kExitCodes) {
    if (row.code != exitCode) continue;
    meaning.held = row.held;
    meaning.message = row.message;
    // Filled by hand, not by a format: a command line may hold "%" of its own.
    if (const std::size_t at = meaning.message.find("%s"); at != std::string::npos) {
      meaning.message.replace(at, 2, commandLine);
    }
    break;
  }
  return meaning;
}

void ReportUploaderResult(const AgentEventLog& log, HeldUploaderError& held,
                          std::string_view commandLine, std::uint32_t exitCode) {
  UploaderExitMeaning meaning = DescribeUploaderExit(commandLine, exitCode);
  if (meaning.success) {
    if (const std::string earlier = held.Take(); !earlier.empty()) {
      log.Error(event_id::kUploaderFailed, EventText(earlier));
    }
    return;
  }
  if (meaning.held) {
    held.Hold(std::move(meaning.message));
  } else {
    log.Error(event_id::kUploaderFailed, EventText(meaning.message));
  }
}

}  // namespace orv
