#include "monitors/common/power_manager_pipe.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "os/object_security.h"
#include "platform/trusted_event.h"

namespace orv::service {
namespace {

constexpr std::size_t kReadLimit = 512;

bool IsSet(os::Synchronization& sync, os::Event& event) {
  os::Event* const events[] = {&event};
  return sync.WaitAny(events, 0) == 0;
}

// Waits up to `ms` unless stopped; true when the stop event was set.
bool StopWithin(os::Synchronization& sync, os::Event& stop, std::uint32_t ms) {
  os::Event* const events[] = {&stop};
  return sync.WaitAny(events, ms) == 0;
}

bool BeginsWithHibernate(const std::vector<std::uint8_t>& bytes) {
  const std::vector<std::uint8_t> expected = PowerManagerText(kHibernateMessage);
  return bytes.size() >= expected.size() &&
         std::equal(expected.begin(), expected.end(), bytes.begin());
}

enum class HandshakeEnd { ReportWritten, NoReport, Stopped };

// Signals the controller and waits for its answer.
HandshakeEnd Handshake(os::Synchronization& sync, os::Event& stop, os::Event& returned,
                       std::uint32_t returnWaitMs) {
  // A return the controller set after an earlier announcement had already timed out must not
  // answer this one.
  returned.Reset();
  const os::OsResult<os::Event> notification = sync.OpenNamedEvent(kPowerNotificationEvent);
  if (!notification) return HandshakeEnd::NoReport;
  notification->Set();
  // The stop event ends the wait too, so stopping the monitoring loop never waits 30 s here.
  // The wait may have consumed it (an auto-reset stop event), so the stop is passed on.
  os::Event* const events[] = {&returned, &stop};
  const std::uint32_t woken = sync.WaitAny(events, returnWaitMs);
  returned.Reset();
  if (woken == 0) return HandshakeEnd::ReportWritten;
  return woken == 1 ? HandshakeEnd::Stopped : HandshakeEnd::NoReport;
}

}  // namespace

std::vector<std::uint8_t> PowerManagerText(std::string_view ascii) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(ascii.size() * 2);
  for (const char c : ascii) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

void RunPowerManagerPipe(os::NamedPipes& pipes, os::Synchronization& sync, os::Event& stop,
                         const AgentEventLog& log, const PowerManagerPipeTiming& timing) {
  const os::OsResult<os::Event> returned =
      NewAgentNamedEvent(sync, log, os::EventReset::Manual, kPowerNotificationReturnEvent);
  if (!returned) return;

  std::unique_ptr<os::PipeServer> server;
  os::OsError error = os::kSuccess;
  bool connected = false;
  // One instance serves every client in turn: closing it between clients would leave the name
  // free for anyone to take until it is created again.
  const auto dropClient = [&] {
    server->Disconnect();
    connected = false;
  };
  const auto dropServer = [&] {
    server.reset();  // disconnects and closes
    connected = false;
  };
  os::PipeServerOptions options;
  options.securityDescriptor = os::kSystemAndAdminsPipe;
  options.rejectRemoteClients = true;
  options.firstInstance = true;

  while (!IsSet(sync, stop)) {
    if (!server) {
      server = pipes.CreateServerWith(kPowerManagerPipeName, options).take();
      if (!server) {
        if (StopWithin(sync, stop, timing.retryMs)) break;
        continue;
      }
    }
    if (!connected) {
      error = server->WaitForClientUnless(stop, timing.clientWaitMs);
      if (error == os::kErrorSemTimeout) continue;
      if (error != os::kSuccess) {
        // The instance itself is in doubt (an operation on it never came back): a new one.
        dropServer();
        continue;
      }
      connected = true;
    }
    std::vector<std::uint8_t> message;
    error = server->Read(message, kReadLimit, timing.pollMs);
    if (error == os::kErrorSemTimeout) continue;
    if (error != os::kSuccess) {
      dropClient();
      continue;
    }
    if (message.empty()) continue;

    const HandshakeEnd end = BeginsWithHibernate(message)
                                 ? Handshake(sync, stop, *returned, timing.returnWaitMs)
                                 : HandshakeEnd::NoReport;
    const std::vector<std::uint8_t> answer = PowerManagerText(
        end == HandshakeEnd::ReportWritten ? kHibernateMessage : kHibernateErrorAnswer);
    if (server->Write(answer) != os::kSuccess) dropClient();
    if (end == HandshakeEnd::Stopped) break;
  }
  if (server) dropServer();
}

}  // namespace orv::service
