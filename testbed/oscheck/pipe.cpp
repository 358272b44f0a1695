// oscheck pipe: the agent's pipes through the real Win32 adapter, for the wine tier.
//
// One program plays both sides: the stand-in settings program serves its pipe and checks the
// PipeNotice that SendPipe delivers; the stand-in power manager sends "SVCPOWMGR_Hibernate" to
// the agent-side pipe thread while a stand-in controller answers the named events. It also
// reads back what Wine shows of the agent's protections: the power-manager pipe's instance
// count and first-instance rule, a client dropped and the next one served on the same
// instance, the access list of a protected file written and renamed as "config.ini" is, and
// the owner of a named event found under its name. Prints one line per check and exits 0
// only when all pass. Every wait is bounded.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "os/object_security.h"
#include "os/win32/event_reporter_win32.h"
#include "os/win32/file_system_win32.h"
#include "os/win32/named_pipe_win32.h"
#include "os/win32/synchronization_win32.h"
#include "os/win32/system_info_win32.h"
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"
#include "model/pipe_records.h"
#include "platform/agent_event_log.h"
#include "monitors/common/power_manager_pipe.h"
#include "service/send_pipe.h"


namespace {

using namespace orv;

int failures = 0;

// The agent's pipe thread may not be listening yet: ask again for up to five seconds.
template <typename Connect>
auto Retried(Connect connect) {
  auto end = connect();
  for (int i = 0; i < 100 && !end; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50))) end = connect();
  return end;
}

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "PASS" : "FAIL", what);
  if (!ok) ++failures;
}

void CheckSettingsPipe(os::NamedPipes& pipes, os::SystemInfo& system) {
  service::SendPipe nobody(pipes, std::string(service::kSettingsPipeName) + "_NONE");
  Check(!nobody.Send(std::vector<std::uint8_t>(4)) && nobody.LastError() == 2 &&
            nobody.ErrorText() == service::kSendPipeOpenFailed, "send without a settings program fails with code 2");
  auto server = pipes.CreateServer(service::kSettingsPipeName);
  if (!server) return Check(false, "settings pipe created");
  std::vector<std::uint8_t> received;
  std::thread peer([&] {
    if (server->WaitForClient(10000) != os::kSuccess) return;
    while (received.size() < service::notice_layout::kSize) {
      std::vector<std::uint8_t> part;
      if (server->Read(part, 4096, 10000) != os::kSuccess || part.empty()) break;
      received.insert(received.end(), part.begin(), part.end());
    }
  });
  const service::PipeNoticeBytes notice = service::SerializePipeNotice({1, "Update OK"}, system);
  service::SendPipe sender(pipes, std::string(service::kSettingsPipeName));
  const bool sent = sender.Send(notice) && sender.LastError() == 0;
  peer.join();
  Check(sent && std::ranges::equal(received, notice), "settings program received the 260-byte PipeNotice");
}

