#include "os/win32/process_launcher_win32.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;

// --- Handles a child inherits ---

// Owns an initialised attribute list in its own storage.
class AttributeList {
 public:
  AttributeList() = default;
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;
  ~AttributeList() {
    if (initialised_) ::DeleteProcThreadAttributeList(get());
  }
  os::OsError Initialise(DWORD count) {
    SIZE_T size = 0;
    (void)::InitializeProcThreadAttributeList(nullptr, count, 0, &size);  // asks the size only
    if (size == 0) return ::GetLastError();
    storage_.resize((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    if (!::InitializeProcThreadAttributeList(get(), count, 0, &size)) return ::GetLastError();
    initialised_ = true;
    return os::kSuccess;
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()); }

 private:
  std::vector<std::uint64_t> storage_;
  bool initialised_ = false;
};

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
  STARTUPINFOEXW startupEx{};
  STARTUPINFOW& startup = startupEx.StartupInfo;
  startup.cb = sizeof startup;
  if (start.hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  // A child inherits only the handles listed here, never every inheritable handle the agent
  // holds at that moment (such as the pipe another thread is making for its own child, which
  // would then never report its end, or whatever a library left inheritable).
  std::vector<HANDLE> inherited;
  AttributeList attributes;
  if (start.captureOutput) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inheritable, kPipeBufferBytes)) {
      failedAt = os::LaunchStep::OutputPipe;
      return ::GetLastError();
    }
    // Only the child's end is inherited; ours must not keep the pipe open in the child.
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    inherited.push_back(writeEnd.get());
    // The agent's own input goes along only when it can be inherited at all (a service has none).
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD inputFlags = 0;
    if (input != nullptr && input != INVALID_HANDLE_VALUE && ::GetHandleInformation(input, &inputFlags) &&
        (inputFlags & HANDLE_FLAG_INHERIT) != 0) {
      startup.hStdInput = input;
      inherited.push_back(input);
    }
    if (const os::OsError error = attributes.Initialise(1); error != os::kSuccess) {
      failedAt = os::LaunchStep::Process;
      return error;
    }
    if (!::UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                     inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
      failedAt = os::LaunchStep::Process;
      return ::GetLastError();
    }
    startupEx.lpAttributeList = attributes.get();
    startup.cb = sizeof startupEx;
  }

  std::wstring commandLine = Wide(start.commandLine);  // CreateProcessW may write into it
  const std::wstring folder = Wide(start.workingFolder);
  // Without a list nothing is inherited at all; a plain start stays as any program's would be.
  const DWORD creationFlags =
      (start.hidden ? CREATE_NO_WINDOW : 0) | (inherited.empty() ? 0 : EXTENDED_STARTUPINFO_PRESENT);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, inherited.empty() ? FALSE : TRUE, creationFlags,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    failedAt = os::LaunchStep::Process;
    return ::GetLastError();
  }
  UniqueKernelHandle thread(info.hThread);
  // Closing our copy of the write end lets the pipe report the end of the output.
  writeEnd.reset();
  return std::make_unique<Win32ChildProcess>(UniqueKernelHandle(info.hProcess), std::move(readEnd));
}

}  // namespace orv::win32
