// pipecheck: the agent's pipes through the real Win32 adapter, for the wine tier.
//
// One program plays both sides: the stand-in settings program serves its pipe and checks the
// PipeNotice that SendPipe delivers; the stand-in power manager sends "SVCPOWMGR_Hibernate" to
// the agent-side pipe thread while a stand-in controller answers the named events. Prints one
// line per check and exits 0 only when all pass. Every wait is bounded.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "os/win32/named_pipe_win32.h"
#include "os/win32/synchronization_win32.h"
#include "os/win32/system_info_win32.h"
#include "model/pipe_records.h"
#include "monitors/common/power_manager_pipe.h"
#include "service/send_pipe.h"

namespace {

using namespace orv;

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "PASS" : "FAIL", what);
  if (!ok) ++failures;
}

void CheckSettingsPipe(os::NamedPipes& pipes, os::SystemInfo& system) {
  service::SendPipe nobody(pipes, std::string(service::kSettingsPipeName) + "_NONE");
  Check(!nobody.Send(std::vector<std::uint8_t>(4)) && nobody.LastError() == 2 &&
            nobody.ErrorText() == service::kSendPipeOpenFailed,
        "send without a settings program fails with code 2");

  auto server = pipes.CreateServer(service::kSettingsPipeName);
  Check(static_cast<bool>(server), "settings pipe created");
  if (!server) return;
  std::vector<std::uint8_t> received;
  std::thread peer([&] {
    if (server->WaitForClient(10000) != os::kSuccess) return;
    while (received.size() < service::notice_layout::kSize) {
      std::vector<std::uint8_t> part;
      if (server->Read(part, 4096, 10000) != os::kSuccess || part.empty()) break;
      received.insert(received.end(), part.begin(), part.end());
    }
  });
  const service::PipeNoticeBytes notice =
      service::SerializePipeNotice({1, "Update OK"}, system);
  service::SendPipe sender(pipes, std::string(service::kSettingsPipeName));
  Check(sender.Send(notice) && sender.LastError() == 0, "PipeNotice sent");
  peer.join();
  Check(received == std::vector<std::uint8_t>(notice.begin(), notice.end()),
        "settings program received the 260-byte PipeNotice");
}

std::string AskPowerPipe(os::NamedPipes& pipes, std::string_view message) {
  std::unique_ptr<os::PipeEnd> client;
  for (int i = 0; i < 100 && !client; ++i) {
    client = pipes.Connect(service::kPowerManagerPipeName, 100).take();
    if (!client) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!client) return "<no pipe>";
  if (client->Write(service::PowerManagerText(message)) != os::kSuccess) return "<write failed>";
  std::vector<std::uint8_t> answer;
  if (client->Read(answer, 512, 40000) != os::kSuccess) return "<no answer>";
  std::string text;
  for (std::size_t i = 0; i + 1 < answer.size(); i += 2) text.push_back(static_cast<char>(answer[i]));
  return text;
}

void CheckPowerManagerPipe(os::NamedPipes& pipes, os::Synchronization& sync) {
  auto stop = sync.NewEvent(os::EventReset::Manual, "");
  auto notification = sync.NewEvent(os::EventReset::Manual, service::kPowerNotificationEvent);
  Check(stop && notification, "events created");
  if (!stop || !notification) return;
  std::thread agent([&] { service::RunPowerManagerPipe(pipes, sync, *stop, {30000, 200, 200}); });
  std::thread controller([&] {
    os::Event* const events[] = {notification.get()};
    if (sync.WaitAny(events, 20000) != 0) return;
    notification->Reset();
    if (auto returned = sync.OpenNamedEvent(service::kPowerNotificationReturnEvent)) {
      returned->Set();
    }
  });
  Check(AskPowerPipe(pipes, "SVCPOWMGR_Hibernate") == "SVCPOWMGR_Hibernate",
        "power manager: SVCPOWMGR_Hibernate answered after the controller reported");
  controller.join();
  Check(AskPowerPipe(pipes, "SVCPOWMGR_Other") == "SVCPOWMGR_HibernateNotificationError",
        "power manager: another message answered with the error");
  stop->Set();
  agent.join();
  auto late = pipes.Connect(service::kPowerManagerPipeName, 0);
  Check(!late && late.error() == 2, "power-manager pipe gone after stop");
}

}  // namespace

int wmain() {
  win32::Win32NamedPipes pipes;
  win32::Win32Synchronization sync;
  win32::Win32SystemInfo system;
  CheckSettingsPipe(pipes, system);
  CheckPowerManagerPipe(pipes, sync);
  std::printf("%s\n", failures == 0 ? "ALL PASS" : "SOME FAILED");
  return failures == 0 ? 0 : 1;
}