// What a client of the agent's power-manager pipe can read of it, and that the agent serves
// the next client on the same instance after this one leaves.
void CheckPowerPipeProtection(os::NamedPipes& pipes) {
  const std::wstring name = win32::Wide(service::kPowerManagerPipeName);
  win32::UniqueFileHandle client = Retried([&] {
    return win32::UniqueFileHandle(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  });
  DWORD flags = 0;
  DWORD instances = 0;
  Check(client && ::GetNamedPipeInfo(client.get(), &flags, nullptr, nullptr, &instances) && instances == 1 &&
            (flags & PIPE_TYPE_MESSAGE) == 0,
        "power-manager pipe: one instance, byte mode");
  os::PipeServerOptions options;
  options.securityDescriptor = os::kSystemAndAdminsPipe;
  options.firstInstance = options.rejectRemoteClients = true;
  Check(!pipes.CreateServerWith(service::kPowerManagerPipeName, options), "power-manager pipe: no second instance");
  client.reset();  // leaves without a word: the agent disconnects and waits for the next
}

// "config.ini" as the agent writes it: a new protected file beside it, renamed over the old.
void CheckProtectedFile() {
  wchar_t tempFolder[MAX_PATH] = {};
  (void)::GetTempPathW(MAX_PATH, tempFolder);
  const std::string folder = win32::Narrow(tempFolder) + "pipecheck-secured", config = folder + "\\config.ini";
  const std::string temporary = config + ".tmp";
  win32::Win32FileSystem files;
  (void)files.MakeDirectory(folder);
  const std::vector<std::uint8_t> oldBytes{'o', 'l', 'd'};
  const std::vector<std::uint8_t> newBytes{0xEF, 0xBB, 0xBF, 'e', 'w', '=', '='};
  Check(files.WriteWholeFile(config, oldBytes, os::CreateMode::ReplaceExisting) == os::kSuccess &&
            files.WriteNewSecuredFile(temporary, newBytes, os::kSystemAndAdminsFile) == os::kSuccess,
        "an old config.ini, the new one written protected beside it");
  Check(files.WriteNewSecuredFile(temporary, newBytes, os::kSystemAndAdminsFile) == os::kErrorFileExists,
        "a protected file is only ever a new one");
  std::vector<std::uint8_t> content;
  Check(files.ReplaceWith(temporary, config) == os::kSuccess && files.ReadWholeFile(config, content) == os::kSuccess &&
            content == newBytes && !files.FileExists(temporary),
        "renamed over the old one: config.ini holds the new bytes, nothing is left beside it");
  // Windows keeps the list the file was created with; Wine 8 answers with one made from the
  // Unix owner and mode. What both must give: Users, Everyone and Authenticated Users get nothing.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  LPWSTR text = nullptr;
  const bool read = ::GetNamedSecurityInfoW(win32::Wide(config).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                           DACL_SECURITY_INFORMATION, &text, nullptr);
  const std::string sddl = read ? win32::Narrow(text) : "";
  Check(read && std::ranges::none_of(std::initializer_list<const char*>{";WD)", ";BU)", ";AU)", ";IU)", ";S-1-5-32-545)", ";S-1-1-0)"},
                                     [&](const char* other) { return sddl.find(other) != std::string::npos; }),
        "config.ini: nothing for Users, Everyone or Authenticated Users");
  ::LocalFree(text);
  ::LocalFree(descriptor);
  (void)files.RemoveFile(config);
  (void)files.RemoveEmptyDirectory(folder);
}

// A named event found under its name reports its owner.
void CheckNamedEventOwner(os::Synchronization& sync) {
  std::optional<std::string> owner;
  auto first = sync.NewSecuredEvent(os::EventReset::Manual, "pipecheck_owned", os::kSystemAndAdminsEvent, owner);
  Check(first && !owner, "a new protected event has no earlier owner");
  Check(sync.NewSecuredEvent(os::EventReset::Manual, "pipecheck_owned", os::kSystemAndAdminsEvent, owner) && owner &&
            owner->starts_with("S-1-"), "an existing event names its owner");
}

std::string AskPowerPipe(os::NamedPipes& pipes, std::string_view message) {
  const auto client = Retried([&] { return pipes.Connect(service::kPowerManagerPipeName, 100).take(); });
  if (!client) return "<no pipe>";
  if (client->Write(service::PowerManagerText(message)) != os::kSuccess) return "<write failed>";
  std::vector<std::uint8_t> answer;
  if (client->Read(answer, 512, 40000) != os::kSuccess) return "<no answer>";
  std::string text;
  for (std::size_t i = 0; i + 1 < answer.size(); i += 2) text.push_back(static_cast<char>(answer[i]));
  return text;
}

void CheckPowerManagerPipe(os::NamedPipes& pipes, os::Synchronization& sync, os::SystemInfo& system) {
  win32::Win32EventReporter reporter;
  const AgentEventLog log(reporter, system);
  auto stop = sync.NewEvent(os::EventReset::Manual, "");
  auto notification = sync.NewEvent(os::EventReset::Manual, service::kPowerNotificationEvent);
  if (!stop || !notification) return Check(false, "events created");
  std::thread agent([&] { service::RunPowerManagerPipe(pipes, sync, *stop, log, {30000, 200, 200}); });
  std::thread controller([&] {
    os::Event* const events[] = {notification.get()};
    if (sync.WaitAny(events, 20000) != 0) return;
    notification->Reset();
    if (auto returned = sync.OpenNamedEvent(service::kPowerNotificationReturnEvent)) returned->Set();
  });
  Check(AskPowerPipe(pipes, "SVCPOWMGR_Hibernate") == "SVCPOWMGR_Hibernate",
        "power manager: SVCPOWMGR_Hibernate answered after the controller reported");
  controller.join();
  CheckPowerPipeProtection(pipes);
  Check(AskPowerPipe(pipes, "SVCPOWMGR_Other") == "SVCPOWMGR_HibernateNotificationError",
        "power manager: after a silent client, another message answered with the error");
  stop->Set();
  agent.join();
  auto late = pipes.Connect(service::kPowerManagerPipeName, 0);
  Check(!late && late.error() == 2, "power-manager pipe gone after stop");
}

}  // namespace

int PipeCheck(int, wchar_t**) {
  win32::Win32NamedPipes pipes;
  win32::Win32Synchronization sync;
  win32::Win32SystemInfo system;
  CheckSettingsPipe(pipes, system);
  CheckPowerManagerPipe(pipes, sync, system);
  CheckProtectedFile();
  CheckNamedEventOwner(sync);
  std::puts(failures == 0 ? "ALL PASS" : "SOME FAILED");
  return failures == 0 ? 0 : 1;
}
