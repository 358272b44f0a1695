// System facts, the console and the fatal end, as a test sets and observes them.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "os/process_control.h"
#include "os/system_info.h"
#include "platform/text_encoding.h"

namespace orv::fakes {

// Code page 932 through the C library's converter; nullopt from an exact conversion that
// would need a stand-in.
std::optional<std::vector<std::uint8_t>> Utf8ToCp932(std::string_view text, bool exact);
std::string Cp932ToUtf8(std::span<const std::uint8_t> bytes);

class FakeSystemInfo final : public os::SystemInfo {
 public:
  std::string ExecutablePath() override { return executablePath; }
  std::string SystemDirectory() override { return systemDirectory; }
  std::string ComputerName() override { return computerName; }
  std::string ErrorText(os::OsError code) override {
    const auto it = errorTexts.find(code);
    return it == errorTexts.end() ? std::string() : it->second;
  }
  std::string ModuleErrorText(std::string_view module, os::OsError code) override {
    const auto it = moduleErrorTexts.find({AsciiLower(module), code});
    return it == moduleErrorTexts.end() ? ErrorText(code) : it->second;
  }

  // The fake's ANSI code page is UTF-8 (a code page Windows also offers); with `codePage932` it
  // is Japanese Windows' code page 932, best fit included ("¥" gives the backslash byte) and
  // "?" for what it lacks. Like the adapter, the text goes through UTF-16 first, so every byte
  // of a broken sequence (half a character) becomes U+FFFD: "?" in code page 932.
  std::string AnsiToUtf8(std::span<const std::uint8_t> bytes) override {
    if (codePage932) return Cp932ToUtf8(bytes);
    return std::string(bytes.begin(), bytes.end());
  }
  std::vector<std::uint8_t> Utf8ToAnsi(std::string_view text) override {
    const std::string whole = Utf16ToUtf8(Utf8ToUtf16(text));
    if (codePage932) return Utf8ToCp932(whole, /*exact=*/false).value();
    return std::vector<std::uint8_t>(whole.begin(), whole.end());
  }
  bool Utf8ToAnsiExact(std::string_view text, std::vector<std::uint8_t>& bytes) override {
    const std::string whole = Utf16ToUtf8(Utf8ToUtf16(text));
    if (!codePage932) {
      bytes.assign(whole.begin(), whole.end());
      return true;
    }
    auto exact = Utf8ToCp932(whole, /*exact=*/true);
    bytes = exact.value_or(std::vector<std::uint8_t>{});
    return exact.has_value();
  }

  bool IsNetworkAlive() override { return networkAlive; }

  bool codePage932 = false;
  bool networkAlive = true;
  std::string executablePath = "C:\\orvsvc\\ORVSVC.exe";
  std::string systemDirectory = "C:\\Windows\\system32";
  std::string computerName = "NAS-0001";
  // By lower-cased module name and code; what is missing falls back to errorTexts.
  std::map<std::pair<std::string, os::OsError>, std::string> moduleErrorTexts = {
      {{"winhttp.dll", 12029}, "サーバーへの接続を確立できませんでした"},
      {{"winhttp.dll", 12002}, "操作がタイムアウトしました"},
  };
  std::map<os::OsError, std::string> errorTexts = {
      {os::kErrorFileNotFound, "指定されたファイルが見つかりません。"},
      {os::kErrorAccessDenied, "アクセスが拒否されました。"},
      {os::kErrorServiceDoesNotExist, "指定されたサービスはインストールされたサービスとして存在しません。"},
      {os::kErrorServiceExists, "指定されたサービスは既に存在します。"},
  };
};

// Thrown by FatalExit so a test can observe the process end on its own thread.
struct FatalExitCalled {
  std::uint32_t code;
};

class FakeProcessControl final : public os::ProcessControl {
 public:
  void PrintToConsole(std::string_view text) override {
    std::lock_guard lock(mutex_);
    console_.append(text);
  }
  [[noreturn]] void FatalExit(std::uint32_t code) override { throw FatalExitCalled{code}; }

  // How often the library search was narrowed.
  os::OsError LoadLibrariesFromSystemFolderOnly() override {
    std::lock_guard lock(mutex_);
    ++librarySearchNarrowed;
    return os::kSuccess;
  }
  int librarySearchNarrowed = 0;

  std::string Console() const {
    std::lock_guard lock(mutex_);
    return console_;
  }

 private:
  mutable std::mutex mutex_;
  std::string console_;
};

}  // namespace orv::fakes
