#include "os/win32/process_launcher_win32.h"

#include <algorithm>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;

class Win32ChildProcess final : public os::ChildProcess {
 public:
  Win32ChildProcess(UniqueKernelHandle process, UniqueFileHandle output)
      : process_(std::move(process)), output_(std::move(output)) {}

  bool Wait(std::uint32_t timeoutMs) override {
    return ::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
  }

  std::vector<std::uint8_t> ReadAvailableOutput() override {
    std::vector<std::uint8_t> bytes;
    DWORD available = 0;
    if (!output_ || !::PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr) ||
        available == 0) {
      return bytes;
    }
    // Once, not until the pipe is empty: a child writing without end would keep us here.
    bytes.resize(std::min(available, kPipeBufferBytes));
    DWORD read = 0;
    if (!::ReadFile(output_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
    bytes.resize(read);
    return bytes;
  }

  std::optional<std::uint32_t> ExitCode() override {
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
    // A program may also end with the code that means "still active": the wait tells them apart.
    if (code == STILL_ACTIVE && ::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return std::nullopt;
    return code;
  }

  void Terminate(std::uint32_t exitCode) override { ::TerminateProcess(process_.get(), exitCode); }

 private:
  UniqueKernelHandle process_;
  UniqueFileHandle output_;
};

}  // namespace

os::OsResult<os::ChildProcess> Win32ProcessLauncher::Launch(const os::ProcessStart& start,
                                                            os::LaunchStep& failedAt) {
  UniqueFileHandle readEnd;
  UniqueFileHandle writeEnd;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (start.hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  if (start.captureOutput) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inheritable, kPipeBufferBytes)) {
      failedAt = os::LaunchStep::OutputPipe;
      return ::GetLastError();
    }
    // Only the child's end is inherited; ours must not keep the pipe open in the child.
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
  }

  std::wstring commandLine = Wide(start.commandLine);  // CreateProcessW may write into it
  const std::wstring folder = Wide(start.workingFolder);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, start.captureOutput,
                        start.hidden ? CREATE_NO_WINDOW : 0, nullptr, folder.empty() ? nullptr : folder.c_str(),
                        &startup, &info)) {
    failedAt = os::LaunchStep::Process;
    return ::GetLastError();
  }
  UniqueKernelHandle thread(info.hThread);
  // Closing our copy of the write end lets the pipe report the end of the output.
  writeEnd.reset();
  return std::make_unique<Win32ChildProcess>(UniqueKernelHandle(info.hProcess), std::move(readEnd));
}

}  // namespace orv::win32
