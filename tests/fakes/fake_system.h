// System facts, the console and the fatal end, as a test sets and observes them.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "os/process_control.h"
#include "os/system_info.h"

namespace orv::fakes {

class FakeSystemInfo final : public os::SystemInfo {
 public:
  std::string ExecutablePath() override { return executablePath; }
  std::string ComputerName() override { return computerName; }
  std::string ErrorText(os::OsError code) override {
    const auto it = errorTexts.find(code);
    return it == errorTexts.end() ? std::string() : it->second;
  }

  // The fake's ANSI code page is UTF-8 (a code page Windows also offers), so texts pass as they are.
  std::string AnsiToUtf8(std::span<const std::uint8_t> bytes) override {
    return std::string(bytes.begin(), bytes.end());
  }
  std::vector<std::uint8_t> Utf8ToAnsi(std::string_view text) override {
    return std::vector<std::uint8_t>(text.begin(), text.end());
  }

  bool IsNetworkAlive() override {
    ++networkQuestions;
    return networkAlive;
  }

  bool networkAlive = true;
  int networkQuestions = 0;
  std::string executablePath = "C:\\orvsvc\\ORVSVC.exe";
  std::string computerName = "NAS-0001";
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

  std::string Console() const {
    std::lock_guard lock(mutex_);
    return console_;
  }

 private:
  mutable std::mutex mutex_;
  std::string console_;
};

}  // namespace orv::fakes
